#pragma once

#include "conversation/MicrophoneRecorder.h"
#include "conversation/VoiceOutput.h"
#include "core/Clock.h"
#include "core/TaskSlot.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

#include <QCoro/QCoroTask>

#include <optional>

namespace nimbel {

class AccessibilityTrust;
class OnDeviceTranscriber;
class OverlayViewModel;
class SessionCueService;
class SpeechRecognitionService;
class VisionGateway;
struct PermissionSnapshot;
struct ZelmFailure;

// The hands-free conversation: starting and ending a session, listening again
// when the session is ready for it, transcribing each spoken turn (on the
// platform, else on this machine), letting the owner talk over the assistant,
// muting, and speaking through the voice output with the greeting first.
class VoiceSession final : public QObject
{
    Q_OBJECT
public:
    struct Services
    {
        Clock &clock;
        VoiceOutput &voiceOutput;
        MicrophoneRecorder &microphone;
        VisionGateway &gateway;
        AccessibilityTrust &accessibilityTrust;
        // Without it a turn the platform could not transcribe is lost.
        OnDeviceTranscriber *onDeviceTranscriber = nullptr;
        // Without it sessions start and end silently.
        SessionCueService *cues = nullptr;
    };

    // The eight values that decide whether to listen again, in log order.
    struct Readiness
    {
        bool session, voiceMode, connected, listening, busy, speaking, request, muted;
        bool isReadyToListen() const
        {
            return session && voiceMode && connected && !listening && !busy && !speaking && !request && !muted;
        }
    };

    static constexpr Milliseconds greetingDelay{440};
    static constexpr Milliseconds voiceOffStatusDuration{700};
    static constexpr Milliseconds resumeAfterIdle{250};
    static constexpr Milliseconds resumeAfterSpeech{350};
    static constexpr Milliseconds resumeAfterFailedTranscription{650};
    static constexpr Milliseconds resumeAfterRejectedBargeIn{180};
    static constexpr Milliseconds resumeAfterUnmute{80};
    static constexpr Milliseconds bargeInRestartDelay{120};
    static constexpr Milliseconds greetingThrottle{2000};

    VoiceSession(OverlayViewModel &model, Services services);
    ~VoiceSession() override;

    static constexpr bool isAvailable() { return true; }

    // Starts a session, or ends the running one.
    void toggleListening();
    // The orb's voice action: leaves the chat first when it is open.
    void activateVoiceOrb();
    void setMicrophoneMuted(bool muted);
    void setVoiceOutputEnabled(bool enabled);

    // Installs the handlers below as `service`'s callbacks (they hold the session weakly).
    void listenTo(SpeechRecognitionService &service);
    // The microphone service's callbacks.
    void handleMicrophoneState(MicrophoneState state);
    void handleTranscriptChange(const QString &text);
    void handleFinalTranscript(const QString &text);
    void handleAudioReady(const QByteArray &audio);
    // The owner started talking: over the assistant, its speech is held at
    // once, and the turn's transcript decides whether it stops or goes on.
    void handleSpeechStarted();
    void handleMicrophoneFailure(const ZelmFailure &failure);
    void applyVoicePermissions(const PermissionSnapshot &snapshot);
    // Reads the microphone's permission again and applies it.
    void refreshVoicePermissions();

    // Speech.
    void enqueueVoiceSentence(const QString &sentence);
    void stopVoiceOutput();
    // Ends a hold of the speech for the owner's turn; it plays on from where it was.
    void releaseHeldSpeech();
    bool isSpeechHeld() const { return m_speechHeld; }
    bool speechInProgress() const;
    // The synthesised audio of `line` for the connected agent is ready.
    bool hasLineAudio(const QString &line) const;
    const QString &fallbackBargeInReference() const { return m_fallbackBargeInReference; }

    // Greeting and the audio fetched ahead of time.
    void announceGreeting();
    QString greetingText() const;
    // The greeting, then the opening lines (voice output on and connected only).
    void prewarmVoiceLines();

    // Listening again.
    Readiness readiness() const;
    bool isFallbackBargeInActive() const;
    void resumeIfNeeded(Milliseconds delay);
    void startListeningForActiveSession();
    void restartFallbackBargeInListening();
    void cancelResume() { m_voiceResume.cancel(); }
    void cancelTranscription() { m_voiceTranscription.cancel(); }
    bool isTranscribing() const { return m_voiceTranscription.isRunning(); }

    // A transcribed turn: asks it, unless it was only noise over the assistant.
    void applyVoiceTranscript(const QString &text, bool interruptedAssistant, const QString &assistantReference);
    // The last three messages, trimmed, joined by spaces: a hint for transcription.
    QString recentDialogueForRecognition() const;
    // "ru" or "en" after the interface language.
    QString languageCode() const;

private:
    using Self = QPointer<VoiceSession>;

    void startPlatformVoiceSession();
    void stopVoiceSession();
    void transcribeVoiceTurn(const QByteArray &audio, bool interruptedAssistant, const QString &reference);
    void speechRunEnded(bool failed);
    SpeechTarget speechTarget() const;
    QString launcherDisplayName() const;
    void playCue(bool connect);
    static QCoro::Task<void> resumeTask(Self self, TaskSlot::Ticket ticket, Milliseconds delay);
    static QCoro::Task<void> bargeInRestartTask(Self self, TaskSlot::Ticket ticket);
    static QCoro::Task<void> transcribeTask(Self self, TaskSlot::Ticket ticket, QByteArray audio, QString language,
                                            QString prompt, SpeechTarget target, bool interruptedAssistant,
                                            QString reference);

    OverlayViewModel &m_model;
    Services m_services;
    TaskSlot m_voiceResume;
    TaskSlot m_voiceTranscription;
    TaskSlot m_fallbackBargeInRestart;
    QString m_fallbackBargeInReference;
    bool m_speechHeld = false;
    // A hold of this speech run let it play on: echo is getting through, so
    // the run waits for transcripts from now on rather than pause again.
    bool m_holdSpent = false;
    std::optional<Milliseconds> m_lastGreetingAt;
};

} // namespace nimbel
