#pragma once

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cctype>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace nimbel::test {

// A request as the server received it.
struct RecordedRequest
{
    std::string method;
    std::string target; // path and query
    std::multimap<std::string, std::string> headers; // names lower-cased
    std::string body;   // the exact bytes

    std::string header(const std::string &lowerName) const
    {
        const auto it = headers.find(lowerName);
        return it == headers.end() ? std::string() : it->second;
    }
};

// One step of a streamed (chunked) answer.
struct StreamStep
{
    enum class Kind {
        write, // send `bytes` as one chunk
        pause, // wait for `duration`
        hold,  // wait until the test calls release()
        cut,   // close the connection without ending the body
        flood, // send `bytes` over and over, as fast as the client reads, until it goes away
    };
    Kind kind = Kind::write;
    std::string bytes;
    std::chrono::milliseconds duration{0};

    static StreamStep write(std::string bytes) { return {Kind::write, std::move(bytes), {}}; }
    static StreamStep pause(std::chrono::milliseconds duration) { return {Kind::pause, {}, duration}; }
    static StreamStep hold() { return {Kind::hold, {}, {}}; }
    static StreamStep cut() { return {Kind::cut, {}, {}}; }
    static StreamStep flood(std::string unit) { return {Kind::flood, std::move(unit), {}}; }
};

// What the server answers on one path.
struct ScriptedResponse
{
    int status = 200;
    std::string contentType = "application/json";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    // Before anything, status line included, is sent.
    std::chrono::milliseconds delay{0};
    // When not empty, the body is sent chunked, step by step, instead of `body`.
    std::vector<StreamStep> stream;
    // When not empty, these bytes are sent instead of an HTTP answer.
    std::string raw;

    static ScriptedResponse json(int status, std::string body) { return {status, "application/json", std::move(body), {}, {}, {}, {}}; }
    static ScriptedResponse events(std::vector<StreamStep> steps) { return {200, "text/event-stream", {}, {}, {}, std::move(steps), {}}; }
};

// A small HTTP server on 127.0.0.1 (any free port), served by the test's own
// event loop, which the calls under test run. It records every request and
// answers each path as scripted (the path "*" stands for any other; without
// it they get 404), then closes the connection.
class TestServer
{
public:
    TestServer()
    {
        m_server.listen(QHostAddress::LocalHost);
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] { accept(); });
    }

    void script(const std::string &path, ScriptedResponse response) { m_scripts[path] = std::move(response); }
    QString baseURL() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()); }
    const std::vector<RecordedRequest> &requests() const { return m_requests; }
    const RecordedRequest *lastRequest() const { return m_requests.empty() ? nullptr : &m_requests.back(); }

    // Lets one stream waiting (now or later) at a hold step go on.
    void release()
    {
        ++m_releases;
        resumeHeld();
    }
    // Whether a stream waits at a hold step right now. (A stream reaches its hold step as
    // soon as it has written what comes before: before the client can read that.)
    bool isHolding() const { return !m_held.empty(); }

