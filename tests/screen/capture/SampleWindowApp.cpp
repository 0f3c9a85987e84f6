// A window of "another application" for the capture tests and benchmarks:
// filled with one colour (or seeded noise), with the WM_CLASS, title, size
// and stacking asked for. Reports on standard output when it has been drawn.
#include <QCommandLineParser>
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
    // WM_CLASS is (RESOURCE_NAME, application name) for Qt windows on X11.
    QByteArray instance = "sample";
    for (int i = 1; i + 1 < argc; ++i) {
        if (qstrcmp(argv[i], "--instance") == 0)
            instance = argv[i + 1];
    }
    qputenv("RESOURCE_NAME", instance);
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);

    QCommandLineParser parser;
    const QCommandLineOption instanceOption("instance", "WM_CLASS instance", "name");
    const QCommandLineOption classOption("class", "WM_CLASS class", "name", "Sample");
    const QCommandLineOption titleOption("title", "window title", "text", "Sample");
    const QCommandLineOption colourOption("colour", "fill colour", "#rrggbb", "#ff0000");
    const QCommandLineOption sizeOption("size", "client size", "WxH", "400x300");
    const QCommandLineOption positionOption("position", "client position", "X,Y", "100,100");
    const QCommandLineOption framelessOption("frameless", "no decorations");
    const QCommandLineOption aboveOption("above", "stay above other windows");
    const QCommandLineOption noiseOption("noise", "fill with noise instead of a colour");
    parser.addOptions({instanceOption, classOption, titleOption, colourOption, sizeOption, positionOption,
                       framelessOption, aboveOption, noiseOption});
    parser.process(app);
    QCoreApplication::setApplicationName(parser.value(classOption));

    const QStringList size = parser.value(sizeOption).split(u'x');
    const QStringList position = parser.value(positionOption).split(u',');
    SampleWindow window(QColor(parser.value(colourOption)), parser.isSet(noiseOption));
    Qt::WindowFlags flags = Qt::Window;
    if (parser.isSet(framelessOption))
        flags |= Qt::FramelessWindowHint;
    if (parser.isSet(aboveOption))
        flags |= Qt::WindowStaysOnTopHint;
    window.setFlags(flags);
    window.setTitle(parser.value(titleOption));
    window.setGeometry(position.value(0).toInt(), position.value(1).toInt(), size.value(0).toInt(),
                       size.value(1).toInt());
    window.show();
    return app.exec();
}
