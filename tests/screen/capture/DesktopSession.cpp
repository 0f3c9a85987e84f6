#include "DesktopSession.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPainter>
#include <QStandardPaths>
#include <QThread>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace nimbel::test {

namespace {
// Whether the window manager handles map requests yet: a probe window is
// mapped and must turn up in _NET_CLIENT_LIST. Announcing itself
// (_NET_SUPPORTING_WM_CHECK) is not enough: openbox drops a map request that
// arrives while it is still starting, and the window then never shows.
bool windowManagerManages(const QByteArray &display)
{
    xcb_connection_t *c = xcb_connect(display.constData(), nullptr);
    bool managed = false;
    if (!xcb_connection_has_error(c)) {
        const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        const char name[] = "_NET_CLIENT_LIST";
        auto *atom = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof(name) - 1, name), nullptr);
        const xcb_window_t probe = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, probe, screen->root, 0, 0, 10, 10, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_map_window(c, probe);
        xcb_flush(c);
        QElapsedTimer timer;
        timer.start();
        while (atom && !managed && timer.elapsed() < 500) {
            auto *property = xcb_get_property_reply(
                c, xcb_get_property(c, 0, screen->root, atom->atom, XCB_ATOM_WINDOW, 0, 1024), nullptr);
            if (property) {
                const auto *windows = static_cast<const xcb_window_t *>(xcb_get_property_value(property));
                const int count = xcb_get_property_value_length(property) / int(sizeof(xcb_window_t));
                managed = std::find(windows, windows + count, probe) != windows + count;
            }
            std::free(property);
            if (!managed)
                QThread::msleep(20);
        }
        std::free(atom);
        xcb_destroy_window(c, probe);
        xcb_flush(c);
    }
    xcb_disconnect(c);
    return managed;
}
} // namespace

PrivateDesktop::~PrivateDesktop()
{
    for (QProcess *process : {&m_windowManager, &m_server}) {
        if (process->state() != QProcess::NotRunning) {
            process->terminate();
            if (!process->waitForFinished(3000))
                process->kill();
            process->waitForFinished(3000);
        }
    }
}

