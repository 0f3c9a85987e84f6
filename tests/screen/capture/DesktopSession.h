#pragma once

#include <QCoro/QCoroTask>

#include <QColor>
#include <QProcess>
#include <QRasterWindow>
#include <QRect>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace nimbel::test {

// A private X display (Xvfb, 1920 × 1080) with the openbox window manager,
// started before the application object so that every window of the test
// process lives on it. Other suites' windows never share it.
class PrivateDesktop
{
public:
    PrivateDesktop() = default;
    PrivateDesktop(const PrivateDesktop &) = delete;
    PrivateDesktop &operator=(const PrivateDesktop &) = delete;
    ~PrivateDesktop();

    // Sets DISPLAY for this process; false when Xvfb or openbox is missing.
    bool start();

private:
    QProcess m_server;
    QProcess m_windowManager;
    QString m_display;
};

// Whether the tests run on an X display (the private one).
bool haveDesktop();

// Processes events until `condition` holds; false after `timeoutMs`.
bool waitUntil(const std::function<bool()> &condition, int timeoutMs = 15000);

// Runs `task` to its end in a local event loop (QCoro::waitFor needs a
// default-constructible result; capture results are not).
template<typename T>
T finish(QCoro::Task<T> task)
{
    std::optional<T> result;
    QCoro::waitFor([](QCoro::Task<T> inner, std::optional<T> *out) -> QCoro::Task<> {
        out->emplace(co_await std::move(inner));
    }(std::move(task), &result));
    return std::move(*result);
}

// Runs a tool to its end (xdotool and the like); true when it exited with 0.
bool run(const QString &program, const QStringList &arguments);

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

    explicit SampleApplication(Options options);
    ~SampleApplication();
    SampleApplication(const SampleApplication &) = delete;
    SampleApplication &operator=(const SampleApplication &) = delete;

    // Starts it and waits until its colour shows at its window's centre.
    bool start();
    quint32 window() const { return m_window; }

private:
    bool readLine(const std::function<bool(const QByteArray &)> &accept, int timeoutMs);

    Options m_options;
    QProcess m_process;
    QByteArray m_buffer;
    quint32 m_window = 0;
};

// A window of the test process itself: the assistant's own window.
class OwnWindow final : public QRasterWindow
{
public:
    explicit OwnWindow(QColor colour, QRect geometry);
    // Shows it and waits until its colour is on the screen.
    bool showAndWait();

protected:
    void paintEvent(QPaintEvent *) override;

private:
    QColor m_colour;
    bool m_painted = false;
};

// The colour the screen shows at `point`, read straight from the X server.
QColor screenColour(QPoint point);

// The share of pixels in `area` that have exactly `colour`.
double shareOf(const QImage &image, const QRect &area, QColor colour);
// Whether any pixel in `area` has exactly `colour`.
bool contains(const QImage &image, const QRect &area, QColor colour);

} // namespace nimbel::test
