#pragma once

#include "conversation/MicrophoneRecorder.h"
#include "core/Clock.h"
#include "voice/AudioInput.h"
#include "voice/SpeechActivity.h"
#include "voice/SpeechTypes.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace nimbel {

class EchoCanceller;
class SpeechAudioPreRollBuffer;
class SpeechTap;

// Owns the microphone for one spoken turn at a time: finds where the owner
// starts and stops talking, records that stretch (with a little before it) as a
// 16 kHz WAV file readable only by the owner, and hands its bytes over when the
// turn ends. Lives on the main thread; buffers are handled on the input's thread.
class SpeechRecognitionService final : public QObject, public MicrophoneRecorder
{
    Q_OBJECT
    Q_PROPERTY(float inputLevel READ inputLevel NOTIFY inputLevelChanged)
    Q_PROPERTY(QStringList inputSourceNames READ inputSourceNames NOTIFY inputSourcesChanged)
    Q_PROPERTY(QString defaultInputSource READ defaultInputSource NOTIFY inputSourcesChanged)
    Q_PROPERTY(QString preferredSource READ preferredSource WRITE setPreferredSource NOTIFY preferredSourceChanged)

public:
    enum class State : std::uint8_t { idle = 0, requestingPermission = 1, listening = 2, unavailable = 3 };

    static constexpr Milliseconds utteranceLimit{15000};
    static constexpr Milliseconds settleDelay{250};

    // Recordings go to `recordingFolder` (the system's temporary folder when
    // empty); ones an earlier run left there are removed now.
    SpeechRecognitionService(AudioInput &input, Clock &clock, QString recordingFolder = {},
                             LiveDraftRecognizer *draftRecognizer = nullptr, QObject *parent = nullptr);
    ~SpeechRecognitionService() override;

    std::function<void(State)> onStateChange;
    std::function<void(const QString &)> onTranscriptChange;
    std::function<void(const QString &)> onFinalTranscript;
    std::function<void(const QByteArray &)> onAudioReady;
    // The owner started talking in the current recording (once per recording).
    std::function<void()> onSpeechStarted;
    std::function<void(const SpeechError &)> onError;
    std::function<void(const PermissionSnapshot &)> onPermissionsChange;

    // MicrophoneRecorder
    void startListening() override;
    void finishWithoutDelivering() override { finishRecording(false); }
    QString liveDraft() const override { return m_liveDraft; }
    MicrophoneState microphoneState() const override { return static_cast<MicrophoneState>(m_state); }
    PermissionState authorization() override { return m_input.authorization(); }

    void finishRecording(bool deliverAudio);
    // On-device recognition needs no authorisation here: the models are local files.
    static bool requestDraftAuthorization() { return true; }

    State state() const { return m_state; }
    // "ru…" drafts in Russian, anything else in English.
    void setDraftLanguage(const QString &languageCode) { m_draftLanguage = languageCode; }

    // The loudness of the latest input buffer while listening; 0 otherwise.
    float inputLevel() const { return m_inputLevel; }
    // The input sources the owner can choose between, as last read from the server.
    const std::vector<AudioInput::Source> &inputSources() const { return m_sources; }
    QStringList inputSourceNames() const;
    // The source the system records from by default (what an empty choice follows).
    QString defaultInputSource() const { return m_defaultSource; }
    // Reads the sources again from the server.
    Q_INVOKABLE void refreshInputSources();
    // The chosen source; empty follows the system's default. A chosen source
    // that is missing when a turn begins is passed over for the default.
    QString preferredSource() const { return m_preferredSource; }
    void setPreferredSource(const QString &name);
    // The folder recordings are written to.
    QString recordingFolder() const { return m_folder; }
    // Recordings from the next one on hear the microphone through `canceller`
    // (which the playback feeds); null hears it as it is.
    void setEchoCanceller(EchoCanceller *canceller) { m_echoCanceller = canceller; }

signals:
    void inputLevelChanged();
    void inputSourcesChanged();
    void preferredSourceChanged();

private:
    void checkPermissionAndBegin();
    std::optional<SpeechError> beginRecording();
    void failWith(const SpeechError &error);
    void handleEvent(std::int64_t generation, SpeechActivityEvent event);
    void handleTapFailure(std::int64_t generation);
    void setState(State state);
    void setInputLevel(float level);
    void cancelTimers();

    AudioInput &m_input;
    Clock &m_clock;
    QString m_folder;
    LiveDraftRecognizer *m_draftRecognizer;
    EchoCanceller *m_echoCanceller = nullptr;
    State m_state = State::idle;
    SpeechActivityMonitor m_monitor;
    std::unique_ptr<SpeechAudioPreRollBuffer> m_preRoll;
    std::unique_ptr<SpeechTap> m_tap;
    std::optional<QString> m_recordingURL;
    bool m_inputTapInstalled = false;
    std::optional<Clock::TimerId> m_utteranceDeadline;
    std::optional<Clock::TimerId> m_settle;
    std::int64_t m_recordingGeneration = 0;
    bool m_hasDetectedSpeech = false;
    QString m_liveDraft;
    std::unique_ptr<LiveDraftSession> m_draft;
    // Drafts of delivered turns, winding down after the turn has been handed on.
    std::vector<std::unique_ptr<LiveDraftSession>> m_endingDrafts;
    QString m_draftLanguage;
    float m_inputLevel = 0.0f;
    std::vector<AudioInput::Source> m_sources;
    QString m_defaultSource;
    QString m_preferredSource;
};

} // namespace nimbel
