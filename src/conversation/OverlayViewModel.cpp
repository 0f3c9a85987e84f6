#include "conversation/OverlayViewModel.h"

#include "conversation/AccessibilityTrust.h"
#include "conversation/LinkOpener.h"
#include "conversation/LoginItem.h"
#include "conversation/MicrophoneRecorder.h"
#include "conversation/UpdateStatus.h"
#include "conversation/VoiceOutput.h"
#include "core/Clock.h"
#include "conversation/DesktopActions.h"
#include "screen/ScreenCapturePermission.h"
#include "settings/Localized.h"
#include "settings/PreferenceKeys.h"
#include "settings/PreferencesStore.h"
#include "settings/SettingsLoader.h"

#include <QUuid>
#include <QVariantMap>

namespace nimbel {

namespace {

// Assigns and reports whether anything changed, so setters emit only then.
template<typename T, typename U>
bool assign(T &field, U &&value)
{
    if (field == value)
        return false;
    field = std::forward<U>(value);
    return true;
}

} // namespace

OverlayViewModel::OverlayViewModel(Services services, Launch launch, QObject *parent)
    : QObject(parent)
    , m_services(services)
    , m_gateway(&services.gateway)
    , m_links(&services.links)
{
    m_language = appLanguage::current(services.preferences);

    const LoadedSettings settings =
        loadSettings(services.preferences, services.tokenStore, launch.environment, launch.arguments);
    m_gatewayBaseURL = settings.gatewayBaseURL;
    m_connectedAgentID = settings.connectedAgentID;
    m_connectedAgentName = settings.connectedAgentName;
    m_greetingRU = settings.greetingRU;
    m_greetingEN = settings.greetingEN;
    m_platformAPIKey = settings.platformAPIKey;
    m_launchAtLogin = services.loginItem.isEnabled();
    m_voiceOutputEnabled = settings.voiceOutputEnabled;
    m_accessibilityContextEnabled = settings.accessibilityContextEnabled;
    m_accessibilityPermissionGranted = services.accessibilityTrust.isTrusted();
    m_screenCapturePermissionGranted = services.screenCaptureAccess.preflight();
    m_canCheckForUpdates = services.updates.canCheckForUpdates();
    m_automaticallyChecksForUpdates = services.updates.automaticallyChecksForUpdates();
    m_lastUpdateError = services.updates.lastError();
    m_desktopSkills = allSkillsOn();

    m_desktopSessionID = newDesktopSessionID();
    m_messages = {welcomeMessage()};
    m_messageModel.setMessages(m_messages);

    m_voiceSession = std::make_unique<VoiceSession>(
        *this, VoiceSession::Services{services.clock, services.voiceOutput, services.microphone, services.gateway,
                                      services.accessibilityTrust, services.onDeviceTranscriber, services.cues});
    m_questionTurn = std::make_unique<QuestionTurnController>(
        *this, QuestionTurnController::Services{services.clock, services.microphone, services.gateway});
    m_platformLink = std::make_unique<PlatformLinkController>(
        *this, PlatformLinkController::Services{services.clock, services.preferences, services.tokenStore,
                                                services.gateway, services.links});
    ScreenContextCoordinator::Services screen{services.clock,   services.screenCaptureAccess, services.accessibilityTrust,
                                              services.gateway, services.encoder};
    screen.screenCapture = services.screenCapture;
    screen.appTracker = services.appTracker;
    screen.accessibilityContext = services.accessibilityContext;
    screen.screenContextPreparer = services.screenContextPreparer;
    m_screenContext = std::make_unique<ScreenContextCoordinator>(*this, screen);
    if (!m_platformAPIKey.trimmed().isEmpty())
        m_platformLink->startForcedSynchronization();
}

OverlayViewModel::~OverlayViewModel()
{
    // Every running task is told to stop first: its request is aborted and it
    // ends without touching this object.
    m_questionTurn.reset();
    m_platformLink.reset();
    m_screenContext.reset();
    m_voiceSession.reset();
}

QString OverlayViewModel::label(State state)
{
    switch (state) {
    case State::idle:
        return L::text("state.ready");
    case State::capturing:
        return L::text("state.capturing");
    case State::captured:
        return L::text("state.captured");
    case State::analyzing:
        return L::text("state.analyzing");
    case State::answered:
        return L::text("state.answered");
    case State::failed:
        break;
    }
    return L::text("state.failed");
}

QString OverlayViewModel::rawValue(InteractionMode mode)
{
    return mode == InteractionMode::chat ? QStringLiteral("chat") : QStringLiteral("voice");
}

OverlayViewModel::SkillMap OverlayViewModel::allSkillsOn()
{
    return {
        {QStringLiteral("screen_capture"), true},
        {QStringLiteral("screen_understanding"), true},
        {QStringLiteral("people_on_screen"), true},
        {QStringLiteral("navigation_guidance"), true},
        {QStringLiteral("web_research"), true},
        {QStringLiteral("voice_conversation"), true},
    };
}

// ---- Operations ----

void OverlayViewModel::openChat()
{
    setVoiceSessionActive(false);
    m_voiceSession->cancelResume();
    m_services.microphone.finishWithoutDelivering();
    m_voiceSession->cancelTranscription();
    stopVoiceOutput();
    setInteractionMode(InteractionMode::chat);
    setExpanded(true);
}

void OverlayViewModel::closeChat()
{
    setVoiceSessionActive(false);
    m_voiceSession->cancelResume();
    setInteractionMode(InteractionMode::voice);
    setExpanded(false);
    m_services.microphone.finishWithoutDelivering();
    m_voiceSession->cancelTranscription();
    stopVoiceOutput();
}

void OverlayViewModel::cancelCurrentResponse(bool resetState, bool stopSpeech)
{
    m_voiceSession->cancelResume();
    // Clears the active request identifier before stopping the task, so a
    // result that is already on its way is dropped.
    m_questionTurn->request().cancel();
    if (stopSpeech)
        stopVoiceOutput();
    if (resetState && isBusy())
        setState(State::idle);
}

void OverlayViewModel::restartApplication()
{
    if (!m_services.desktop.relaunch())
        fail(ZelmFailure{L::text("error.restart.failed")}, std::nullopt);
}

void OverlayViewModel::openScreenRecordingSettings()
{
    if (!m_services.desktop.openSettings(DesktopActions::SettingsPage::screenRecording))
        fail(ZelmFailure{L::text("error.settings.screenUnavailable")}, std::nullopt);
}

void OverlayViewModel::openMicrophoneSettings()
{
    if (!m_services.desktop.openSettings(DesktopActions::SettingsPage::microphone))
        fail(ZelmFailure{L::text("error.settings.microphoneUnavailable")}, std::nullopt);
}

void OverlayViewModel::resetConversation()
{
    setVoiceSessionActive(false);
    m_voiceSession->cancelResume();
    m_services.microphone.finishWithoutDelivering();
    m_voiceSession->cancelTranscription();
    cancelCurrentResponse(true, true);

    setQuestion(QString());
    setAnswer(QVariant());
    setFailure(std::nullopt);
    setPreviewImage(QImage());
    setCaptureMetadata(QVariant());
    m_screenContext->clear();
    m_screenContext->clearPreparedScreenContext();
    m_questionTurn->forgetScreenUse();
    m_desktopSessionID = newDesktopSessionID();
    setState(State::idle);
    // Takes a held connection link with it.
    setMessages({welcomeMessage()});
}

// ---- Working state ----

ChatMessage OverlayViewModel::welcomeMessage() const
{
    return ChatMessage::create(ChatMessage::Role::assistant, L::text("chat.welcome"), m_services.clock.now());
}

QString OverlayViewModel::newDesktopSessionID()
{
    return QStringLiteral("desktop_") + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}



// ---- Messages ----

void OverlayViewModel::setMessages(QList<ChatMessage> messages)
{
    if (!assign(m_messages, std::move(messages)))
        return;
    if (m_platformLink)
        m_platformLink->forgetPendingConnectionUnlessShown();
    m_messageModel.setMessages(m_messages);
    emit messagesChanged();
}

void OverlayViewModel::appendMessage(ChatMessage message)
{
    m_messages.append(std::move(message));
    m_messageModel.setMessages(m_messages);
    emit messagesChanged();
}

bool OverlayViewModel::setMessageText(const QUuid &id, const QString &text)
{
    for (ChatMessage &message : m_messages) {
        if (message.id != id)
            continue;
        if (assign(message.text, text)) {
            m_messageModel.setMessages(m_messages);
            emit messagesChanged();
        }
        return true;
    }
    return false;
}

bool OverlayViewModel::setMessageAttachment(const QUuid &id, const QImage &image)
{
    for (ChatMessage &message : m_messages) {
        if (message.id != id)
            continue;
        message.attachment = image;
        m_messageModel.setMessages(m_messages);
        emit messagesChanged();
        return true;
    }
    return false;
}

const ChatMessage *OverlayViewModel::findMessage(const QUuid &id) const
{
    for (const ChatMessage &message : m_messages) {
        if (message.id == id)
            return &message;
    }
    return nullptr;
}

// ---- Derived and wrapped values ----

std::optional<QString> OverlayViewModel::errorMessage() const
{
    if (!m_failure)
        return std::nullopt;
    return m_failure->message;
}

bool OverlayViewModel::isPlatformConnected() const
{
    return !m_platformAPIKey.trimmed().isEmpty() && !m_connectedAgentID.trimmed().isEmpty();
}

QVariant OverlayViewModel::failureValue() const
{
    return m_failure ? QVariant::fromValue(*m_failure) : QVariant();
}

QVariant OverlayViewModel::desktopSkillsValue() const
{
    if (!m_desktopSkills)
        return {};
    QVariantMap skills;
    for (auto it = m_desktopSkills->cbegin(); it != m_desktopSkills->cend(); ++it)
        skills.insert(it.key(), it.value());
    return skills;
}

template<typename Change>
void OverlayViewModel::updatingConnection(Change change)
{
    const bool wasConnected = isPlatformConnected();
    change();
    if (wasConnected != isPlatformConnected())
        emit isPlatformConnectedChanged();
}

// ---- Setters ----

void OverlayViewModel::setExpanded(bool expanded)
{
    if (assign(m_isExpanded, expanded))
        emit isExpandedChanged();
}

void OverlayViewModel::setChatOpensBelow(bool below)
{
    if (assign(m_chatOpensBelow, below))
        emit chatOpensBelowChanged();
}

void OverlayViewModel::setInteractionMode(InteractionMode mode)
{
    if (assign(m_interactionMode, mode))
        emit interactionModeChanged();
}

void OverlayViewModel::setState(State state)
{
    if (assign(m_state, state))
        emit stateChanged();
}

void OverlayViewModel::setQuestion(const QString &question)
{
    if (assign(m_question, question))
        emit questionChanged();
}

void OverlayViewModel::setPreviewImage(const QImage &image)
{
    if (assign(m_previewImage, image))
        emit previewImageChanged();
}

void OverlayViewModel::setCaptureMetadata(const QVariant &metadata)
{
    if (assign(m_captureMetadata, metadata))
        emit captureMetadataChanged();
}

void OverlayViewModel::setAnswer(const QVariant &answer)
{
    if (assign(m_answer, answer))
        emit answerChanged();
}

void OverlayViewModel::setFailure(std::optional<ZelmFailure> failure)
{
    if (assign(m_failure, std::move(failure)))
        emit failureChanged();
}

void OverlayViewModel::setListening(bool listening)
{
    if (assign(m_isListening, listening))
        emit isListeningChanged();
}

void OverlayViewModel::setVoiceSessionActive(bool active)
{
    if (assign(m_isVoiceSessionActive, active))
        emit isVoiceSessionActiveChanged();
}

void OverlayViewModel::setMicrophoneMuted(bool muted)
{
    if (assign(m_isMicrophoneMuted, muted))
        emit isMicrophoneMutedChanged();
}

void OverlayViewModel::storeVoiceOutputEnabled(bool enabled)
{
    if (!assign(m_voiceOutputEnabled, enabled))
        return;
    m_services.preferences.setBoolean(keys::voiceOutputEnabled, enabled);
    emit voiceOutputEnabledChanged();
}

void OverlayViewModel::setSpeaking(bool speaking)
{
    if (assign(m_isSpeaking, speaking))
        emit isSpeakingChanged();
}

void OverlayViewModel::setSpeechStatusMessage(std::optional<QString> message)
{
    if (assign(m_speechStatusMessage, std::move(message)))
        emit speechStatusMessageChanged();
}

void OverlayViewModel::setAccessibilityContextEnabled(bool enabled)
{
    m_services.preferences.setBoolean(keys::accessibilityContextEnabled, enabled);
    if (assign(m_accessibilityContextEnabled, enabled))
        emit accessibilityContextEnabledChanged();
    // Toolkit accessibility is the desktop's switch: there is no prompt to show.
    setAccessibilityPermissionGranted(m_services.accessibilityTrust.isTrusted());
}

void OverlayViewModel::setAccessibilityPermissionGranted(bool granted)
{
    if (assign(m_accessibilityPermissionGranted, granted))
        emit accessibilityPermissionGrantedChanged();
}

void OverlayViewModel::setGatewayBaseURL(const QString &url)
{
    if (assign(m_gatewayBaseURL, url))
        emit gatewayBaseURLChanged();
}

void OverlayViewModel::setPlatformAPIKey(const QString &key)
{
    updatingConnection([&] {
        if (assign(m_platformAPIKey, key))
            emit platformAPIKeyChanged();
    });
}

void OverlayViewModel::setConnectedAgentID(const QString &id)
{
    updatingConnection([&] {
        if (assign(m_connectedAgentID, id))
            emit connectedAgentIDChanged();
    });
}

void OverlayViewModel::setConnectedAgentName(const QString &name)
{
    if (assign(m_connectedAgentName, name))
        emit connectedAgentNameChanged();
}

void OverlayViewModel::setDesktopSkills(std::optional<SkillMap> skills)
{
    if (assign(m_desktopSkills, std::move(skills)))
        emit desktopSkillsChanged();
}

void OverlayViewModel::setLaunchAtLogin(bool enabled)
{
    if (assign(m_launchAtLogin, enabled))
        emit launchAtLoginChanged();
}

void OverlayViewModel::setScreenCapturePermissionGranted(bool granted)
{
    if (assign(m_screenCapturePermissionGranted, granted))
        emit screenCapturePermissionGrantedChanged();
}

void OverlayViewModel::setCanCheckForUpdates(bool can)
{
    if (assign(m_canCheckForUpdates, can))
        emit canCheckForUpdatesChanged();
}

void OverlayViewModel::setAutomaticallyChecksForUpdates(bool automatic)
{
    if (assign(m_automaticallyChecksForUpdates, automatic))
        emit automaticallyChecksForUpdatesChanged();
}

void OverlayViewModel::setLastUpdateError(std::optional<QString> error)
{
    if (assign(m_lastUpdateError, std::move(error)))
        emit lastUpdateErrorChanged();
}

void OverlayViewModel::setVoicePermissions(const QVariant &permissions)
{
    if (assign(m_voicePermissions, permissions))
        emit voicePermissionsChanged();
}

} // namespace nimbel
