#include "gateway/VisionGatewayClient.h"

#include "core/Log.h"
#include "gateway/GatewayRules.h"
#include "gateway/HttpExchange.h"
#include "gateway/MultipartBody.h"
#include "gateway/PerformanceRecord.h"
#include "gateway/ServerSentEventReader.h"
#include "gateway/SpeechWire.h"
#include "gateway/TextRules.h"
#include "gateway/WarmUpRequest.h"

namespace nimbel {

namespace {

constexpr QStringView analyzePath = u"/v1/desktop/analyze";
constexpr QStringView chatPath = u"/v1/desktop/chat";
constexpr QStringView transcriptionPath = u"/v1/audio/transcriptions";
constexpr QStringView speechPath = u"/v1/desktop/speech";
constexpr QStringView configurationPath = u"/v1/desktop/config";
constexpr QStringView pairingPath = u"/desktop-connect/exchange";
constexpr QStringView warmUpPath = u"/v1/desktop/context/warm";

const QByteArray jsonContentType = QByteArrayLiteral("application/json");

// One conversion step for `co_return`: a gateway error is a failure.
GatewayFailure failed(VisionGatewayError error)
{
    return error;
}

// The trimmed key, or nullopt when it is blank or could not travel in a header.
std::optional<QString> usableKey(const QString &apiKey)
{
    const QString key = apiKey.trimmed();
    if (key.isEmpty() || !isTransmittableKey(key))
        return std::nullopt;
    return key;
}

} // namespace

VisionGatewayClient::VisionGatewayClient(Clock &clock, GatewayOptions options)
    : m_clock(clock)
    , m_options(options)
{
    m_manager.setAutoDeleteReplies(false);
}

QNetworkRequest VisionGatewayClient::request(const QUrl &url, Milliseconds timeout, const QByteArray &contentType,
                                             const QString &apiKey) const
{
    // Only "Content-Type" and "Authorization" are ours. Qt adds "Host",
    // "Connection", "Accept-Encoding" (it decodes what it asks for),
    // "Accept-Language" and its own "User-Agent" and offers no way to leave
    // them out (an empty value makes it fall back to its default).
    QNetworkRequest request(url);
    request.setTransferTimeout(int(timeout.count()));
    // Stateless: no cookies in either direction.
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    // The bearer key must never follow a redirect to another origin.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
    if (!contentType.isEmpty())
        request.setRawHeader("Content-Type", contentType);
    if (!apiKey.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + apiKey.toUtf8());
    return request;
}

QCoro::Task<Result<NavigationResponse, GatewayFailure>>
VisionGatewayClient::analyze(ScreenAnalysisInput screen, QByteArray preparedJPEG, QString question, QString baseURL,
                             QString apiKey, QString agentID, QStringList established, QList<RecentTurn> conversation,
                             std::stop_token stop)
{
    const auto key = usableKey(apiKey);
    const QString agent = agentID.trimmed();
    if (!key || agent.isEmpty())
        co_return failed(VisionGatewayError::notConnected());
    const auto url = endpointURL(baseURL, analyzePath);
    if (!url)
        co_return failed(VisionGatewayError::invalidBaseURL());
    if (preparedJPEG.isEmpty())
        co_return failed(VisionGatewayError::imageEncodingFailed());

    const QByteArray payload = wire::serialize(analyzeMetadataJson(question, screen, agent, established, conversation));
    const QByteArray boundary = MultipartBody::freshBoundary("ZelmVision-");
    const QByteArray body = analyzeUploadBody(boundary, payload, preparedJPEG);
    if (stop.stop_requested())
        co_return GatewayFailure::cancelled();

    const Milliseconds started = m_clock.uptime();
    HttpExchange exchange(
        m_manager.post(request(*url, m_options.timeouts.analyze, "multipart/form-data; boundary=" + boundary, *key),
                       body),
        stop, TransportPolicy::classify);
    auto response = co_await exchange.readResponse(m_options.maxBodyBytes);
    if (!response)
        co_return response.error();
    log::info(log::gatewayPerformance(), performance::visionRecord(m_clock.uptime() - started, body.size(),
                                                                   response->bodyBytes, response->serverTiming));
    if (!response->isSuccess())
        co_return failed(VisionGatewayError::server(response->status, serverErrorMessage(response->body)));
    auto navigation = NavigationResponse::decode(response->body);
    if (!navigation)
        co_return failed(VisionGatewayError::invalidResponse());
    co_return std::move(*navigation);
}

namespace {

// Hands on the complete lines the reader holds. Returns a failure when the
// stream must end here (stopped, overlong line, error event).
std::optional<GatewayFailure> deliverLines(ServerSentEventReader &reader, ChatReplyAssembler &assembler,
                                           const SentenceHandler &onSentence, const std::stop_token &stop,
                                           qint64 questionChars)
{
    while (true) {
        if (stop.stop_requested())
            return GatewayFailure::cancelled();
        const auto line = reader.nextLine();
        if (!line)
            break;
        const auto payload = ServerSentEventReader::dataPayload(*line);
        if (!payload)
            continue;
        const auto event = ChatStreamEvent::decode(*payload);
        if (!event)
            continue;
        const auto step = assembler.handle(*event);
        switch (step.kind) {
        case ChatReplyAssembler::Step::Kind::nothing:
            break;
        case ChatReplyAssembler::Step::Kind::sentence:
            if (onSentence)
                onSentence(step.text);
            break;
        case ChatReplyAssembler::Step::Kind::failed:
            log::error(log::gatewayPerformance(),
                       performance::chatStreamErrorRecord(step.text, questionChars, assembler.hasSentences()));
            return failed(VisionGatewayError::agentUnavailable(
                step.text.isEmpty() ? QStringLiteral("Agent runtime failed") : step.text));
        }
    }
    if (reader.overflowed())
        return failed(VisionGatewayError::invalidResponse());
    return std::nullopt;
}

} // namespace

QCoro::Task<Result<QString, GatewayFailure>>
VisionGatewayClient::streamChat(QList<DesktopChatMessage> messages, QString baseURL, QString apiKey, QString agentID,
                                QString sessionID, QString channel, SentenceHandler onSentence, std::stop_token stop)
{
    const auto key = usableKey(apiKey);
    const QString agent = agentID.trimmed();
    if (!key || agent.isEmpty())
        co_return failed(VisionGatewayError::notConnected());
    if (messages.isEmpty())
        co_return failed(VisionGatewayError::invalidResponse());
    const auto url = endpointURL(baseURL, chatPath);
    if (!url)
        co_return failed(VisionGatewayError::invalidBaseURL());

    const qint64 questionChars = graphemeCount(lastUserContent(messages));
    const QByteArray body = wire::serialize(chatRequestJson(messages, agent, sessionID, channel));
    if (stop.stop_requested())
        co_return GatewayFailure::cancelled();

    HttpExchange exchange(m_manager.post(request(*url, m_options.timeouts.chat, jsonContentType, *key), body), stop,
                          TransportPolicy::classify);
    ServerSentEventReader reader(m_options.maxLineBytes);
    ChatReplyAssembler assembler;
    QByteArray errorBody;
    qint64 received = 0;

    while (true) {
        co_await exchange.dataOrEnd();
        if (exchange.stopRequested())
            co_return GatewayFailure::cancelled();
        const auto status = exchange.status();
        const bool success = status && *status >= 200 && *status <= 299;
        // Lines are read one chunk at a time, so that a sentence is handed on
        // as soon as its line is complete and memory stays bounded.
        while (exchange.hasData()) {
            const QByteArray chunk = exchange.readChunk();
            received += chunk.size();
            if (received > m_options.maxBodyBytes) {
                exchange.abandon();
                co_return failed(VisionGatewayError::invalidResponse());
            }
            if (!success) {
                errorBody += chunk;
                continue;
            }
            reader.append(chunk);
            if (auto failure = deliverLines(reader, assembler, onSentence, stop, questionChars)) {
                exchange.abandon();
                co_return *failure;
            }
        }
        if (!exchange.ended())
            continue;

        if (auto failure = exchange.failure())
            co_return *failure;
        if (!success)
            co_return failed(VisionGatewayError::server(*status, serverErrorMessage(errorBody)));
        reader.finish();
        if (auto failure = deliverLines(reader, assembler, onSentence, stop, questionChars))
            co_return *failure;
        if (auto reply = assembler.reply())
            co_return *reply;
        co_return failed(VisionGatewayError::invalidResponse());
    }
}

QCoro::Task<Result<QString, GatewayFailure>>
VisionGatewayClient::transcribeSpeech(QByteArray audioData, QString baseURL, QString apiKey, QString language,
                                      QString contextPrompt, QString agentID, std::stop_token stop)
{
    if (audioData.isEmpty())
        co_return failed(VisionGatewayError::invalidResponse());
    const auto key = usableKey(apiKey);
    if (!key)
        co_return failed(VisionGatewayError::notConnected());
    const auto url = endpointURL(baseURL, transcriptionPath);
    if (!url)
        co_return failed(VisionGatewayError::invalidBaseURL());

    const QByteArray boundary = MultipartBody::freshBoundary("ZelmVoice-");
    const QByteArray body = transcriptionUploadBody(boundary, language, agentID, contextPrompt, audioData);
    if (stop.stop_requested())
        co_return GatewayFailure::cancelled();

    const Milliseconds started = m_clock.uptime();
    HttpExchange exchange(
        m_manager.post(
            request(*url, m_options.timeouts.transcription, "multipart/form-data; boundary=" + boundary, *key), body),
        stop, TransportPolicy::classify);
    auto response = co_await exchange.readResponse(m_options.maxBodyBytes);
    if (!response)
        co_return response.error();
    log::info(log::gatewayPerformance(),
              performance::transcriptionRecord(m_clock.uptime() - started, audioData.size(), response->bodyBytes));
    if (!response->isSuccess())
        co_return failed(VisionGatewayError::server(response->status, serverErrorMessage(response->body)));
    const auto text = decodeTranscription(response->body);
    if (!text || text->trimmed().isEmpty())
        co_return failed(VisionGatewayError::invalidResponse());
    co_return text->trimmed();
}

QCoro::Task<Result<QByteArray, GatewayFailure>>
VisionGatewayClient::synthesizeSpeech(QString text, QString baseURL, QString apiKey, QString agentID,
                                      std::optional<double> pace, std::stop_token stop)
{
    const QString spoken = text.trimmed();
    if (spoken.isEmpty())
        co_return GatewayFailure::invalidAudio();
    const auto key = usableKey(apiKey);
    const QString agent = agentID.trimmed();
    if (!key || agent.isEmpty())
        co_return failed(VisionGatewayError::notConnected());
    const auto url = endpointURL(baseURL, speechPath);
    if (!url)
        co_return failed(VisionGatewayError::invalidBaseURL());

    const QByteArray body = wire::serialize(speechRequestJson(spoken, agent, pace));
    if (stop.stop_requested())
        co_return GatewayFailure::cancelled();

    const Milliseconds started = m_clock.uptime();
    HttpExchange exchange(m_manager.post(request(*url, m_options.timeouts.speech, jsonContentType, *key), body), stop,
                          TransportPolicy::classify);
    auto response = co_await exchange.readResponse(m_options.maxBodyBytes);
    if (!response)
        co_return response.error();
    log::info(log::gatewayPerformance(),
              performance::synthesisRecord(m_clock.uptime() - started, graphemeCount(spoken), response->bodyBytes));
    if (!response->isSuccess())
        co_return failed(VisionGatewayError::server(response->status, serverErrorMessage(response->body)));
    if (response->body.isEmpty())
        co_return GatewayFailure::invalidAudio();
    co_return std::move(response->body);
}

QCoro::Task<Result<DesktopConfiguration, GatewayFailure>>
VisionGatewayClient::fetchDesktopConfiguration(QString baseURL, QString apiKey, std::stop_token stop)
{
    const auto key = usableKey(apiKey);
    if (!key)
        co_return failed(VisionGatewayError::notConnected());
    const auto url = endpointURL(baseURL, configurationPath);
    if (!url)
        co_return failed(VisionGatewayError::invalidBaseURL());
    if (stop.stop_requested())
        co_return GatewayFailure::cancelled();

    HttpExchange exchange(m_manager.get(request(*url, m_options.timeouts.configuration, {}, *key)), stop,
                          TransportPolicy::classify);
    auto response = co_await exchange.readResponse(m_options.maxBodyBytes);
    if (!response)
        co_return response.error();
    if (!response->isSuccess())
        co_return failed(VisionGatewayError::server(response->status, serverErrorMessage(response->body)));
    auto configuration = DesktopConfiguration::decode(response->body);
    if (!configuration)
        co_return failed(VisionGatewayError::invalidResponse());
    co_return std::move(*configuration);
}

QCoro::Task<Result<DesktopPairingConfiguration, GatewayFailure>>
VisionGatewayClient::exchangeDesktopPairing(QString baseURL, QString code, std::stop_token stop)
{
    const QString trimmedCode = code.trimmed();
    if (trimmedCode.isEmpty())
        co_return failed(VisionGatewayError::invalidResponse());
    const auto url = endpointURL(baseURL, pairingPath);
    if (!url)
        co_return failed(VisionGatewayError::invalidBaseURL());

    const QByteArray body = wire::serialize(pairingExchangeJson(trimmedCode));
    if (stop.stop_requested())
        co_return GatewayFailure::cancelled();

    HttpExchange exchange(m_manager.post(request(*url, m_options.timeouts.pairing, jsonContentType, {}), body), stop,
                          TransportPolicy::classify);
    auto response = co_await exchange.readResponse(m_options.maxBodyBytes);
    if (!response)
        co_return response.error();
    if (!response->isSuccess())
        co_return failed(VisionGatewayError::server(response->status, serverErrorMessage(response->body)));
    auto pairing = DesktopPairingConfiguration::decode(response->body);
    if (!pairing)
        co_return failed(VisionGatewayError::invalidResponse());
    co_return std::move(*pairing);
}

QCoro::Task<Result<Done, GatewayFailure>> VisionGatewayClient::warmPublicPageContext(QString pageURL, QString baseURL,
                                                                                     QString apiKey, QString agentID,
                                                                                     std::stop_token stop)
{
    const auto key = usableKey(apiKey);
    const QString agent = agentID.trimmed();
    if (!key || agent.isEmpty())
        co_return failed(VisionGatewayError::notConnected());
    const QString page = pageURL.trimmed();
    if (page.isEmpty() || graphemeCount(page) > pageURLLimit)
        co_return failed(VisionGatewayError::invalidBaseURL());
    const auto url = endpointURL(baseURL, warmUpPath);
    if (!url)
        co_return failed(VisionGatewayError::invalidBaseURL());

    const QByteArray body = wire::serialize(warmUpRequestJson(agent, page));
    if (stop.stop_requested())
        co_return GatewayFailure::cancelled();

    HttpExchange exchange(m_manager.post(request(*url, m_options.timeouts.warmUp, jsonContentType, *key), body), stop,
                          TransportPolicy::passOn);
    auto response = co_await exchange.readResponse(m_options.maxBodyBytes, /*keepBody=*/false);
    if (!response)
        co_return response.error();
    if (!response->isSuccess())
        co_return failed(VisionGatewayError::server(response->status, QStringLiteral("Could not prepare the page context.")));
    co_return Done{};
}

} // namespace nimbel
