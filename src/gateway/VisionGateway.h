#pragma once

#include "core/Result.h"
#include "gateway/AnalyzeRequest.h"
#include "gateway/ChatWire.h"
#include "gateway/DesktopConfiguration.h"
#include "gateway/GatewayFailure.h"
#include "gateway/NavigationResponse.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <QCoro/QCoroTask>

#include <functional>
#include <optional>
#include <stop_token>

namespace nimbel {

// Receives each sentence of a streamed reply on the main thread; the reader
// waits for it to return before it reads on.
using SentenceHandler = std::function<void(const QString &sentence)>;

// The platform boundary: every call to the agent platform. Each operation
// takes its inputs by value and a stop token; stopping the token aborts the
// request in flight and the call resumes with GatewayFailure::cancelled(),
// never with a partial result.
class VisionGateway
{
public:
    virtual ~VisionGateway() = default;

    // "/v1/desktop/analyze": question, screenshot and screen description.
    // `preparedJPEG` must hold the screenshot; encoding one is the caller's job.
    virtual QCoro::Task<Result<NavigationResponse, GatewayFailure>>
    analyze(ScreenAnalysisInput screen, QByteArray preparedJPEG, QString question, QString baseURL, QString apiKey,
            QString agentID, QStringList established, QList<RecentTurn> conversation, std::stop_token stop) = 0;

    // "/v1/desktop/chat": streams the reply, handing each sentence to
    // `onSentence` as soon as it arrives; returns the whole reply.
    virtual QCoro::Task<Result<QString, GatewayFailure>>
    streamChat(QList<DesktopChatMessage> messages, QString baseURL, QString apiKey, QString agentID, QString sessionID,
               QString channel, SentenceHandler onSentence, std::stop_token stop) = 0;

    // "/v1/audio/transcriptions": the transcript of a WAV recording.
    virtual QCoro::Task<Result<QString, GatewayFailure>>
    transcribeSpeech(QByteArray audioData, QString baseURL, QString apiKey, QString language, QString contextPrompt,
                     QString agentID, std::stop_token stop) = 0;

    // "/v1/desktop/speech": the audio of one sentence.
    virtual QCoro::Task<Result<QByteArray, GatewayFailure>>
    synthesizeSpeech(QString text, QString baseURL, QString apiKey, QString agentID, std::optional<double> pace,
                     std::stop_token stop) = 0;

    // "/v1/desktop/config"
    virtual QCoro::Task<Result<DesktopConfiguration, GatewayFailure>>
    fetchDesktopConfiguration(QString baseURL, QString apiKey, std::stop_token stop) = 0;

    // "/desktop-connect/exchange" (no authorization)
    virtual QCoro::Task<Result<DesktopPairingConfiguration, GatewayFailure>>
    exchangeDesktopPairing(QString baseURL, QString code, std::stop_token stop) = 0;

    // "/v1/desktop/context/warm": a hint; transport failures are passed on unmapped.
    virtual QCoro::Task<Result<Done, GatewayFailure>>
    warmPublicPageContext(QString pageURL, QString baseURL, QString apiKey, QString agentID, std::stop_token stop) = 0;
};

} // namespace nimbel
