// The operations of the view model that belong to its feature parts: each is
// forwarded as it is, so the views and the application keep one object.
#include "conversation/OverlayViewModel.h"

namespace nimbel {

// ---- The platform link ----

bool OverlayViewModel::applyPlatformConnection(const QUrl &url)
{
    return m_platformLink->applyPlatformConnection(url);
}

bool OverlayViewModel::confirmPlatformConnection(const QString &messageID)
{
    return m_platformLink->confirmPlatformConnection(messageID);
}

bool OverlayViewModel::cancelPlatformConnection(const QString &messageID)
{
    return m_platformLink->cancelPlatformConnection(messageID);
}

std::optional<KeychainError> OverlayViewModel::finishPlatformConnection(const QString &platformURL,
                                                                        const QString &token, const QString &agentID,
                                                                        const QString &agentName)
{
    return m_platformLink->finishPlatformConnection(platformURL, token, agentID, agentName);
}

QCoro::Task<Result<Done, GatewayFailure>> OverlayViewModel::synchronizePlatformConfiguration(bool force,
                                                                                              std::stop_token stop)
{
    return m_platformLink->synchronizePlatformConfiguration(force, std::move(stop));
}

void OverlayViewModel::savePlatformSettings()
{
    m_platformLink->savePlatformSettings();
}

void OverlayViewModel::openPlatformConnectionPage()
{
    m_platformLink->openPlatformConnectionPage();
}

QUrl OverlayViewModel::platformConnectionPage() const
{
    return m_platformLink->platformConnectionPage();
}

void OverlayViewModel::setGreetings(const QString &russian, const QString &english)
{
    m_greetingRU = russian;
    m_greetingEN = english;
}

// ---- The screen ----

QCoro::Task<Result<Done, TurnError>> OverlayViewModel::runScreenQuestion(QuestionTurn turn)
{
    return m_screenContext->runScreenQuestion(std::move(turn));
}

void OverlayViewModel::captureOnly()
{
    m_screenContext->captureOnly();
}

void OverlayViewModel::clearPreparedScreenContext()
{
    m_screenContext->clearPreparedScreenContext();
}

void OverlayViewModel::noteScreenTurnStarted()
{
    m_questionTurn->noteScreenTurnStarted();
}

void OverlayViewModel::noteManualCapture()
{
    m_questionTurn->noteManualCapture();
}

// ---- The question turn ----

void OverlayViewModel::submitQuestion(bool shouldOpenChat)
{
    m_questionTurn->submitQuestion(shouldOpenChat);
}

void OverlayViewModel::handleStopCommand()
{
    m_questionTurn->handleStopCommand();
}

QCoro::Task<Result<Done, TurnError>> OverlayViewModel::runGeneralQuestion(QuestionTurn turn, bool followingScreen)
{
    return m_questionTurn->runGeneralQuestion(std::move(turn), followingScreen);
}

Result<Done, VisionGatewayError> OverlayViewModel::requireDesktopSkill(const QString &skill,
                                                                       const char *messageKey) const
{
    return m_questionTurn->requireDesktopSkill(skill, messageKey);
}

bool OverlayViewModel::isActiveRequest(const QUuid &requestID) const
{
    return m_questionTurn && m_questionTurn->request().isCurrent(requestID);
}

bool OverlayViewModel::isRequestRunning() const
{
    return m_questionTurn && m_questionTurn->request().isRunning();
}

void OverlayViewModel::fail(const ZelmFailure &failure, std::optional<bool> shouldOpenChat)
{
    m_questionTurn->fail(failure, shouldOpenChat);
}

DesktopRequestContext OverlayViewModel::requestContext() const
{
    return m_questionTurn->requestContext();
}

TaskSlot::Ticket OverlayViewModel::startRequest()
{
    return m_questionTurn->request().start();
}

void OverlayViewModel::finishRequest(const QUuid &requestID)
{
    m_questionTurn->request().finish(requestID);
}

// ---- Speech ----

void OverlayViewModel::toggleListening()
{
    m_voiceSession->toggleListening();
}

void OverlayViewModel::activateVoiceOrb()
{
    m_voiceSession->activateVoiceOrb();
}

void OverlayViewModel::muteMicrophone(bool muted)
{
    m_voiceSession->setMicrophoneMuted(muted);
}

void OverlayViewModel::setVoiceOutputEnabled(bool enabled)
{
    m_voiceSession->setVoiceOutputEnabled(enabled);
}

void OverlayViewModel::refreshVoicePermissions()
{
    m_voiceSession->refreshVoicePermissions();
}

void OverlayViewModel::enqueueVoiceSentence(const QString &sentence)
{
    m_voiceSession->enqueueVoiceSentence(sentence);
}

void OverlayViewModel::stopVoiceOutput()
{
    m_voiceSession->stopVoiceOutput();
}

void OverlayViewModel::resumeVoiceSessionIfNeeded(Milliseconds delay)
{
    m_voiceSession->resumeIfNeeded(delay);
}

} // namespace nimbel