bool PrivateDesktop::start()
{
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    const QString openbox = QStandardPaths::findExecutable(QStringLiteral("openbox"));
    if (xvfb.isEmpty() || openbox.isEmpty()) {
        qWarning("PrivateDesktop: Xvfb or openbox is not installed");
        return false;
    }
    // Xvfb takes a free display number itself and writes it once it accepts
    // connections. -noreset: the probe below is the server's first client, and
    // its leaving must not reset the server under the window manager.
    m_server.start(xvfb, {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
                          QStringLiteral("1920x1080x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                          QStringLiteral("-noreset")});
    QElapsedTimer started;
    started.start();
    while (!m_server.canReadLine() && m_server.state() != QProcess::NotRunning && started.elapsed() < 10000)
        m_server.waitForReadyRead(100);
    const QByteArray number = m_server.readLine().trimmed();
    if (number.isEmpty()) {
        qWarning("PrivateDesktop: Xvfb did not start");
        return false;
    }
    m_display = QStringLiteral(":") + QString::fromLatin1(number);
    qputenv("DISPLAY", m_display.toLatin1());
    qputenv("QT_QPA_PLATFORM", "xcb");
    qunsetenv("WAYLAND_DISPLAY");

    m_windowManager.setProcessChannelMode(QProcess::MergedChannels);
    m_windowManager.start(openbox, {QStringLiteral("--sm-disable")});
    if (!m_windowManager.waitForStarted(5000))
        return false;
    QElapsedTimer timer;
    timer.start();
    // Each attempt maps a fresh probe: one whose request was dropped stays unmanaged.
    while (!windowManagerManages(m_display.toLatin1())) {
        if (timer.elapsed() > 10000) {
            m_windowManager.waitForFinished(10);
            qWarning("PrivateDesktop: openbox did not start on %s (state %d, exit %d): %s", qPrintable(m_display),
                     int(m_windowManager.state()), m_windowManager.exitCode(),
                     m_windowManager.readAll().constData());
            return false;
        }
        QThread::msleep(20);
    }
    return true;
}

bool haveDesktop()
{
    return QGuiApplication::platformName() == u"xcb";
}

bool waitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

bool run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished();
        return false;
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

SampleApplication::SampleApplication(Options options)
    : m_options(std::move(options))
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

SampleApplication::~SampleApplication()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}

bool SampleApplication::start()
{
    const QRect &g = m_options.geometry;
    QStringList arguments{QStringLiteral("--instance"), m_options.instance,
                          QStringLiteral("--class"), m_options.className,
                          QStringLiteral("--title"), m_options.title,
                          QStringLiteral("--colour"), m_options.colour.name(),
                          QStringLiteral("--size"), QStringLiteral("%1x%2").arg(g.width()).arg(g.height()),
                          QStringLiteral("--position"), QStringLiteral("%1,%2").arg(g.x()).arg(g.y()),
                          QStringLiteral("--frameless")};
    if (m_options.above)
        arguments << QStringLiteral("--above");
    m_process.start(QStringLiteral(NIMBEL_SAMPLE_WINDOW), arguments);
    if (!m_process.waitForStarted(5000))
        return false;
    const bool ready = readLine(
        [this](const QByteArray &line) {
            if (!line.startsWith("ready "))
                return false;
            m_window = line.mid(6).toUInt();
            return true;
        },
        30000);
    if (!ready)
        return false;
    // Its drawing may still be queued at a busy server: wait until it shows.
    return waitUntil([this] { return screenColour(m_options.geometry.center()) == m_options.colour; });
}

bool SampleApplication::readLine(const std::function<bool(const QByteArray &)> &accept, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (true) {
        while (m_buffer.contains('\n')) {
            const qsizetype end = m_buffer.indexOf('\n');
            const QByteArray line = m_buffer.left(end).trimmed();
            m_buffer.remove(0, end + 1);
            if (accept(line))
                return true;
        }
        if (timer.elapsed() > timeoutMs || m_process.state() == QProcess::NotRunning)
            return false;
        m_process.waitForReadyRead(50);
        m_buffer += m_process.readAllStandardOutput();
    }
}

OwnWindow::OwnWindow(QColor colour, QRect geometry)
    : m_colour(colour)
{
    setFlags(Qt::Window | Qt::FramelessWindowHint);
    setTitle(QStringLiteral("Nimbel panel"));
    setGeometry(geometry);
}

bool OwnWindow::showAndWait()
{
    show();
    // Drawn means: its colour is on the screen, read back from the server.
    const QPoint centre = geometry().center();
    return waitUntil([&] { return m_painted && screenColour(centre) == m_colour; }, 15000);
}

void OwnWindow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(QRect(QPoint(0, 0), size()), m_colour);
    m_painted = true;
}

QColor screenColour(QPoint point)
{
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    QColor colour;
    if (!xcb_connection_has_error(c)) {
        const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        auto *reply = xcb_get_image_reply(c,
                                          xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, screen->root,
                                                        static_cast<int16_t>(point.x()),
                                                        static_cast<int16_t>(point.y()), 1, 1, ~0u),
                                          nullptr);
        if (reply && xcb_get_image_data_length(reply) >= 4) {
            quint32 pixel;
            std::memcpy(&pixel, xcb_get_image_data(reply), 4);
            colour = QColor::fromRgb(pixel | 0xff000000u); // depth 24, little-endian
        }
        std::free(reply);
    }
    xcb_disconnect(c);
    return colour;
}

double shareOf(const QImage &image, const QRect &area, QColor colour)
{
    const QRect r = area & image.rect();
    if (r.isEmpty())
        return 0;
    const QRgb want = colour.rgb();
    qint64 matches = 0;
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x)
            matches += (image.pixel(x, y) | 0xff000000u) == want;
    }
    return double(matches) / (qint64(r.width()) * r.height());
}

bool contains(const QImage &image, const QRect &area, QColor colour)
{
    return shareOf(image, area, colour) > 0;
}

} // namespace nimbel::test
