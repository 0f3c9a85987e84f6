#pragma once

// The capture tests' desktop: a private X display with a window manager,
// other applications' windows on it, the assistant's own window, and what the
// screen shows, read straight from the X server.
#include "support/TaskResult.h"

#include <QColor>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPainter>
#include <QProcess>
#include <QRasterWindow>
#include <QRect>
#include <QScreen>
#include <QStandardPaths>
#include <QThread>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <optional>

namespace nimbel::test {

// Processes events until `condition` holds; false after `timeoutMs`.
inline bool waitUntil(const std::function<bool()> &condition, int timeoutMs = 15000)
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

// Runs a tool to its end (xdotool and the like); true when it exited with 0.
inline bool run(const QString &program, const QStringList &arguments)
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

// Whether the window manager on `display` handles map requests yet: a probe
// window is mapped and must turn up in _NET_CLIENT_LIST. Announcing itself
// (_NET_SUPPORTING_WM_CHECK) is not enough: openbox drops a map request that
// arrives while it is still starting, and the window then never shows.
inline bool windowManagerManages(const QByteArray &display)
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

// A private X display (Xvfb, 1920 × 1080) with the openbox window manager,
// started before the application object so that every window of the test
// process lives on it. Other suites' windows never share it.
class PrivateDesktop
{
public:
    ~PrivateDesktop()
    {
        for (QProcess *process : {&m_windowManager, &m_server}) {
            process->terminate();
            if (!process->waitForFinished(3000))
                process->kill();
            process->waitForFinished(3000);
        }
    }

    // Sets DISPLAY for this process; false when Xvfb or openbox is missing.
    bool start()
    {
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        const QString openbox = QStandardPaths::findExecutable(QStringLiteral("openbox"));
        if (xvfb.isEmpty() || openbox.isEmpty())
            return false;
        // Xvfb takes a free display number itself and writes it once it accepts
        // connections. -noreset: the probe below is the server's first client, and
        // its leaving must not reset the server under the window manager.
        m_server.start(xvfb, QStringList{"-displayfd", "1", "-screen", "0", "1920x1080x24", "-nolisten", "tcp",
                                         "-noreset"});
        QElapsedTimer started;
        started.start();
        while (!m_server.canReadLine() && m_server.state() != QProcess::NotRunning && started.elapsed() < 10000)
            m_server.waitForReadyRead(100);
        const QByteArray display = ":" + m_server.readLine().trimmed();
        if (display.size() < 2)
            return false;
        qputenv("DISPLAY", display);
        qputenv("QT_QPA_PLATFORM", "xcb");
        qunsetenv("WAYLAND_DISPLAY");

        m_windowManager.setProcessChannelMode(QProcess::ForwardedChannels);
        m_windowManager.start(openbox, {QStringLiteral("--sm-disable")});
        // Each attempt maps a fresh probe: one whose request was dropped stays unmanaged.
        return waitUntil([&] { return windowManagerManages(display); }, 10000);
    }

private:
    QProcess m_server;
    QProcess m_windowManager;
};

// The colour the screen shows at `point`.
inline QColor screenColour(QPoint point)
{
    return QGuiApplication::primaryScreen()->grabWindow(0, point.x(), point.y(), 1, 1).toImage().pixelColor(0, 0);
}

// The share of pixels in `area` that have exactly `colour`.
inline double shareOf(const QImage &image, const QRect &area, QColor colour)
{
    const QRect r = area & image.rect();
    if (r.isEmpty())
        return 0;
    qint64 matches = 0;
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x)
            matches += (image.pixel(x, y) | 0xff000000u) == colour.rgb();
    }
    return double(matches) / (qint64(r.width()) * r.height());
}

// Another application's window, in a process of its own.
class SampleApplication
{
public:
    struct Options
    {
        QString instance;
        QString className;
        QString title;
        QColor colour = Qt::red;
        QRect geometry{100, 100, 400, 300};
        bool above = false;
    };

    explicit SampleApplication(Options options)
        : m_options(std::move(options))
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    }
    ~SampleApplication()
    {
        m_process.kill();
        m_process.waitForFinished(3000);
    }

    // Starts it and waits until its colour shows at its window's centre.
    bool start()
    {
        const QRect &g = m_options.geometry;
        QStringList arguments{"--instance", m_options.instance, "--class", m_options.className,
                              "--title", m_options.title, "--colour", m_options.colour.name(),
                              "--size", QStringLiteral("%1x%2").arg(g.width()).arg(g.height()),
                              "--position", QStringLiteral("%1,%2").arg(g.x()).arg(g.y()), "--frameless"};
        if (m_options.above)
            arguments << QStringLiteral("--above");
        m_process.start(QStringLiteral(NIMBEL_SAMPLE_WINDOW), arguments);
        // It says "ready <window id>" once it has drawn.
        QElapsedTimer timer;
        timer.start();
        while (!m_process.canReadLine() && m_process.state() != QProcess::NotRunning && timer.elapsed() < 30000)
            m_process.waitForReadyRead(50);
        const QByteArray line = m_process.readLine().trimmed();
        if (!line.startsWith("ready "))
            return false;
        m_window = line.mid(6).toUInt();
        // Its drawing may still be queued at a busy server: wait until it shows.
        return waitUntil([this] { return screenColour(m_options.geometry.center()) == m_options.colour; });
    }
    quint32 window() const { return m_window; }

private:
    Options m_options;
    QProcess m_process;
    quint32 m_window = 0;
};

// A window of the test process itself: the assistant's own window.
class OwnWindow final : public QRasterWindow
{
public:
    OwnWindow(QColor colour, QRect geometry)
        : m_colour(colour)
    {
        setFlags(Qt::Window | Qt::FramelessWindowHint);
        setTitle(QStringLiteral("Nimbel panel"));
        setGeometry(geometry);
    }

    // Shows it and waits until its colour is on the screen.
    bool showAndWait()
    {
        show();
        return waitUntil([this] { return screenColour(geometry().center()) == m_colour; });
    }

protected:
    void paintEvent(QPaintEvent *) override { QPainter(this).fillRect(QRect(QPoint(0, 0), size()), m_colour); }

private:
    QColor m_colour;
};

} // namespace nimbel::test