private:
    using Socket = QPointer<QTcpSocket>;
    using Steps = std::shared_ptr<const std::vector<StreamStep>>;

    void accept()
    {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            auto received = std::make_shared<QByteArray>();
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, received] {
                *received += socket->readAll();
                if (!received->isEmpty() && !std::isupper(static_cast<unsigned char>(received->front())))
                    return sendAndClose(socket, "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
                const qsizetype headEnd = received->indexOf("\r\n\r\n");
                if (headEnd < 0)
                    return;
                RecordedRequest request;
                const QList<QByteArray> lines = received->left(headEnd).split('\n');
                const QList<QByteArray> start = lines.value(0).trimmed().split(' ');
                request.method = start.value(0).toStdString();
                request.target = start.value(1).toStdString();
                for (const QByteArray &line : lines.mid(1)) {
                    const qsizetype colon = line.indexOf(':');
                    request.headers.emplace(line.left(colon).trimmed().toLower().toStdString(), line.mid(colon + 1).trimmed().toStdString());
                }
                const qsizetype length = QByteArray::fromStdString(request.header("content-length")).toLongLong();
                if (received->size() < headEnd + 4 + length)
                    return;
                request.body = received->mid(headEnd + 4, length).toStdString();
                QObject::disconnect(socket, &QTcpSocket::readyRead, nullptr, nullptr);
                answer(socket, std::move(request));
            });
        }
    }

    void answer(Socket socket, RecordedRequest request)
    {
        const std::string path = request.target.substr(0, request.target.find('?'));
        m_requests.push_back(std::move(request));
        auto it = m_scripts.find(path);
        if (it == m_scripts.end())
            it = m_scripts.find("*");
        const ScriptedResponse script = it == m_scripts.end() ? ScriptedResponse::json(404, R"({"error":"not scripted"})") : it->second;
        QTimer::singleShot(script.delay, socket, [this, socket, script] {
            if (!script.raw.empty())
                return sendAndClose(socket, QByteArray::fromStdString(script.raw));
            QByteArray head = "HTTP/1.1 " + QByteArray::number(script.status) + " Scripted\r\nConnection: close\r\nContent-Type: "
                + QByteArray::fromStdString(script.contentType) + "\r\n";
            for (const auto &[name, value] : script.headers)
                head += QByteArray::fromStdString(name + ": " + value + "\r\n");
            if (script.stream.empty())
                return sendAndClose(socket, head + "Content-Length: " + QByteArray::number(qsizetype(script.body.size())) + "\r\n\r\n"
                                  + QByteArray::fromStdString(script.body));
            socket->write(head + "Transfer-Encoding: chunked\r\n\r\n");
            run(socket, std::make_shared<const std::vector<StreamStep>>(script.stream), 0);
        });
    }

    static QByteArray chunk(const std::string &bytes)
    {
        return QByteArray::number(qsizetype(bytes.size()), 16) + "\r\n" + QByteArray::fromStdString(bytes) + "\r\n";
    }

    // Writes `bytes` and closes the connection once they are out.
    static void sendAndClose(Socket socket, const QByteArray &bytes)
    {
        if (socket) {
            socket->write(bytes);
            socket->disconnectFromHost();
        }
    }

    void run(Socket socket, Steps steps, std::size_t next)
    {
        for (; socket && next < steps->size(); ++next) {
            const StreamStep &step = (*steps)[next];
            const auto goOn = [this, socket, steps, next] { run(socket, steps, next + 1); };
            switch (step.kind) {
            case StreamStep::Kind::write:
                socket->write(chunk(step.bytes));
                break;
            case StreamStep::Kind::pause:
                QTimer::singleShot(step.duration, socket, goOn);
                return;
            case StreamStep::Kind::hold:
                m_held.push_back(goOn);
                return resumeHeld();
            case StreamStep::Kind::cut:
                return sendAndClose(socket, {});
            case StreamStep::Kind::flood: {
                // At most 256 MiB, in case the client never gives up.
                const auto more = [socket, unit = chunk(step.bytes), sent = std::make_shared<qint64>(0)] {
                    while (socket && socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() < (1 << 20)
                           && *sent < (qint64(256) << 20))
                        *sent += socket->write(unit);
                };
                QObject::connect(socket, &QTcpSocket::bytesWritten, socket, more);
                return more();
            }
            }
        }
        sendAndClose(socket, "0\r\n\r\n");
    }

    // Held streams go on, first held first, as far as there are releases for them.
    void resumeHeld()
    {
        for (; m_releases > 0 && !m_held.empty(); --m_releases) {
            QTimer::singleShot(0, &m_server, m_held.front());
            m_held.erase(m_held.begin());
        }
    }

    QTcpServer m_server;
    std::map<std::string, ScriptedResponse> m_scripts;
    std::vector<RecordedRequest> m_requests;
    std::vector<std::function<void()>> m_held;
    int m_releases = 0;
};

} // namespace nimbel::test
