// The voice session's transcription of a recorded turn: on the platform
// first, on this machine when the platform fails, then asked as a question
// unless it was only noise over the assistant.
#include "conversation/VoiceSession.h"

#include "conversation/FallbackBargeInGuard.h"
#include "conversation/OverlayViewModel.h"
#include "conversation/ResumeGuard.h"
#include "gateway/VisionGateway.h"
#include "settings/Localized.h"
#include "voice/OnDeviceTranscriber.h"

namespace nimbel {

// ---- Transcription ----

QString VoiceSession::recentDialogueForRecognition() const
{
    const QList<ChatMessage> &messages = m_model.messages();
    QStringList texts;
    for (qsizetype i = std::max<qsizetype>(0, messages.size() - 3); i < messages.size(); ++i) {
        const QString text = messages[i].text.trimmed();
        if (!text.isEmpty())
            texts.append(text);
    }
    return texts.join(u' ');
}

void VoiceSession::transcribeVoiceTurn(const QByteArray &audio, bool interruptedAssistant, const QString &reference)
{
    const TaskSlot::Ticket ticket = m_voiceTranscription.start();
    m_model.setListening(false);
    m_model.setState(OverlayViewModel::State::analyzing);
    m_model.setSpeechStatusMessage(L::text("status.transcribing"));
    transcribeTask(Self(this), ticket, audio, languageCode(), recentDialogueForRecognition(), speechTarget(),
                   interruptedAssistant, reference);
}

QCoro::Task<void> VoiceSession::transcribeTask(Self self, TaskSlot::Ticket ticket, QByteArray audio, QString language,
                                               QString prompt, SpeechTarget target, bool interruptedAssistant,
                                               QString reference)
{
    VoiceSession *session = self.data();
    if (!session)
        co_return;
    auto platform = co_await session->m_services.gateway.transcribeSpeech(audio, target.baseURL, target.apiKey,
                                                                          language, prompt, target.agentID,
                                                                          ticket.token);
    session = resumeTarget(self, ticket, &VoiceSession::m_voiceTranscription);
    if (!session)
        co_return;
    if (!platform.ok() && platform.error().isCancelled()) {
        session->m_voiceTranscription.finish(ticket.id);
        co_return;
    }
    if (!session->m_model.isVoiceSessionActive())
        co_return;
    if (platform.ok()) {
        session->m_voiceTranscription.finish(ticket.id);
        session->m_model.setState(OverlayViewModel::State::idle);
        session->applyVoiceTranscript(platform.value(), interruptedAssistant, reference);
        co_return;
    }

    std::optional<QString> onDevice;
    if (OnDeviceTranscriber *transcriber = session->m_services.onDeviceTranscriber) {
        auto local = co_await transcriber->transcribe(audio, language);
        session = resumeTarget(self, ticket, &VoiceSession::m_voiceTranscription);
        if (!session || !session->m_model.isVoiceSessionActive())
            co_return;
        if (local.ok())
            onDevice = local.value();
    }
    session->m_voiceTranscription.finish(ticket.id);
    session->m_model.setState(OverlayViewModel::State::idle);
    if (onDevice) {
        session->m_model.setSpeechStatusMessage(std::nullopt);
        session->applyVoiceTranscript(*onDevice, interruptedAssistant, reference);
        co_return;
    }
    session->m_model.setQuestion(QString());
    // Not knowing what the owner said, the answer goes on.
    session->releaseHeldSpeech();
    session->m_model.setSpeechStatusMessage(QuestionTurnController::transcriptionFailureMessage(platform.error()));
    session->resumeIfNeeded(resumeAfterFailedTranscription);
}

void VoiceSession::applyVoiceTranscript(const QString &text, bool interruptedAssistant,
                                        const QString &assistantReference)
{
    if (interruptedAssistant) {
        if (!FallbackBargeInGuard::shouldInterrupt(text, assistantReference)) {
            m_model.setQuestion(QString());
            m_model.questionTurn().clearFirstLineForTurn();
            m_model.setSpeechStatusMessage(std::nullopt);
            releaseHeldSpeech();
            resumeIfNeeded(resumeAfterRejectedBargeIn);
            return;
        }
        stopVoiceOutput();
    }
    m_model.setQuestion(text);
    m_model.setSpeechStatusMessage(L::text("status.thinking"));
    m_model.submitQuestion(false);
}

} // namespace nimbel
