#include "conversation/VoiceSession.h"

#include "conversation/AccessibilityTrust.h"
#include "conversation/DesktopOpeningLine.h"
#include "conversation/FallbackBargeInGuard.h"
#include "conversation/OverlayViewModel.h"
#include "conversation/ResumeGuard.h"
#include "conversation/VoiceGreetingPolicy.h"
#include "core/Log.h"
#include "gateway/VisionGateway.h"
#include "settings/Localized.h"
#include "voice/OnDeviceTranscriber.h"
#include "voice/SessionCueService.h"
#include "voice/SpeechRecognitionService.h"
#include "voice/SpeechTypes.h"

#include <QVariantMap>

namespace nimbel {

namespace {

using Mode = OverlayViewModel::InteractionMode;

} // namespace

VoiceSession::VoiceSession(OverlayViewModel &model, Services services)
    : m_model(model)
    , m_services(services)
{
    m_services.voiceOutput.setEvents({
        .target = [this] { return speechTarget(); },
        .linePlayed = [this] { m_model.setSpeechStatusMessage(std::nullopt); },
        .runEnded = [this](bool failed) { speechRunEnded(failed); },
    });
}

VoiceSession::~VoiceSession()
{
    m_services.voiceOutput.setEvents({});
    m_voiceResume.cancel();
    m_voiceTranscription.cancel();
    m_fallbackBargeInRestart.cancel();
}

QString VoiceSession::launcherDisplayName() const
{
    const QString name = m_model.connectedAgentName().trimmed();
    return name.isEmpty() ? QStringLiteral("Nimbel") : name;
}

SpeechTarget VoiceSession::speechTarget() const
{
    return {m_model.gatewayBaseURL(), m_model.platformAPIKey(), m_model.connectedAgentID()};
}

QString VoiceSession::languageCode() const
{
    return m_model.language() == AppLanguage::ru ? QStringLiteral("ru") : QStringLiteral("en");
}

void VoiceSession::playCue(bool connect)
{
    if (m_services.cues)
        m_services.cues->play(connect ? SessionCueService::Cue::connect : SessionCueService::Cue::disconnect);
}

// ---- Starting and ending ----

void VoiceSession::activateVoiceOrb()
{
    if (m_model.interactionMode() == Mode::chat || m_model.isExpanded())
        m_model.closeChat();
    toggleListening();
}

void VoiceSession::toggleListening()
{
    m_model.setInteractionMode(Mode::voice);
    m_model.setExpanded(false);
    if (m_model.isVoiceSessionActive()) {
        stopVoiceSession();
        return;
    }
    if (!m_model.isPlatformConnected()) {
        m_model.fail(VisionGatewayError::notConnected(), false);
        return;
    }
    if (m_model.isBusy())
        m_model.cancelCurrentResponse(true, true);
    m_model.setFailure(std::nullopt);
    stopVoiceOutput();
    m_model.setQuestion(QString());
    m_model.setAnswer(QVariant());
    m_model.setMicrophoneMuted(false);
    m_model.questionTurn().compactConversationIfFull();
    m_model.setVoiceSessionActive(true);
    startPlatformVoiceSession();
}

void VoiceSession::startPlatformVoiceSession()
{
    m_model.setState(OverlayViewModel::State::idle);
    playCue(true);
    if (!m_model.voiceOutputEnabled()) {
        announceGreeting();
        return;
    }
    m_services.clock.schedule(greetingDelay, [self = Self(this)] {
        if (self && self->m_model.isVoiceSessionActive())
            self->announceGreeting();
    });
    [](Self self) -> QCoro::Task<void> {
        if (self)
            co_await self->m_model.synchronizePlatformConfiguration(false);
    }(Self(this));
}

void VoiceSession::stopVoiceSession()
{
    playCue(false);
    m_model.questionTurn().clearFirstLineForTurn();
    m_model.setVoiceSessionActive(false);
    m_model.setMicrophoneMuted(false);
    m_model.setSpeaking(false);
    m_model.clearPreparedScreenContext();
    m_voiceResume.cancel();
    m_services.microphone.finishWithoutDelivering();
    m_voiceTranscription.cancel();
    m_model.cancelCurrentResponse(true, true);
    m_model.setQuestion(QString());
    const QString voiceOff = L::text("status.voiceOff");
    m_model.setSpeechStatusMessage(voiceOff);
    m_services.clock.schedule(voiceOffStatusDuration, [self = Self(this), voiceOff] {
        if (self && !self->m_model.isVoiceSessionActive() && self->m_model.speechStatusMessage() == voiceOff)
            self->m_model.setSpeechStatusMessage(std::nullopt);
    });
}

// ---- Listening again ----

VoiceSession::Readiness VoiceSession::readiness() const
{
    return {
        .session = m_model.isVoiceSessionActive(),
        .voiceMode = m_model.interactionMode() == Mode::voice && !m_model.isExpanded(),
        .connected = m_model.isPlatformConnected(),
        .listening = m_services.microphone.isCapturing(),
        .busy = m_model.isBusy(),
        .speaking = speechInProgress(),
        .request = m_model.isRequestRunning() || m_voiceTranscription.isRunning(),
        .muted = m_model.isMicrophoneMuted(),
    };
}

bool VoiceSession::isFallbackBargeInActive() const
{
    return m_model.isVoiceSessionActive() && m_model.interactionMode() == Mode::voice && m_model.isSpeaking()
           && !m_model.isMicrophoneMuted();
}

void VoiceSession::resumeIfNeeded(Milliseconds delay)
{
    const Readiness ready = readiness();
    const bool alreadyQueued = m_voiceResume.isRunning();
    if (ready.isReadyToListen() && !alreadyQueued) {
        resumeTask(Self(this), m_voiceResume.start(), delay);
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

QCoro::Task<void> VoiceSession::resumeTask(Self self, TaskSlot::Ticket ticket, Milliseconds delay)
{
    VoiceSession *session = self.data();
    if (!session)
        co_return;
    const bool waited = co_await session->m_services.clock.sleep(delay, ticket.token);
    if (!waited)
        co_return;
    session = resumeTarget(self, ticket, &VoiceSession::m_voiceResume);
    if (!session)
        co_return;
    session->m_voiceResume.finish(ticket.id);
    session->startListeningForActiveSession();
}

void VoiceSession::startListeningForActiveSession()
{
    m_voiceResume.cancel();
    if (!readiness().isReadyToListen())
        return;
    m_model.setQuestion(QString());
    m_model.setAnswer(QVariant());
    m_services.microphone.startListening();
}

void VoiceSession::restartFallbackBargeInListening()
{
    m_fallbackBargeInRestart.cancel();
    if (isFallbackBargeInActive())
        bargeInRestartTask(Self(this), m_fallbackBargeInRestart.start());
}

QCoro::Task<void> VoiceSession::bargeInRestartTask(Self self, TaskSlot::Ticket ticket)
{
    VoiceSession *session = self.data();
    if (!session)
        co_return;
    const bool waited = co_await session->m_services.clock.sleep(bargeInRestartDelay, ticket.token);
    if (!waited)
        co_return;
    session = resumeTarget(self, ticket, &VoiceSession::m_fallbackBargeInRestart);
    if (!session)
        co_return;
    session->m_fallbackBargeInRestart.finish(ticket.id);
    if (session->isFallbackBargeInActive() && !session->m_services.microphone.isCapturing())
        session->m_services.microphone.startListening();
}

// ---- Mute and settings ----

void VoiceSession::setMicrophoneMuted(bool muted)
{
    if (m_model.isMicrophoneMuted() == muted)
        return;
    if (muted) {
        m_model.setMicrophoneMuted(true);
        m_voiceResume.cancel();
        m_services.microphone.finishWithoutDelivering();
        m_voiceTranscription.cancel();
        releaseHeldSpeech();
        m_model.setListening(false);
        m_model.setSpeechStatusMessage(L::text("status.micOff"));
        return;
    }
    m_model.setMicrophoneMuted(false);
    m_model.setSpeechStatusMessage(std::nullopt);
    resumeIfNeeded(resumeAfterUnmute);
}

void VoiceSession::setVoiceOutputEnabled(bool enabled)
{
    if (m_model.voiceOutputEnabled() == enabled)
        return;
    m_model.storeVoiceOutputEnabled(enabled);
    if (enabled) {
        prewarmVoiceLines();
        return;
    }
    stopVoiceOutput();
    resumeIfNeeded(resumeAfterSpeech);
}

// ---- Microphone callbacks ----

void VoiceSession::listenTo(SpeechRecognitionService &service)
{
    const Self self(this);
    service.onStateChange = [self](SpeechRecognitionService::State state) {
        if (self)
            self->handleMicrophoneState(static_cast<MicrophoneState>(state));
    };
    service.onTranscriptChange = [self](const QString &text) {
        if (self)
            self->handleTranscriptChange(text);
    };
    service.onFinalTranscript = [self](const QString &text) {
        if (self)
            self->handleFinalTranscript(text);
    };
    service.onAudioReady = [self](const QByteArray &audio) {
        if (self)
            self->handleAudioReady(audio);
    };
    service.onSpeechStarted = [self] {
        if (self)
            self->handleSpeechStarted();
    };
    service.onError = [self](const SpeechError &error) {
        if (self)
            self->handleMicrophoneFailure(ZelmFailure::from(error));
    };
    service.onPermissionsChange = [self](const PermissionSnapshot &snapshot) {
        if (self)
            self->applyVoicePermissions(snapshot);
    };
}

void VoiceSession::handleMicrophoneState(MicrophoneState state)
{
    switch (state) {
    case MicrophoneState::listening:
        m_model.setListening(true);
        m_model.setSpeechStatusMessage(isFallbackBargeInActive()
                                           ? L::statusAgentSpeaking(launcherDisplayName())
                                           : L::text("status.listeningWillSend"));
        break;
    case MicrophoneState::requestingPermission:
        m_model.setListening(true);
        m_model.setSpeechStatusMessage(L::text("status.requestingMic"));
        break;
    case MicrophoneState::idle:
        m_model.setListening(false);
        if (!m_voiceTranscription.isRunning()) {
            // The turn ended with nothing to transcribe: it was not the owner.
            releaseHeldSpeech();
            m_model.setSpeechStatusMessage(std::nullopt);
            resumeIfNeeded(resumeAfterIdle);
        }
        // A turn recorded while a run was starting (the first line of the
        // draft) left the run without a listener: the owner may still talk over it.
        if (isFallbackBargeInActive())
            restartFallbackBargeInListening();
        break;
    case MicrophoneState::unavailable:
        m_model.setListening(false);
        m_model.setSpeechStatusMessage(std::nullopt);
        break;
    }
}

void VoiceSession::handleTranscriptChange(const QString &text)
{
    if (text.isEmpty())
        return;
    if (isFallbackBargeInActive()) {
        if (!FallbackBargeInGuard::shouldInterrupt(text, m_fallbackBargeInReference))
            return;
        stopVoiceOutput();
        m_model.setSpeechStatusMessage(L::text("status.listeningToYou"));
    }
    m_model.setQuestion(text);
}

void VoiceSession::handleFinalTranscript(const QString &text)
{
    const bool bargeIn = isFallbackBargeInActive();
    if (bargeIn && !FallbackBargeInGuard::shouldInterrupt(text, m_fallbackBargeInReference)) {
        m_model.setQuestion(QString());
        releaseHeldSpeech();
        restartFallbackBargeInListening();
        return;
    }
    if (bargeIn)
        stopVoiceOutput();
    m_model.setQuestion(text);
    m_model.submitQuestion(false);
}

void VoiceSession::handleAudioReady(const QByteArray &audio)
{
    if (!m_model.isVoiceSessionActive())
        return;
    const bool wasSpeaking = m_model.isSpeaking();
    const QString reference = m_fallbackBargeInReference;
    m_model.questionTurn().speakFirstLine();
    transcribeVoiceTurn(audio, wasSpeaking, reference);
}

void VoiceSession::handleSpeechStarted()
{
    // Waiting for the transcript would leave the assistant talking over the
    // owner for the whole turn; with the echo taken out of the microphone,
    // speech heard now is most likely theirs.
    if (!isFallbackBargeInActive() || m_speechHeld || m_holdSpent)
        return;
    m_speechHeld = true;
    m_services.voiceOutput.setHeld(true);
    log::info(log::platformVoiceInput(), QStringLiteral("speech_held"));
}

void VoiceSession::releaseHeldSpeech()
{
    if (!std::exchange(m_speechHeld, false))
        return;
    m_holdSpent = true;
    m_services.voiceOutput.setHeld(false);
    log::info(log::platformVoiceInput(), QStringLiteral("speech_released"));
}

void VoiceSession::handleMicrophoneFailure(const ZelmFailure &failure)
{
    m_model.setVoiceSessionActive(false);
    m_voiceResume.cancel();
    m_model.fail(failure, m_model.interactionMode() == Mode::chat);
}

void VoiceSession::applyVoicePermissions(const PermissionSnapshot &snapshot)
{
    m_model.setVoicePermissions(QVariantMap{
        {QStringLiteral("microphone"), static_cast<int>(snapshot.microphone)},
        {QStringLiteral("speechRecognition"), static_cast<int>(snapshot.speechRecognition)},
    });
    if (snapshot.microphone != PermissionState::authorized)
        return;
    if (m_model.failure() && m_model.failure()->recovery == ZelmRecovery::voicePrivacySettings) {
        m_model.setFailure(std::nullopt);
        if (m_model.state() == OverlayViewModel::State::failed)
            m_model.setState(OverlayViewModel::State::idle);
    }
}

void VoiceSession::refreshVoicePermissions()
{
    // Transcription runs on the platform or on this machine: nothing to authorise.
    applyVoicePermissions(PermissionSnapshot{m_services.microphone.authorization(), PermissionState::authorized});
}

// ---- Speech ----

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
    if (!m_model.voiceOutputEnabled() || m_model.interactionMode() != Mode::voice || m_model.isExpanded()
        || trimmed.isEmpty() || !m_model.isPlatformConnected())
        return;
    m_voiceResume.cancel();
    if (!m_fallbackBargeInReference.isEmpty())
        m_fallbackBargeInReference += u' ';
    m_fallbackBargeInReference += trimmed;
    const bool starting = !m_services.voiceOutput.isActive();
    if (starting) {
        m_model.setSpeaking(true);
        // The owner may talk over the answer: keep the microphone open while it plays.
        if (isFallbackBargeInActive() && !m_services.microphone.isCapturing())
            m_services.microphone.startListening();
    }
    m_services.voiceOutput.enqueue(trimmed);
}

void VoiceSession::stopVoiceOutput()
{
    m_speechHeld = false;
    m_holdSpent = false;
    m_services.voiceOutput.stop();
    m_fallbackBargeInRestart.cancel();
    m_fallbackBargeInReference.clear();
    m_model.setSpeaking(false);
}

void VoiceSession::speechRunEnded(bool failed)
{
    if (failed)
        m_model.setSpeechStatusMessage(L::text("status.voiceUnavailable"));
    if (m_services.microphone.isCapturing())
        m_services.microphone.finishWithoutDelivering();
    releaseHeldSpeech();
    m_holdSpent = false;
    m_model.setSpeaking(false);
    m_fallbackBargeInRestart.cancel();
    m_fallbackBargeInReference.clear();
    resumeIfNeeded(resumeAfterSpeech);
}

// ---- Greeting ----

QString VoiceSession::greetingText() const
{
    const QString language = languageCode();
    return VoiceGreetingPolicy::connectionGreeting(language == u"ru" ? m_model.greetingRU() : m_model.greetingEN(),
                                                   language);
}

void VoiceSession::announceGreeting()
{
    m_model.setAccessibilityPermissionGranted(m_services.accessibilityTrust.isTrusted());
    if (m_model.isBusy())
        return;
    const Milliseconds now = m_services.clock.uptime();
    if (m_lastGreetingAt && now - *m_lastGreetingAt < greetingThrottle)
        return;
    const QString text = greetingText();
    m_lastGreetingAt = now;
    m_model.appendMessage(ChatMessage::create(ChatMessage::Role::assistant, text, m_services.clock.now()));
    m_model.setSpeechStatusMessage(L::text("status.voiceConnected"));
    if (!m_model.voiceOutputEnabled()) {
        startListeningForActiveSession();
        return;
    }
    stopVoiceOutput();
    enqueueVoiceSentence(text);
}

void VoiceSession::prewarmVoiceLines()
{
    if (!m_model.voiceOutputEnabled() || !m_model.isPlatformConnected())
        return;
    const SpeechTarget target = speechTarget();
    m_services.voiceOutput.prewarm({greetingText()}, target);
    m_services.voiceOutput.prewarm(DesktopOpeningLine::prewarmed(m_model.language()), target);
}

} // namespace nimbel
