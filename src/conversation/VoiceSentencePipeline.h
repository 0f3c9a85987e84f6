#pragma once

#include "conversation/SharedOutcome.h"
#include "conversation/VoiceOutput.h"
#include "core/Clock.h"
#include "core/Result.h"
#include "core/TaskSlot.h"
#include "gateway/GatewayFailure.h"
#include "settings/AppLanguage.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include <QCoro/QCoroTask>

#include <memory>
#include <optional>
#include <stop_token>

namespace nimbel {

class VisionGateway;
class VoiceOutputService;

// Recently synthesised lines, bounded by count and by total bytes; the least
// recently used entry goes first.
class VoiceAudioCache
{
public:
    static constexpr int countLimit = 24;
    static constexpr qsizetype costLimit = 8 * 1024 * 1024;

    std::optional<QByteArray> find(const QString &key);
    void insert(const QString &key, const QByteArray &audio);
    int count() const { return static_cast<int>(m_entries.size()); }
    qsizetype cost() const { return m_cost; }

private:
    QList<std::pair<QString, QByteArray>> m_entries; // most recent last
    qsizetype m_cost = 0;
};

// The sentence pipeline: a queue of sentences spoken by one playback run at a
// time, each synthesised by the platform (or taken from a cache), its leading
// silence skipped, and played to its end before the next one.
class VoiceSentencePipeline final : public QObject, public VoiceOutput
{
    Q_OBJECT
public:
    static constexpr int leadInLimit = 256;

    VoiceSentencePipeline(VisionGateway &gateway, VoiceOutputService &player, Clock &clock, AppLanguage language);
    ~VoiceSentencePipeline() override;

    // The base URL, the agent and the text, joined by U+001F.
    static QString lineKey(const QString &baseURL, const QString &agentID, const QString &text);

    void setEvents(Events events) override { m_events = std::move(events); }
    void stop() override;
    void setHeld(bool held) override;
    void enqueue(const QString &sentence) override;
    bool isActive() const override { return m_playback.isRunning() || !m_queue.isEmpty(); }
    bool hasCachedAudio(const QString &baseURL, const QString &agentID, const QString &text) const override;
    void prewarm(const QStringList &lines, const SpeechTarget &target) override;

    // The audio of one line: from the caches, joined to a synthesis already
    // running for it, or synthesised.
    QCoro::Task<Result<QByteArray, GatewayFailure>> voiceAudio(QString text, SpeechTarget target, std::stop_token stop);
    // Seconds of leading silence in `audio`, measured once per key.
    double leadIn(const QString &key, const QByteArray &audio);

    const VoiceAudioCache &audioCache() const { return m_audioCache; }
    int openingLineCount() const { return static_cast<int>(m_openingLineAudio.size()); }
    int leadInCount() const { return static_cast<int>(m_leadIns.size()); }

private:
    using Self = QPointer<VoiceSentencePipeline>;
    using Outcome = SharedOutcome<Result<QByteArray, GatewayFailure>>;

    static QCoro::Task<void> run(Self self, TaskSlot::Ticket ticket, SpeechTarget target);
    static QCoro::Task<void> synthesize(Self self, QString key, QString text, SpeechTarget target,
                                        std::optional<double> pace, std::shared_ptr<Outcome> outcome);
    static QCoro::Task<void> prewarmTask(Self self, QStringList lines, SpeechTarget target);
    void store(const QString &key, const QByteArray &audio, bool paced);

    VisionGateway &m_gateway;
    VoiceOutputService &m_player;
    Clock &m_clock;
    AppLanguage m_language;
    Events m_events;
    QStringList m_queue;
    TaskSlot m_playback;
    VoiceAudioCache m_audioCache;
    QHash<QString, QByteArray> m_openingLineAudio;
    QHash<QString, double> m_leadIns;
    QHash<QString, std::shared_ptr<Outcome>> m_audioTasks;
    // Stops every synthesis and prewarming run when the pipeline goes.
    std::stop_source m_lifetime;
};

} // namespace nimbel
