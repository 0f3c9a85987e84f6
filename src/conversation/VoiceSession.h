#pragma once

#include "core/Clock.h"
#include "core/TaskSlot.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <QCoro/QCoroTask>

namespace nimbel {

class MicrophoneRecorder;
class OverlayViewModel;
class VoiceOutput;

// The voice side of the view model, as far as this build has one: what the
// question turn speaks through the voice output, and the resume that listens
// again after a turn. The session itself (greeting, listening, transcription,
// barge-in) arrives here; until then `isAvailable` says no and the views keep
// their voice controls disabled.
class VoiceSession final : public QObject
{
    Q_OBJECT
public:
    struct Services
    {
        Clock &clock;
        VoiceOutput &voiceOutput;
        MicrophoneRecorder &microphone;
    };

    VoiceSession(OverlayViewModel &model, Services services);
    ~VoiceSession() override;

    static constexpr bool isAvailable() { return false; }

    void enqueueVoiceSentence(const QString &sentence);
    void stopVoiceOutput();
    bool speechInProgress() const;
    // The synthesised audio of `line` for the connected agent is ready.
    bool hasLineAudio(const QString &line) const;
    // Listens again after `delay` when the session is ready for it.
    void resumeIfNeeded(Milliseconds delay);
    void cancelResume() { m_voiceResume.cancel(); }
    void cancelTranscription() { m_voiceTranscription.cancel(); }
    bool isTranscribing() const { return m_voiceTranscription.isRunning(); }

private:
    struct Readiness
    {
        bool session, voiceMode, connected, listening, busy, speaking, request, muted;
        bool isReadyToListen() const
        {
            return session && voiceMode && connected && !listening && !busy && !speaking && !request && !muted;
        }
    };

    static QCoro::Task<void> resumeTask(QPointer<VoiceSession> self, TaskSlot::Ticket ticket, Milliseconds delay);
    Readiness readiness() const;

    OverlayViewModel &m_model;
    Services m_services;
    TaskSlot m_voiceResume;
    TaskSlot m_voiceTranscription;
};

} // namespace nimbel
