// A window of "another application" for the capture tests and benchmarks:
// filled with one colour (or seeded noise), with the WM_CLASS, title, size
// and stacking asked for. Reports on standard output when it has been drawn.
//   --instance NAME --class NAME   its WM_CLASS
//   --title TEXT --colour #RRGGBB --size WxH --position X,Y
//   --frameless --above --noise    no decorations, kept above others, seeded noise
#include <QGuiApplication>
#include <QPainter>
#include <QRandomGenerator>
#include <QRasterWindow>
#include <QTimer>

#include <cstdio>

namespace {
class SampleWindow final : public QRasterWindow
{
public:
    SampleWindow(QColor colour, bool noise)
        : m_colour(colour)
        , m_noise(noise)
    {
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        if (m_noise) {
            QImage image(size(), QImage::Format_RGB32);
            QRandomGenerator random(7);
            for (int y = 0; y < image.height(); ++y) {
                auto *line = reinterpret_cast<quint32 *>(image.scanLine(y));
                for (int x = 0; x < image.width(); ++x)
                    line[x] = 0xff000000u | (random.generate() & 0xffffffu);
            }
            painter.drawImage(0, 0, image);
        } else {
            painter.fillRect(QRect(QPoint(0, 0), size()), m_colour);
        }
        // The first paint is announced as "ready <window id>"; the test then
        // waits for the colour on the screen.
        if (m_announced)
            return;
        m_announced = true;
        QTimer::singleShot(50, this, [this] {
            std::printf("ready %llu\n", static_cast<unsigned long long>(winId()));
            std::fflush(stdout);
        });
    }

private:
    QColor m_colour;
    bool m_noise;
    bool m_announced = false;
};
} // namespace

int main(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const auto value = [&arguments](const char *name, const char *fallback) {
        const qsizetype at = arguments.indexOf(QStringLiteral("--") + QLatin1String(name));
        return at >= 0 && at + 1 < arguments.size() ? arguments[at + 1] : QString::fromLatin1(fallback);
    };
    const auto isSet = [&arguments](const char *name) { return arguments.contains(QStringLiteral("--") + QLatin1String(name)); };

    // WM_CLASS is (RESOURCE_NAME, application name) for Qt windows on X11.
    qputenv("RESOURCE_NAME", value("instance", "sample").toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName(value("class", "Sample"));

    const QStringList size = value("size", "400x300").split(u'x');
    const QStringList position = value("position", "100,100").split(u',');
    SampleWindow window(QColor(value("colour", "#ff0000")), isSet("noise"));
    Qt::WindowFlags flags = Qt::Window;
    if (isSet("frameless"))
        flags |= Qt::FramelessWindowHint;
    if (isSet("above"))
        flags |= Qt::WindowStaysOnTopHint;
    window.setFlags(flags);
    window.setTitle(value("title", "Sample"));
    window.setGeometry(position.value(0).toInt(), position.value(1).toInt(), size.value(0).toInt(),
                       size.value(1).toInt());
    window.show();
    return app.exec();
}
