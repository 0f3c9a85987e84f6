#pragma once

#include "conversation/SharedOutcome.h"
#include "gateway/VisionGateway.h"

#include <QList>

#include <memory>
#include <optional>

namespace nimbel::test {

// A platform whose answers the test gives, call by call. Every call is kept
// with its inputs and its stop token; the test completes it with `answer`,
// and the caller resumes on the next turn of the (virtual) event loop. A
// stopped call resumes with GatewayFailure::cancelled(), as the real client does.
class FakeVisionGateway final : public VisionGateway
{
public:
    template<typename T>
    struct Call
    {
        explicit Call(Clock &clock) : outcome(clock) {}
        std::stop_token stop;
        SharedOutcome<Result<T, GatewayFailure>> outcome;

        void answer(T value) { outcome.set(Result<T, GatewayFailure>(std::move(value))); }
        void answer(GatewayFailure failure) { outcome.set(Result<T, GatewayFailure>(std::move(failure))); }
        bool isStopped() const { return stop.stop_requested(); }
        bool isAnswered() const { return outcome.isSet(); }
    };

    struct ChatCall : Call<QString>
    {
        using Call::Call;
        QList<DesktopChatMessage> messages;
        QString apiKey, channel;
        SentenceHandler onSentence;
        // Hands one streamed sentence to the caller, as the reader does on the main thread.
        void sentence(const QString &text) const { onSentence(text); }
    };
    struct ConfigurationCall : Call<DesktopConfiguration>
    {
        using Call::Call;
        QString baseURL, apiKey;
    };
    struct PairingCall : Call<DesktopPairingConfiguration>
    {
        using Call::Call;
        QString baseURL, code;
    };
    struct TranscribeCall : Call<QString>
    {
        using Call::Call;
        QString language;
    };
    struct SynthesizeCall : Call<QByteArray>
    {
        using Call::Call;
        QString text;
        std::optional<double> pace;
    };
    struct AnalyzeCall : Call<NavigationResponse>
    {
        using Call::Call;
        ScreenAnalysisInput screen;
        QByteArray jpeg;
        QString question;
    };

    explicit FakeVisionGateway(Clock &clock) : m_clock(clock) {}

    // When set, configuration fetches are answered at once with it.
    std::optional<Result<DesktopConfiguration, GatewayFailure>> configurationAnswer;

    QList<std::shared_ptr<ChatCall>> chats;
    QList<std::shared_ptr<ConfigurationCall>> configurations;
    QList<std::shared_ptr<PairingCall>> pairings;
    QList<std::shared_ptr<AnalyzeCall>> analyses;
    QList<std::shared_ptr<TranscribeCall>> transcriptions;
    QList<std::shared_ptr<SynthesizeCall>> syntheses;
    // Page warm-ups (their page addresses) are answered at once with `warmAnswer`.
    QStringList warmUps;
    Result<Done, GatewayFailure> warmAnswer = Done{};

    QCoro::Task<Result<QString, GatewayFailure>> streamChat(QList<DesktopChatMessage> messages, QString, QString apiKey,
                                                           QString, QString, QString channel, SentenceHandler onSentence,
                                                           std::stop_token stop) override
    {
        auto call = std::make_shared<ChatCall>(m_clock);
        call->messages = messages;
        call->apiKey = apiKey;
        call->channel = channel;
        call->onSentence = onSentence;
        co_return co_await record(chats, call, stop);
    }

    QCoro::Task<Result<DesktopConfiguration, GatewayFailure>>
    fetchDesktopConfiguration(QString baseURL, QString apiKey, std::stop_token stop) override
    {
        auto call = std::make_shared<ConfigurationCall>(m_clock);
        call->baseURL = baseURL;
        call->apiKey = apiKey;
        if (configurationAnswer)
            call->outcome.set(*configurationAnswer);
        co_return co_await record(configurations, call, stop);
    }

    QCoro::Task<Result<DesktopPairingConfiguration, GatewayFailure>>
    exchangeDesktopPairing(QString baseURL, QString code, std::stop_token stop) override
    {
        auto call = std::make_shared<PairingCall>(m_clock);
        call->baseURL = baseURL;
        call->code = code;
        co_return co_await record(pairings, call, stop);
    }

    QCoro::Task<Result<NavigationResponse, GatewayFailure>>
    analyze(ScreenAnalysisInput screen, QByteArray jpeg, QString question, QString, QString, QString, QStringList,
            QList<RecentTurn>, std::stop_token stop) override
    {
        auto call = std::make_shared<AnalyzeCall>(m_clock);
        call->screen = screen;
        call->jpeg = jpeg;
        call->question = question;
        co_return co_await record(analyses, call, stop);
    }

    QCoro::Task<Result<Done, GatewayFailure>> warmPublicPageContext(QString pageURL, QString, QString, QString,
                                                                   std::stop_token) override
    {
        warmUps.append(pageURL);
        co_return warmAnswer;
    }

    QCoro::Task<Result<QString, GatewayFailure>> transcribeSpeech(QByteArray, QString, QString, QString language,
                                                                 QString, QString,
                                                                 std::stop_token stop) override
    {
        auto call = std::make_shared<TranscribeCall>(m_clock);
        call->language = language;
        return record(transcriptions, std::move(call), std::move(stop));
    }
    QCoro::Task<Result<QByteArray, GatewayFailure>> synthesizeSpeech(QString text, QString, QString, QString,
                                                                    std::optional<double> pace,
                                                                    std::stop_token stop) override
    {
        auto call = std::make_shared<SynthesizeCall>(m_clock);
        call->text = text;
        call->pace = pace;
        return record(syntheses, std::move(call), std::move(stop));
    }

private:
    // Keeps `call` in `list`, then waits for the test's answer or the stop.
    template<typename CallType>
    static auto record(QList<std::shared_ptr<CallType>> &list, std::shared_ptr<CallType> call, std::stop_token stop)
        -> QCoro::Task<std::remove_cvref_t<decltype(call->outcome.value())>>
    {
        call->stop = stop;
        list.append(call);
        const bool arrived = co_await call->outcome.wait(call->stop);
        if (!arrived)
            co_return GatewayFailure::cancelled();
        co_return call->outcome.value();
    }

    Clock &m_clock;
};

} // namespace nimbel::test
