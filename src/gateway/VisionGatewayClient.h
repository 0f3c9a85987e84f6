#pragma once

#include "core/Clock.h"
#include "gateway/GatewayEndpoint.h"
#include "gateway/HttpExchange.h"
#include "gateway/VisionGateway.h"

#include <QNetworkAccessManager>

#include <functional>

namespace nimbel {

// Timeouts are inactivity limits (no byte in either direction for that long),
// not limits on the whole exchange.
struct GatewayOptions
{
    struct Timeouts
    {
        Milliseconds analyze{45'000};
        Milliseconds chat{60'000};
        Milliseconds transcription{30'000};
        Milliseconds speech{30'000};
        Milliseconds configuration{20'000};
        Milliseconds pairing{15'000};
        Milliseconds warmUp{4'000};
    };
    Timeouts timeouts;
    // Longest single line of the chat stream.
    qsizetype maxLineBytes = 1024 * 1024;
    // Largest response body, and largest chat stream, accepted.
    qint64 maxBodyBytes = 16 * 1024 * 1024;
};

// The HTTP client of every platform endpoint, over one network access
// manager and no other state. Lives on the main thread; sentences and
// results are delivered there. It must outlive the calls it runs.
class VisionGatewayClient final : public VisionGateway
{
public:
    // `clock` times the requests for the performance records (its uptime is monotonic).
    explicit VisionGatewayClient(Clock &clock, GatewayOptions options = {});

    QCoro::Task<Result<NavigationResponse, GatewayFailure>>
    analyze(ScreenAnalysisInput screen, QByteArray preparedJPEG, QString question, QString baseURL, QString apiKey,
            QString agentID, QStringList established, QList<RecentTurn> conversation, std::stop_token stop) override;
    QCoro::Task<Result<QString, GatewayFailure>>
    streamChat(QList<DesktopChatMessage> messages, QString baseURL, QString apiKey, QString agentID, QString sessionID,
               QString channel, SentenceHandler onSentence, std::stop_token stop) override;
    QCoro::Task<Result<QString, GatewayFailure>>
    transcribeSpeech(QByteArray audioData, QString baseURL, QString apiKey, QString language, QString contextPrompt,
                     QString agentID, std::stop_token stop) override;
    QCoro::Task<Result<QByteArray, GatewayFailure>>
    synthesizeSpeech(QString text, QString baseURL, QString apiKey, QString agentID, std::optional<double> pace,
                     std::stop_token stop) override;
    QCoro::Task<Result<DesktopConfiguration, GatewayFailure>>
    fetchDesktopConfiguration(QString baseURL, QString apiKey, std::stop_token stop) override;
    QCoro::Task<Result<DesktopPairingConfiguration, GatewayFailure>>
    exchangeDesktopPairing(QString baseURL, QString code, std::stop_token stop) override;
    QCoro::Task<Result<Done, GatewayFailure>>
    warmPublicPageContext(QString pageURL, QString baseURL, QString apiKey, QString agentID,
                          std::stop_token stop) override;

    const GatewayOptions &options() const { return m_options; }

private:
    // What one request sends; without a body it is a GET.
    struct Outgoing
    {
        Milliseconds timeout{0};
        QByteArray contentType;
        std::optional<QByteArray> body;
    };
    // How its response is read.
    struct Reading
    {
        TransportPolicy transport = TransportPolicy::classify;
        bool keepBody = true;
        // The performance record logged once a response is in, whatever its status.
        std::function<QString(Milliseconds elapsed, const HttpResponse &response)> record;
        // Said instead of the server's own message when the status is not a success.
        std::optional<QString> failureMessage;
    };

    QNetworkReply *send(const GatewayEndpoint &endpoint, const Outgoing &outgoing);
    // The successful response of one request, or why there is none: stopped
    // before sending, the transport, a failure status.
    // The caller keeps the arguments alive until the task is done (it awaits it at once).
    QCoro::Task<Result<HttpResponse, GatewayFailure>> exchange(const GatewayEndpoint &endpoint,
                                                               const Outgoing &outgoing, std::stop_token stop,
                                                               const Reading &reading);

    Clock &m_clock;
    GatewayOptions m_options;
    QNetworkAccessManager m_manager;
};

} // namespace nimbel
