#include "conversation/VoiceSentencePipeline.h"

#include "conversation/DesktopOpeningLine.h"
#include "conversation/ResumeGuard.h"
#include "core/Log.h"
#include "gateway/VisionGateway.h"
#include "voice/VoiceLeadIn.h"
#include "voice/VoiceOutputService.h"

#include <cmath>

namespace nimbel {

// ---- The audio cache ----

std::optional<QByteArray> VoiceAudioCache::find(const QString &key)
{
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i].first == key) {
            auto entry = m_entries.takeAt(i);
            m_entries.append(entry);
            return entry.second;
        }
    }
    return std::nullopt;
}

void VoiceAudioCache::insert(const QString &key, const QByteArray &audio)
{
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i].first == key) {
            m_cost -= m_entries[i].second.size();
            m_entries.removeAt(i);
            break;
        }
    }
    // A clip larger than the whole budget would only push everything else out.
    if (audio.size() > costLimit)
        return;
    m_entries.append({key, audio});
    m_cost += audio.size();
    while (m_entries.size() > countLimit || m_cost > costLimit) {
        m_cost -= m_entries.first().second.size();
        m_entries.removeFirst();
    }
}

// ---- The pipeline ----

VoiceSentencePipeline::VoiceSentencePipeline(VisionGateway &gateway, VoiceOutputService &player, Clock &clock,
                                             AppLanguage language)
    : m_gateway(gateway)
    , m_player(player)
    , m_clock(clock)
    , m_language(language)
{
}

VoiceSentencePipeline::~VoiceSentencePipeline()
{
    m_playback.cancel();
    m_lifetime.request_stop();
}

QString VoiceSentencePipeline::lineKey(const QString &baseURL, const QString &agentID, const QString &text)
{
    return baseURL + QChar(0x1F) + agentID + QChar(0x1F) + text;
}

bool VoiceSentencePipeline::hasCachedAudio(const QString &baseURL, const QString &agentID, const QString &text) const
{
    return m_openingLineAudio.contains(lineKey(baseURL, agentID, text));
}

void VoiceSentencePipeline::stop()
{
    // The identifier goes first, so the stopped run's end reports nothing.
    m_playback.cancel();
    m_queue.clear();
    m_player.stop();
    m_player.setHeld(false);
}

void VoiceSentencePipeline::setHeld(bool held)
{
    m_player.setHeld(held);
}

void VoiceSentencePipeline::enqueue(const QString &sentence)
{
    m_queue.append(sentence);
    if (m_playback.isRunning())
        return;
    const SpeechTarget target = m_events.target ? m_events.target() : SpeechTarget{};
    run(Self(this), m_playback.start(), target);
}

QCoro::Task<void> VoiceSentencePipeline::run(Self self, TaskSlot::Ticket ticket, SpeechTarget target)
{
    bool failed = false;
    VoiceSentencePipeline *pipeline = resumeTarget(self, ticket, &VoiceSentencePipeline::m_playback);
    while (pipeline && !pipeline->m_queue.isEmpty()) {
        const QString sentence = pipeline->m_queue.takeFirst();
        const QString key = lineKey(target.baseURL, target.agentID, sentence);
        auto audio = co_await pipeline->voiceAudio(sentence, target, ticket.token);
        pipeline = resumeTarget(self, ticket, &VoiceSentencePipeline::m_playback);
        if (!pipeline)
            co_return;
        if (!audio.ok()) {
            failed = true;
            break;
        }
        const double skip = pipeline->leadIn(key, audio.value());
        const Milliseconds started = pipeline->m_clock.uptime();
        auto played = co_await pipeline->m_player.playAndWait(audio.value(), skip, ticket.token);
        pipeline = resumeTarget(self, ticket, &VoiceSentencePipeline::m_playback);
        if (!pipeline)
            co_return;
        if (!played.ok()) {
            failed = true;
            break;
        }
        log::info(log::platformVoiceInput(),
                  log::Record()
                      .add(u"voice_line", sentence)
                      .add(u"lead_in_ms", static_cast<qint64>(std::llround(skip * 1000.0)))
                      .add(u"played_ms", static_cast<qint64>((pipeline->m_clock.uptime() - started).count())));
        if (pipeline->m_events.linePlayed)
            pipeline->m_events.linePlayed();
    }
    if (!pipeline)
        co_return;
    if (failed)
        pipeline->m_queue.clear();
    pipeline->m_playback.finish(ticket.id);
    if (pipeline->m_events.runEnded)
        pipeline->m_events.runEnded(failed);
}

