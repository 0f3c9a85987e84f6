#pragma once

#include "core/Result.h"
#include "gateway/GatewayFailure.h"

#include <QByteArray>
#include <QMetaObject>
#include <QNetworkReply>
#include <QPointer>

#include <QCoro/QCoroTask>

#include <array>
#include <coroutine>
#include <functional>
#include <optional>
#include <stop_token>

namespace nimbel {

// A complete HTTP response.
struct HttpResponse
{
    int status = 0;
    QByteArray body;
    qint64 bodyBytes = 0; // counted even when the body was discarded
    std::optional<QByteArray> serverTiming;

    bool isSuccess() const { return status >= 200 && status <= 299; }
};

// What a transport failure becomes.
enum class TransportPolicy {
    classify, // connection failures (and the inactivity timeout) become `connectionFailed`
    passOn,   // every transport failure is passed on unchanged
};

// One request in flight. Owns the reply; reads it as it arrives; aborts it
// as soon as the caller's stop token is stopped (the abort is queued to the
// reply's thread, so the canceller never runs the awaiting coroutine); tells
// how it ended. Internal to the gateway client.
class HttpExchange
{
public:
    HttpExchange(QNetworkReply *reply, std::stop_token stop, TransportPolicy policy);
    ~HttpExchange();
    HttpExchange(const HttpExchange &) = delete;
    HttpExchange &operator=(const HttpExchange &) = delete;

    class DataAwaiter;
    // Resumes when bytes can be read or the reply has ended.
    DataAwaiter dataOrEnd();

    bool hasData() const { return m_reply && m_reply->bytesAvailable() > 0; }
    QByteArray readChunk();
    // Finished, and everything has been read.
    bool ended() const { return !m_reply || (m_reply->isFinished() && m_reply->bytesAvailable() == 0); }
    std::optional<int> status() const;
    bool stopRequested() const { return m_stop.stop_requested(); }
    // Once ended(): nullopt when a complete HTTP response arrived, else why not.
    std::optional<GatewayFailure> failure() const;
    // Once ended() without a failure: whether the end may have been a lost
    // connection rather than the end of the body. Over plain http Qt reads
    // from an unbuffered socket, and when it meets the closed connection in
    // the middle of a chunked body it reports the body as complete.
    bool endMayBeCut() const;
    // Gives up on the reply (a cap was exceeded, the stream reported an error).
    void abandon();

    // Reads to the end. A kept body larger than `maxBodyBytes` fails with
    // `invalidResponse`; a discarded one is not read past that size.
    QCoro::Task<Result<HttpResponse, GatewayFailure>> readResponse(qint64 maxBodyBytes, bool keepBody = true);

private:
    QPointer<QNetworkReply> m_reply;
    std::stop_token m_stop;
    TransportPolicy m_policy;
    std::optional<std::stop_callback<std::function<void()>>> m_onStop;
};

class HttpExchange::DataAwaiter
{
public:
    explicit DataAwaiter(QNetworkReply *reply)
        : m_reply(reply)
    {
    }
    bool await_ready() const { return !m_reply || m_reply->isFinished() || m_reply->bytesAvailable() > 0; }
    void await_suspend(std::coroutine_handle<> handle);
    void await_resume() const noexcept {}

private:
    void wake();

    QPointer<QNetworkReply> m_reply;
    std::coroutine_handle<> m_handle;
    std::array<QMetaObject::Connection, 3> m_connections;
};

} // namespace nimbel
