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
#include "settings/Localized.h"

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

// A decoded body, or `invalidResponse` when it did not decode.
template<typename T>
Result<T, GatewayFailure> decoded(std::optional<T> value)
{
    if (!value)
        return failed(VisionGatewayError::invalidResponse());
    return std::move(*value);
}

QByteArray multipartType(const QByteArray &boundary)
{
    return "multipart/form-data; boundary=" + boundary;
}

} // namespace

VisionGatewayClient::VisionGatewayClient(Clock &clock, GatewayOptions options)
    : m_clock(clock)
    , m_options(options)
{
    m_manager.setAutoDeleteReplies(false);
}

QNetworkReply *VisionGatewayClient::send(const GatewayEndpoint &endpoint, const Outgoing &outgoing)
{
    // Only "Content-Type" and "Authorization" are ours. Qt adds "Host",
    // "Connection", "Accept-Encoding" (it decodes what it asks for),
    // "Accept-Language" and its own "User-Agent" and offers no way to leave
    // them out (an empty value makes it fall back to its default).
    QNetworkRequest request(endpoint.url);
    request.setTransferTimeout(int(outgoing.timeout.count()));
    // Stateless: no cookies in either direction.
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    // The bearer key must never follow a redirect to another origin.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
    if (!outgoing.contentType.isEmpty())
        request.setRawHeader("Content-Type", outgoing.contentType);
    if (!endpoint.apiKey.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + endpoint.apiKey.toUtf8());
    return outgoing.body ? m_manager.post(request, *outgoing.body) : m_manager.get(request);
}

QCoro::Task<Result<HttpResponse, GatewayFailure>>
VisionGatewayClient::exchange(const GatewayEndpoint &endpoint, const Outgoing &outgoing, std::stop_token stop,
                              const Reading &reading)
{
    if (stop.stop_requested())
        co_return GatewayFailure::cancelled();
    const Milliseconds started = m_clock.uptime();
    HttpExchange http(send(endpoint, outgoing), stop, reading.transport);
    auto response = co_await http.readResponse(m_options.maxBodyBytes, reading.keepBody);
    if (!response)
        co_return response.error();
    if (reading.record)
        log::info(log::gatewayPerformance(), reading.record(m_clock.uptime() - started, response.value()));
    if (!response->isSuccess())
        co_return failed(VisionGatewayError::server(
            response->status, reading.failureMessage.value_or(serverErrorMessage(response->body))));
    co_return std::move(response).value();
}