QCoro::Task<Result<QByteArray, GatewayFailure>> VoiceSentencePipeline::voiceAudio(QString text, SpeechTarget target,
                                                                                  std::stop_token stop)
{
    const QString key = lineKey(target.baseURL, target.agentID, text);
    if (auto found = m_openingLineAudio.constFind(key); found != m_openingLineAudio.constEnd())
        co_return *found;
    if (auto cached = m_audioCache.find(key))
        co_return *cached;
    std::shared_ptr<Outcome> outcome = m_audioTasks.value(key);
    if (!outcome) {
        outcome = std::make_shared<Outcome>(m_clock);
        m_audioTasks.insert(key, outcome);
        synthesize(Self(this), key, text, target, DesktopOpeningLine::paceScale(text), outcome);
    }
    const bool arrived = co_await outcome->wait(std::move(stop));
    if (!arrived)
        co_return GatewayFailure::cancelled();
    co_return outcome->value();
}

QCoro::Task<void> VoiceSentencePipeline::synthesize(Self self, QString key, QString text, SpeechTarget target,
                                                    std::optional<double> pace, std::shared_ptr<Outcome> outcome)
{
    VoiceSentencePipeline *pipeline = self.data();
    if (!pipeline) {
        outcome->set(GatewayFailure::cancelled());
        co_return;
    }
    auto audio = co_await pipeline->m_gateway.synthesizeSpeech(text, target.baseURL, target.apiKey, target.agentID,
                                                               pace, pipeline->m_lifetime.get_token());
    pipeline = self.data();
    if (pipeline) {
        if (pipeline->m_audioTasks.value(key) == outcome)
            pipeline->m_audioTasks.remove(key);
        if (audio.ok())
            pipeline->store(key, audio.value(), pace.has_value());
    }
    outcome->set(std::move(audio));
}

void VoiceSentencePipeline::store(const QString &key, const QByteArray &audio, bool paced)
{
    if (!paced) {
        m_audioCache.insert(key, audio);
        return;
    }
    if (m_openingLineAudio.size() > 2 * DesktopOpeningLine::prewarmed(m_language).size())
        m_openingLineAudio.clear();
    m_openingLineAudio.insert(key, audio);
}

double VoiceSentencePipeline::leadIn(const QString &key, const QByteArray &audio)
{
    if (auto found = m_leadIns.constFind(key); found != m_leadIns.constEnd())
        return *found;
    const double offset = VoiceLeadIn::offset(audio);
    if (m_leadIns.size() > leadInLimit)
        m_leadIns.clear();
    m_leadIns.insert(key, offset);
    return offset;
}

void VoiceSentencePipeline::prewarm(const QStringList &lines, const SpeechTarget &target)
{
    prewarmTask(Self(this), lines, target);
}

QCoro::Task<void> VoiceSentencePipeline::prewarmTask(Self self, QStringList lines, SpeechTarget target)
{
    for (const QString &line : lines) {
        VoiceSentencePipeline *pipeline = self.data();
        if (!pipeline)
            co_return;
        auto audio = co_await pipeline->voiceAudio(line, target, pipeline->m_lifetime.get_token());
        pipeline = self.data();
        if (!pipeline)
            co_return;
        if (audio.ok())
            pipeline->leadIn(lineKey(target.baseURL, target.agentID, line), audio.value());
    }
}

} // namespace nimbel
