#include "voice/SpeechRecognitionService.h"

#include "core/Log.h"
#include "voice/EchoCanceller.h"
#include "voice/RecordingFiles.h"
#include "voice/SpeechAudioDownsampler.h"
#include "voice/SpeechAudioPreRollBuffer.h"
#include "voice/SpeechTap.h"

#include <QDir>
#include <QFile>
#include <QPointer>

namespace nimbel {

SpeechRecognitionService::SpeechRecognitionService(AudioInput &input, Clock &clock, QString recordingFolder,
                                                   LiveDraftRecognizer *draftRecognizer, QObject *parent)
    : QObject(parent)
    , m_input(input)
    , m_clock(clock)
    , m_folder(recordingFolder.isEmpty() ? QDir::tempPath() : std::move(recordingFolder))
    , m_draftRecognizer(draftRecognizer)
{
    const int stale = recordingFiles::removeStale(m_folder);
    if (stale > 0)
        log::info(log::platformVoiceInput(), log::Record().add(u"stale_recordings_removed", stale));
    m_input.setSourcesChangedHandler([this] {
        QMetaObject::invokeMethod(this, [this] { refreshInputSources(); }, Qt::QueuedConnection);
    });
    // Reading the list also subscribes to its changes; not while the application is still being built.
    QPointer<SpeechRecognitionService> self(this);
    m_clock.post([self] {
        if (self)
            self->refreshInputSources();
    });
}

SpeechRecognitionService::~SpeechRecognitionService()
{
    m_input.setSourcesChangedHandler({});
    // Nothing may call back into a half-destroyed service.
    onStateChange = {};
    onAudioReady = {};
    onSpeechStarted = {};
    onError = {};
    finishRecording(false);
    cancelTimers();
}

void SpeechRecognitionService::startListening()
{
    if (m_state != State::idle && m_state != State::unavailable)
        return;
    setState(State::requestingPermission);
    QPointer<SpeechRecognitionService> self(this);
    m_clock.post([self] {
        if (self)
            self->checkPermissionAndBegin();
    });
}

void SpeechRecognitionService::checkPermissionAndBegin()
{
    if (m_state != State::requestingPermission)
        return;
    const PermissionState microphone = m_input.authorization();
    if (onPermissionsChange)
        onPermissionsChange(PermissionSnapshot{microphone, PermissionState::authorized});
    if (m_state != State::requestingPermission)
        return;
    if (microphone != PermissionState::authorized) {
        // A refusal is a permission matter; a server that does not answer, or
        // has no microphone at all, is not, and says so instead.
        const bool refused = microphone == PermissionState::denied || microphone == PermissionState::restricted;
        failWith(refused ? SpeechError::microphoneDenied : SpeechError::invalidAudioFormat);
        return;
    }
    if (const std::optional<SpeechError> error = beginRecording())
        failWith(*error);
}

void SpeechRecognitionService::failWith(const SpeechError &error)
{
    finishRecording(false);
    setState(State::unavailable);
    log::error(log::platformVoiceInput(), log::Record().add(u"platform_recording_failed", error.localizationKey()));
    if (onError)
        onError(error);
}

std::optional<SpeechError> SpeechRecognitionService::beginRecording()
{
    cancelTimers();
    const std::int64_t generation = ++m_recordingGeneration;
    m_hasDetectedSpeech = false;
    m_monitor.reset();
    if (m_preRoll)
        m_preRoll->reset();
    if (onTranscriptChange)
        onTranscriptChange(QString());

    refreshInputSources();
    QString source = m_preferredSource;
    if (!source.isEmpty()
        && std::none_of(m_sources.begin(), m_sources.end(), [&](const auto &s) { return s.name == source; }))
        source.clear();
    std::optional<AudioInput::Format> format = m_input.open(source);
    if (!format || !(format->sampleRate > 0.0) || format->channels == 0)
        return SpeechError::invalidAudioFormat;
    // With the canceller, detection and the recording see its cleaned output.
    EchoCanceller *canceller = m_echoCanceller;
    if (canceller && canceller->begin(format->sampleRate, format->channels))
        format = AudioInput::Format{double(EchoCanceller::processingRate), 1};
    else
        canceller = nullptr;
    auto downsampler = SpeechAudioDownsampler::create(format->sampleRate, format->channels);
    if (!downsampler)
        return SpeechError::invalidAudioFormat;

    m_recordingURL = recordingFiles::newRecordingPath(m_folder);
    m_preRoll = std::make_unique<SpeechAudioPreRollBuffer>(format->sampleRate);

    m_liveDraft.clear();
    if (m_draftRecognizer && requestDraftAuthorization()) {
        const QString locale = m_draftLanguage.toLower().startsWith(u"ru") ? QStringLiteral("ru-RU")
                                                                           : QStringLiteral("en-US");
        QPointer<SpeechRecognitionService> self(this);
        m_draft = m_draftRecognizer->begin(locale, [self, generation](QString text) {
            QMetaObject::invokeMethod(
                self.data(),
                [self, generation, text = std::move(text)] {
                    if (self && self->m_recordingGeneration == generation)
                        self->m_liveDraft = text;
                },
                Qt::QueuedConnection);
        });
    }

    m_tap = std::make_unique<SpeechTap>(m_monitor, *m_preRoll, std::move(downsampler).value(), format->channels,
                                        *m_recordingURL, m_draft.get());
    SpeechTap *tap = m_tap.get();
    m_inputTapInstalled = true;
    const bool started = m_input.start(
        [this, tap, generation, canceller, cleaned = std::vector<float>()](const float *samples, std::size_t frames,
                                                                           double time) mutable {
            if (canceller) {
                cleaned.clear();
                canceller->process(samples, frames, cleaned);
                samples = cleaned.data();
                frames = cleaned.size();
                // Less than 10 ms so far: it comes out with the next buffer.
                if (frames == 0)
                    return;
            }
            const SpeechTap::Outcome outcome = tap->process(samples, frames, time);
            if (outcome.failed) {
                QMetaObject::invokeMethod(this, [this, generation] { handleTapFailure(generation); },
                                          Qt::QueuedConnection);
                return;
            }
            const float level = outcome.level.value_or(0.0f);
            const SpeechActivityEvent event = outcome.event;
            QMetaObject::invokeMethod(
                this,
                [this, generation, level, event] {
                    if (generation != m_recordingGeneration || m_state != State::listening)
                        return;
                    setInputLevel(level);
                    if (event != SpeechActivityEvent::none)
                        handleEvent(generation, event);
                },
                Qt::QueuedConnection);
        },
        [this, generation] {
            QMetaObject::invokeMethod(this, [this, generation] { handleTapFailure(generation); },
                                      Qt::QueuedConnection);
        });
    if (!started)
        return SpeechError::recordingFailed;

    setState(State::listening);
    log::info(log::platformVoiceInput(),
              QStringLiteral("platform_recording_started ") + log::Record().add(u"generation", generation).text());
    return std::nullopt;
}

void SpeechRecognitionService::handleTapFailure(std::int64_t generation)
{
    // A failure of a recording that has already ended concerns nobody.
    if (generation != m_recordingGeneration)
        return;
    failWith(SpeechError::recordingFailed);
}

void SpeechRecognitionService::handleEvent(std::int64_t generation, SpeechActivityEvent event)
{
    if (generation != m_recordingGeneration || m_state != State::listening || event == SpeechActivityEvent::none)
        return;
    const QString g = log::Record().add(u"generation", generation).text();
    if (event == SpeechActivityEvent::speechStarted) {
        m_hasDetectedSpeech = true;
        if (m_settle) {
            m_clock.cancel(*m_settle);
            m_settle.reset();
            log::info(log::platformVoiceInput(), QStringLiteral("platform_speech_resumed ") + g);
        } else {
            log::info(log::platformVoiceInput(), QStringLiteral("platform_speech_started ") + g);
            if (onSpeechStarted)
                onSpeechStarted();
        }
        if (!m_utteranceDeadline) {
            m_utteranceDeadline = m_clock.schedule(utteranceLimit, [this, generation] {
                m_utteranceDeadline.reset();
                if (generation == m_recordingGeneration)
                    finishRecording(true);
            });
        }
        return;
    }
    if (m_settle)
        return;
    log::info(log::platformVoiceInput(), QStringLiteral("platform_speech_ended ") + g);
    m_settle = m_clock.schedule(settleDelay, [this, generation, g] {
        m_settle.reset();
        if (generation != m_recordingGeneration || m_state != State::listening)
            return;
        log::info(log::platformVoiceInput(), QStringLiteral("platform_turn_settled ") + g);
        finishRecording(true);
    });
}

void SpeechRecognitionService::finishRecording(bool deliverAudio)
{
    if (m_state == State::idle && !m_input.isRunning() && !m_inputTapInstalled && !m_tap)
        return;
    cancelTimers();
    ++m_recordingGeneration;

    m_monitor.reset();
    if (m_preRoll)
        m_preRoll->reset();
    m_input.stop();
    if (m_echoCanceller)
        m_echoCanceller->end();
    m_inputTapInstalled = false;
    // The input has stopped: nothing writes to the recording any more. The
    // draft's recogniser takes up to a tenth of a second to wind down.
    std::unique_ptr<LiveDraftSession> draft = std::move(m_draft);
    bool complete = true;
    if (m_tap) {
        complete = m_tap->close();
        m_tap.reset();
    }

    const std::optional<QString> path = std::exchange(m_recordingURL, std::nullopt);
    m_hasDetectedSpeech = false;
    QByteArray bytes;
    if (path) {
        QFile file(*path);
        if (deliverAudio && complete && file.open(QIODevice::ReadOnly))
            bytes = file.readAll();
        file.close();
        QFile::remove(*path);
    }
    const bool delivering = deliverAudio && bytes.size() > 128;
    if (delivering && draft) {
        // Not in the way of the turn (the first line may start on its delivery).
        m_endingDrafts.push_back(std::move(draft));
        QPointer<SpeechRecognitionService> self(this);
        m_clock.post([self] {
            if (self)
                self->m_endingDrafts.clear();
        });
    }
    draft.reset();
    if (delivering) {
        log::info(log::platformVoiceInput(),
                  QStringLiteral("platform_recording_ready ") + log::Record().add(u"bytes", bytes.size()).text());
        if (onAudioReady)
            onAudioReady(bytes);
    }
    setInputLevel(0.0f);
    setState(State::idle);
}

void SpeechRecognitionService::setState(State state)
{
    m_state = state;
    if (onStateChange)
        onStateChange(state);
}

void SpeechRecognitionService::setInputLevel(float level)
{
    if (level == m_inputLevel)
        return;
    m_inputLevel = level;
    emit inputLevelChanged();
}

void SpeechRecognitionService::cancelTimers()
{
    if (m_utteranceDeadline)
        m_clock.cancel(*std::exchange(m_utteranceDeadline, std::nullopt));
    if (m_settle)
        m_clock.cancel(*std::exchange(m_settle, std::nullopt));
}

QStringList SpeechRecognitionService::inputSourceNames() const
{
    QStringList names;
    for (const AudioInput::Source &source : m_sources)
        names << source.name;
    return names;
}

void SpeechRecognitionService::refreshInputSources()
{
    std::vector<AudioInput::Source> sources = m_input.sources();
    QString defaultSource = sources.empty() ? QString() : m_input.defaultSource();
    if (sources == m_sources && defaultSource == m_defaultSource)
        return;
    m_sources = std::move(sources);
    m_defaultSource = std::move(defaultSource);
    emit inputSourcesChanged();
}

void SpeechRecognitionService::setPreferredSource(const QString &name)
{
    if (name == m_preferredSource)
        return;
    m_preferredSource = name;
    emit preferredSourceChanged();
}

} // namespace nimbel
