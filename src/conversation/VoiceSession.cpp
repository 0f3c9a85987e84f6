#include "conversation/VoiceSession.h"

#include "conversation/MicrophoneRecorder.h"
#include "conversation/OverlayViewModel.h"
#include "conversation/ResumeGuard.h"
#include "conversation/VoiceOutput.h"
#include "core/Log.h"

namespace nimbel {

VoiceSession::VoiceSession(OverlayViewModel &model, Services services)
    : m_model(model)
    , m_services(services)
{
}

VoiceSession::~VoiceSession()
{
    m_voiceResume.cancel();
    m_voiceTranscription.cancel();
}

bool VoiceSession::speechInProgress() const
{
    return m_model.isSpeaking() || m_services.voiceOutput.isActive();
}

bool VoiceSession::hasLineAudio(const QString &line) const
{
    return m_services.voiceOutput.hasCachedAudio(m_model.gatewayBaseURL(), m_model.connectedAgentID(), line);
}

void VoiceSession::enqueueVoiceSentence(const QString &sentence)
{
    const QString trimmed = sentence.trimmed();
    if (!trimmed.isEmpty())
        m_services.voiceOutput.enqueue(trimmed);
}

void VoiceSession::stopVoiceOutput()
{
    m_services.voiceOutput.stop();
    m_model.setSpeaking(false);
}

VoiceSession::Readiness VoiceSession::readiness() const
{
    return {
        .session = m_model.isVoiceSessionActive(),
        .voiceMode = m_model.interactionMode() == OverlayViewModel::InteractionMode::voice && !m_model.isExpanded(),
        .connected = m_model.isPlatformConnected(),
        .listening = m_model.isListening(),
        .busy = m_model.isBusy(),
        .speaking = speechInProgress(),
        .request = m_model.isRequestRunning() || m_voiceTranscription.isRunning(),
        .muted = m_model.isMicrophoneMuted(),
    };
}

void VoiceSession::resumeIfNeeded(Milliseconds delay)
{
    const Readiness ready = readiness();
    const bool alreadyQueued = m_voiceResume.isRunning();
    if (ready.isReadyToListen() && !alreadyQueued) {
        resumeTask(QPointer<VoiceSession>(this), m_voiceResume.start(), delay);
        return;
    }
    log::info(log::platformVoiceInput(), QStringLiteral("resume_declined ")
                                             + log::Record()
                                                   .add(u"session", ready.session)
                                                   .add(u"voice_mode", ready.voiceMode)
                                                   .add(u"connected", ready.connected)
                                                   .add(u"listening", ready.listening)
                                                   .add(u"busy", ready.busy)
                                                   .add(u"speaking", ready.speaking)
                                                   .add(u"request", ready.request)
                                                   .add(u"muted", ready.muted)
                                                   .add(u"already_queued", alreadyQueued)
                                                   .text());
}

QCoro::Task<void> VoiceSession::resumeTask(QPointer<VoiceSession> self, TaskSlot::Ticket ticket, Milliseconds delay)
{
    VoiceSession *session = self.data();
    if (!session)
        co_return;
    Clock &clock = session->m_services.clock;
    const bool waited = co_await clock.sleep(delay, ticket.token);
    if (!waited)
        co_return;
    session = resumeTarget(self, ticket, &VoiceSession::m_voiceResume);
    if (!session)
        co_return;
    session->m_voiceResume.finish(ticket.id);
    session->m_services.microphone.startListening();
}

} // namespace nimbel