QCoro::Task<Result<NavigationResponse, GatewayFailure>>
VisionGatewayClient::analyze(ScreenAnalysisInput screen, QByteArray preparedJPEG, QString question, QString baseURL,
                             QString apiKey, QString agentID, QStringList established, QList<RecentTurn> conversation,
                             std::stop_token stop)
{
    auto endpoint =
        GatewayEndpoint::resolve(baseURL, analyzePath, GatewayEndpoint::Access::keyAndAgent, apiKey, agentID);
    if (!endpoint)
        co_return endpoint.error();
    if (preparedJPEG.isEmpty())
        co_return failed(VisionGatewayError::imageEncodingFailed());

    const QByteArray payload =
        wire::serialize(analyzeMetadataJson(question, screen, endpoint->agentID, established, conversation));
    const QByteArray boundary = MultipartBody::freshBoundary("ZelmVision-");
    const QByteArray body = analyzeUploadBody(boundary, payload, preparedJPEG);
    Reading reading;
    reading.record = [sent = body.size()](Milliseconds elapsed, const HttpResponse &response) {
        return performance::visionRecord(elapsed, sent, response.bodyBytes, response.serverTiming);
    };
    const Outgoing outgoing{m_options.timeouts.analyze, multipartType(boundary), body};
    auto response = co_await exchange(endpoint.value(), outgoing, stop, reading);
    if (!response)
        co_return response.error();
    co_return decoded(NavigationResponse::decode(response->body));
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
    auto endpoint = GatewayEndpoint::resolve(baseURL, chatPath, GatewayEndpoint::Access::keyAndAgent, apiKey, agentID);
    if (!endpoint)
        co_return endpoint.error();
    if (messages.isEmpty())
        co_return failed(VisionGatewayError::invalidResponse());

    const qint64 questionChars = graphemeCount(lastUserContent(messages));
    const QByteArray body = wire::serialize(chatRequestJson(messages, endpoint->agentID, sessionID, channel));
    if (stop.stop_requested())
        co_return GatewayFailure::cancelled();

    HttpExchange exchange(send(endpoint.value(), {m_options.timeouts.chat, jsonContentType, body}), stop,
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
        // The platform ends every reply with "done"; without it, an end that
        // may have been a lost connection is taken as one.
        if (!assembler.sawDone() && exchange.endMayBeCut())
            co_return failed(VisionGatewayError::connectionFailed());
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
    auto endpoint = GatewayEndpoint::resolve(baseURL, transcriptionPath, GatewayEndpoint::Access::key, apiKey);
    if (!endpoint)
        co_return endpoint.error();

    const QByteArray boundary = MultipartBody::freshBoundary("ZelmVoice-");
    const QByteArray body = transcriptionUploadBody(boundary, language, agentID, contextPrompt, audioData);
    Reading reading;
    reading.record = [sent = audioData.size()](Milliseconds elapsed, const HttpResponse &response) {
        return performance::transcriptionRecord(elapsed, sent, response.bodyBytes);
    };
    const Outgoing outgoing{m_options.timeouts.transcription, multipartType(boundary), body};
    auto response = co_await exchange(endpoint.value(), outgoing, stop, reading);
    if (!response)
        co_return response.error();
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
    auto endpoint =
        GatewayEndpoint::resolve(baseURL, speechPath, GatewayEndpoint::Access::keyAndAgent, apiKey, agentID);
    if (!endpoint)
        co_return endpoint.error();

    const QByteArray body = wire::serialize(speechRequestJson(spoken, endpoint->agentID, pace));
    Reading reading;
    reading.record = [characters = graphemeCount(spoken)](Milliseconds elapsed, const HttpResponse &response) {
        return performance::synthesisRecord(elapsed, characters, response.bodyBytes);
    };
    const Outgoing outgoing{m_options.timeouts.speech, jsonContentType, body};
    auto response = co_await exchange(endpoint.value(), outgoing, stop, reading);
    if (!response)
        co_return response.error();
    if (response->body.isEmpty())
        co_return GatewayFailure::invalidAudio();
    co_return std::move(response->body);
}

QCoro::Task<Result<DesktopConfiguration, GatewayFailure>>
VisionGatewayClient::fetchDesktopConfiguration(QString baseURL, QString apiKey, std::stop_token stop)
{
    auto endpoint = GatewayEndpoint::resolve(baseURL, configurationPath, GatewayEndpoint::Access::key, apiKey);
    if (!endpoint)
        co_return endpoint.error();
    const Outgoing outgoing{m_options.timeouts.configuration, {}, std::nullopt};
    const Reading reading;
    auto response = co_await exchange(endpoint.value(), outgoing, stop, reading);
    if (!response)
        co_return response.error();
    co_return decoded(DesktopConfiguration::decode(response->body));
}

QCoro::Task<Result<DesktopPairingConfiguration, GatewayFailure>>
VisionGatewayClient::exchangeDesktopPairing(QString baseURL, QString code, std::stop_token stop)
{
    const QString trimmedCode = code.trimmed();
    if (trimmedCode.isEmpty())
        co_return failed(VisionGatewayError::invalidResponse());
    auto endpoint = GatewayEndpoint::resolve(baseURL, pairingPath, GatewayEndpoint::Access::open);
    if (!endpoint)
        co_return endpoint.error();

    const QByteArray body = wire::serialize(pairingExchangeJson(trimmedCode));
    const Outgoing outgoing{m_options.timeouts.pairing, jsonContentType, body};
    const Reading reading;
    auto response = co_await exchange(endpoint.value(), outgoing, stop, reading);
    if (!response)
        co_return response.error();
    co_return decoded(DesktopPairingConfiguration::decode(response->body));
}

QCoro::Task<Result<Done, GatewayFailure>> VisionGatewayClient::warmPublicPageContext(QString pageURL, QString baseURL,
                                                                                     QString apiKey, QString agentID,
                                                                                     std::stop_token stop)
{
    auto endpoint =
        GatewayEndpoint::resolve(baseURL, warmUpPath, GatewayEndpoint::Access::keyAndAgent, apiKey, agentID);
    if (!endpoint)
        co_return endpoint.error();
    const QString page = pageURL.trimmed();
    if (page.isEmpty() || graphemeCount(page) > pageURLLimit)
        co_return failed(VisionGatewayError::invalidBaseURL());

    const QByteArray body = wire::serialize(warmUpRequestJson(endpoint->agentID, page));
    // The warm-up is best effort: its transport failures are passed on as they
    // are and its response body is never kept.
    Reading reading;
    reading.transport = TransportPolicy::passOn;
    reading.keepBody = false;
    reading.failureMessage = L::text("error.gateway.pageContext");
    const Outgoing outgoing{m_options.timeouts.warmUp, jsonContentType, body};
    auto response = co_await exchange(endpoint.value(), outgoing, stop, reading);
    if (!response)
        co_return response.error();
    co_return Done{};
}

} // namespace nimbel
