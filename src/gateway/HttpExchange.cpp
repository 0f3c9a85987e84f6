#include "gateway/HttpExchange.h"

#include "gateway/GatewayRules.h"

namespace nimbel {

namespace {
constexpr qint64 chunkBytes = 64 * 1024;
// Without a limit Qt reads as fast as the server writes and hands nothing on
// until it pauses; with one it stops reading from the socket while its buffer
// is full, so data arrives in pieces and memory stays bounded.
constexpr qint64 replyBufferBytes = 256 * 1024;
} // namespace

HttpExchange::HttpExchange(QNetworkReply *reply, std::stop_token stop, TransportPolicy policy)
    : m_reply(reply)
    , m_stop(std::move(stop))
    , m_policy(policy)
{
    reply->setReadBufferSize(replyBufferBytes);
    // A request with a body starts in a queued call, and a limit set before
    // that never reaches Qt's HTTP thread; set it again once it has started.
    // (Unlimited, that thread can be kept reading a flooding answer even
    // after the reply was aborted, stalling every later request.)
    QMetaObject::invokeMethod(reply, [reply] { reply->setReadBufferSize(replyBufferBytes); }, Qt::QueuedConnection);
    // May run on any thread, and synchronously here when the token is
    // stopped already.
    m_onStop.emplace(m_stop, [reply] {
        QMetaObject::invokeMethod(reply, [reply] { reply->abort(); }, Qt::QueuedConnection);
    });
}

HttpExchange::~HttpExchange()
{
    // Waits for a stop callback running on another thread before the reply goes.
    m_onStop.reset();
    if (m_reply) {
        if (!m_reply->isFinished())
            m_reply->abort();
        m_reply->deleteLater();
    }
}

HttpExchange::DataAwaiter HttpExchange::dataOrEnd()
{
    return DataAwaiter(m_reply.data());
}

QByteArray HttpExchange::readChunk()
{
    return m_reply ? m_reply->read(chunkBytes) : QByteArray();
}

std::optional<int> HttpExchange::status() const
{
    if (!m_reply)
        return std::nullopt;
    const QVariant status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return std::nullopt;
    return status.toInt();
}

bool HttpExchange::endMayBeCut() const
{
    if (!m_reply || m_reply->url().scheme() != u"http")
        return false;
    return m_reply->rawHeader("Transfer-Encoding").toLower().contains("chunked");
}

void HttpExchange::abandon()
{
    if (m_reply && !m_reply->isFinished())
        m_reply->abort();
}

std::optional<GatewayFailure> HttpExchange::failure() const
{
    if (m_stop.stop_requested() || !m_reply)
        return GatewayFailure::cancelled();

    const QNetworkReply::NetworkError code = m_reply->error();
    if (code == QNetworkReply::OperationCanceledError || code == QNetworkReply::TimeoutError) {
        // The only aborts are ours on stop (handled above) and the transfer
        // timeout's, which Qt reports as a cancellation.
        if (m_policy == TransportPolicy::classify)
            return VisionGatewayError::connectionFailed();
        return GatewayFailure::transport(QNetworkReply::TimeoutError, QStringLiteral("Network operation timed out"));
    }
    // Socket-level errors: nothing or only part of a response arrived.
    if (code >= QNetworkReply::ConnectionRefusedError && code <= QNetworkReply::UnknownNetworkError) {
        if (m_policy == TransportPolicy::classify && isConnectionError(code))
            return VisionGatewayError::connectionFailed();
        return GatewayFailure::transport(code, m_reply->errorString());
    }

    const auto status = this->status();
    if (!status) {
        // Proxy failures are transport errors; anything else without a
        // status line was not an HTTP response.
        if (code >= QNetworkReply::ProxyConnectionRefusedError && code <= QNetworkReply::UnknownProxyError)
            return GatewayFailure::transport(code, m_reply->errorString());
        return VisionGatewayError::invalidResponse();
    }
    // A success status with an error is a body that broke off or was corrupt.
    if (*status >= 200 && *status <= 299 && code != QNetworkReply::NoError)
        return VisionGatewayError::invalidResponse();
    return std::nullopt;
}

QCoro::Task<Result<HttpResponse, GatewayFailure>> HttpExchange::readResponse(qint64 maxBodyBytes, bool keepBody)
{
    HttpResponse response;
    while (!ended()) {
        co_await dataOrEnd();
        while (hasData()) {
            const QByteArray chunk = readChunk();
            response.bodyBytes += chunk.size();
            if (response.bodyBytes > maxBodyBytes) {
                if (stopRequested())
                    co_return GatewayFailure::cancelled();
                if (keepBody || !status()) {
                    abandon();
                    co_return GatewayFailure(VisionGatewayError::invalidResponse());
                }
                // The status decides and the rest is not wanted.
                response.status = *status();
                abandon();
                co_return response;
            }
            if (keepBody)
                response.body += chunk;
        }
    }
    if (auto failure = this->failure())
        co_return *failure;
    response.status = *status();
    if (m_reply->hasRawHeader("Server-Timing"))
        response.serverTiming = m_reply->rawHeader("Server-Timing");
    co_return response;
}

void HttpExchange::DataAwaiter::await_suspend(std::coroutine_handle<> handle)
{
    m_handle = handle;
    QNetworkReply *reply = m_reply.data();
    m_connections[0] = QObject::connect(reply, &QIODevice::readyRead, reply, [this] { wake(); });
    m_connections[1] = QObject::connect(reply, &QNetworkReply::finished, reply, [this] { wake(); });
    // Only when the manager goes away under a running call.
    m_connections[2] = QObject::connect(reply, &QObject::destroyed, [this] { wake(); });
}

void HttpExchange::DataAwaiter::wake()
{
    for (auto &connection : m_connections)
        QObject::disconnect(connection);
    m_handle.resume();
}

} // namespace nimbel
