#pragma once

#include "conversation/ChatMessage.h"
#include "conversation/ChatMessageListModel.h"
#include "conversation/DesktopRequestRouter.h"
#include "conversation/PlatformLinkController.h"
#include "conversation/QuestionTurnController.h"
#include "conversation/VoiceSession.h"
#include "conversation/ScreenContextCoordinator.h"
#include "conversation/QuestionTurn.h"
#include "conversation/WarmUp.h"
#include "conversation/ZelmFailure.h"
#include "core/Clock.h"
#include "core/Result.h"
#include "core/TaskSlot.h"
#include "gateway/DesktopConfiguration.h"
#include "gateway/GatewayFailure.h"
#include "gateway/VisionGatewayError.h"
#include "screen/AccessibilityContext.h"
#include "screen/CaptureArtifact.h"
#include "screen/PreparedScreenContext.h"
#include "settings/AppLanguage.h"
#include "settings/TokenStore.h"

#include <QByteArray>
#include <QDateTime>
#include <QImage>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>

#include <QCoro/QCoroTask>

#include <memory>
#include <optional>
#include <stop_token>

namespace nimbel {

class AccessibilityContextService;
class AccessibilityTrust;
class DesktopActions;
class FrontmostAppTracker;
class LinkOpener;
class LocalScreenContextPreparer;
class LoginItem;
class MicrophoneRecorder;
class OnDeviceTranscriber;
class SessionCueService;
class SpeechRecognitionService;
struct NavigationResponse;
class PreferencesStore;
class ScreenCaptureAccess;
class ScreenCaptureService;
class ScreenImageEncoder;
class UpdateStatus;
class VisionGateway;
class VoiceOutput;

// The one main-thread object holding the conversation, the state of the
// current turn, the settings mirrored from storage and every task handle.
// The orb, the chat panel, the tray menu and every service callback share it.
class OverlayViewModel final : public QObject
{
    Q_OBJECT
    Q_MOC_INCLUDE("voice/SpeechRecognitionService.h")
    Q_PROPERTY(bool isExpanded READ isExpanded WRITE setExpanded NOTIFY isExpandedChanged)
    Q_PROPERTY(bool chatOpensBelow READ chatOpensBelow WRITE setChatOpensBelow NOTIFY chatOpensBelowChanged)
    Q_PROPERTY(InteractionMode interactionMode READ interactionMode NOTIFY interactionModeChanged)
    Q_PROPERTY(State state READ state NOTIFY stateChanged)
    Q_PROPERTY(QString stateLabel READ stateLabel NOTIFY stateChanged)
    Q_PROPERTY(bool isBusy READ isBusy NOTIFY stateChanged)
    Q_PROPERTY(QString question READ question WRITE setQuestion NOTIFY questionChanged)
    Q_PROPERTY(QList<nimbel::ChatMessage> messages READ messages NOTIFY messagesChanged)
    Q_PROPERTY(nimbel::ChatMessageListModel *messageModel READ messageModel CONSTANT)
    Q_PROPERTY(QImage previewImage READ previewImage NOTIFY previewImageChanged)
    Q_PROPERTY(QVariant captureMetadata READ captureMetadata NOTIFY captureMetadataChanged)
    Q_PROPERTY(QVariant answer READ answer NOTIFY answerChanged)
    // A ZelmFailure, or null when nothing failed.
    Q_PROPERTY(QVariant failure READ failureValue NOTIFY failureChanged)
    Q_PROPERTY(QString errorMessage READ errorMessageText NOTIFY failureChanged)
    Q_PROPERTY(bool isListening READ isListening NOTIFY isListeningChanged)
    Q_PROPERTY(bool isVoiceSessionActive READ isVoiceSessionActive NOTIFY isVoiceSessionActiveChanged)
    Q_PROPERTY(bool isMicrophoneMuted READ isMicrophoneMuted NOTIFY isMicrophoneMutedChanged)
    Q_PROPERTY(bool isSpeaking READ isSpeaking NOTIFY isSpeakingChanged)
    // Whether this build holds a voice session at all; the voice controls say why they wait while it does not.
    Q_PROPERTY(bool isVoiceAvailable READ isVoiceAvailable CONSTANT)
    // The microphone service (input level, sources and the owner's choice); null without one.
    Q_PROPERTY(nimbel::SpeechRecognitionService *microphone READ microphoneService CONSTANT)
    Q_PROPERTY(QString speechStatusMessage READ speechStatusMessageText NOTIFY speechStatusMessageChanged)
    Q_PROPERTY(bool voiceOutputEnabled READ voiceOutputEnabled NOTIFY voiceOutputEnabledChanged)
    Q_PROPERTY(bool accessibilityContextEnabled READ accessibilityContextEnabled
                   NOTIFY accessibilityContextEnabledChanged)
    Q_PROPERTY(bool accessibilityPermissionGranted READ accessibilityPermissionGranted
                   NOTIFY accessibilityPermissionGrantedChanged)
    Q_PROPERTY(QString gatewayBaseURL READ gatewayBaseURL WRITE setGatewayBaseURL NOTIFY gatewayBaseURLChanged)
    Q_PROPERTY(QString platformAPIKey READ platformAPIKey WRITE setPlatformAPIKey NOTIFY platformAPIKeyChanged)
    Q_PROPERTY(QString connectedAgentID READ connectedAgentID NOTIFY connectedAgentIDChanged)
    Q_PROPERTY(QString connectedAgentName READ connectedAgentName NOTIFY connectedAgentNameChanged)
    Q_PROPERTY(bool isPlatformConnected READ isPlatformConnected NOTIFY isPlatformConnectedChanged)
    // Skill key -> switched on; null when the agent reported no skills.
    Q_PROPERTY(QVariant desktopSkills READ desktopSkillsValue NOTIFY desktopSkillsChanged)
    Q_PROPERTY(bool launchAtLogin READ launchAtLogin NOTIFY launchAtLoginChanged)
    Q_PROPERTY(bool screenCapturePermissionGranted READ screenCapturePermissionGranted
                   NOTIFY screenCapturePermissionGrantedChanged)
    Q_PROPERTY(bool canCheckForUpdates READ canCheckForUpdates NOTIFY canCheckForUpdatesChanged)
    Q_PROPERTY(bool automaticallyChecksForUpdates READ automaticallyChecksForUpdates
                   NOTIFY automaticallyChecksForUpdatesChanged)
    Q_PROPERTY(QString lastUpdateError READ lastUpdateErrorText NOTIFY lastUpdateErrorChanged)
    Q_PROPERTY(QVariant voicePermissions READ voicePermissions NOTIFY voicePermissionsChanged)

public:
    enum class State { idle, capturing, captured, analyzing, answered, failed };
    Q_ENUM(State)
    enum class InteractionMode { voice, chat };
    Q_ENUM(InteractionMode)

    using SkillMap = QMap<QString, bool>;

    // Everything the view model talks to. None is owned; all outlive it.
    struct Services
    {
        Clock &clock;
        PreferencesStore &preferences;
        TokenStore &tokenStore;
        VoiceOutput &voiceOutput;
        MicrophoneRecorder &microphone;
        AccessibilityTrust &accessibilityTrust;
        ScreenCaptureAccess &screenCaptureAccess;
        LoginItem &loginItem;
        UpdateStatus &updates;
        VisionGateway &gateway;
        LinkOpener &links;
        DesktopActions &desktop;
        ScreenImageEncoder &encoder;
        // Screen understanding. Without a capture service every screen
        // question fails saying so; without the others a question goes
        // without the context they would have given.
        ScreenCaptureService *screenCapture = nullptr;
        FrontmostAppTracker *appTracker = nullptr;
        AccessibilityContextService *accessibilityContext = nullptr;
        LocalScreenContextPreparer *screenContextPreparer = nullptr;
        // Voice: the fallback transcriber and the session cues.
        OnDeviceTranscriber *onDeviceTranscriber = nullptr;
        SessionCueService *cues = nullptr;
        // The same microphone as `microphone`, for the views.
        SpeechRecognitionService *microphoneService = nullptr;
    };

    // How the process was started: test switches live in both.
    struct Launch
    {
        QProcessEnvironment environment;
        QStringList arguments;
    };

    // Loads the settings and the API key at once.
    OverlayViewModel(Services services, Launch launch, QObject *parent = nullptr);
    ~OverlayViewModel() override;

    // "Ready", "Looking at the screen…", … in the interface language.
    static QString label(State state);
    // "voice" or "chat".
    static QString rawValue(InteractionMode mode);
    static bool isBusy(State state) { return state == State::capturing || state == State::analyzing; }
    // The six desktop skills, all switched on.
    static SkillMap allSkillsOn();

    // Published state. Setters notify only on a real change.
    bool isExpanded() const { return m_isExpanded; }
    void setExpanded(bool expanded);
    bool chatOpensBelow() const { return m_chatOpensBelow; }
    void setChatOpensBelow(bool below);
    InteractionMode interactionMode() const { return m_interactionMode; }
    void setInteractionMode(InteractionMode mode);
    State state() const { return m_state; }
    void setState(State state);
    QString stateLabel() const { return label(m_state); }
    bool isBusy() const { return isBusy(m_state); }
    const QString &question() const { return m_question; }
    void setQuestion(const QString &question);

    const QList<ChatMessage> &messages() const { return m_messages; }
    ChatMessageListModel *messageModel() { return &m_messageModel; }
    void setMessages(QList<ChatMessage> messages);
    void appendMessage(ChatMessage message);
    // Replaces the text of the message with `id`; false when there is none.
    bool setMessageText(const QUuid &id, const QString &text);
    // Shows `image` under the message with `id`; false when there is none.
    bool setMessageAttachment(const QUuid &id, const QImage &image);
    const ChatMessage *findMessage(const QUuid &id) const;

    const QImage &previewImage() const { return m_previewImage; }
    void setPreviewImage(const QImage &image);
    // The latest capture's metadata and the latest navigation answer, as
    // their JSON objects; null means absent.
    const QVariant &captureMetadata() const { return m_captureMetadata; }
    void setCaptureMetadata(const QVariant &metadata);
    const QVariant &answer() const { return m_answer; }
    void setAnswer(const QVariant &answer);

    const std::optional<ZelmFailure> &failure() const { return m_failure; }
    void setFailure(std::optional<ZelmFailure> failure);
    // The current failure's message; absent when nothing failed.
    std::optional<QString> errorMessage() const;

    bool isListening() const { return m_isListening; }
    void setListening(bool listening);
    bool isVoiceSessionActive() const { return m_isVoiceSessionActive; }
    void setVoiceSessionActive(bool active);
    bool isMicrophoneMuted() const { return m_isMicrophoneMuted; }
    void setMicrophoneMuted(bool muted);
    bool isSpeaking() const { return m_isSpeaking; }
    void setSpeaking(bool speaking);
    SpeechRecognitionService *microphoneService() const { return m_services.microphoneService; }
    bool isVoiceAvailable() const { return VoiceSession::isAvailable(); }
    const std::optional<QString> &speechStatusMessage() const { return m_speechStatusMessage; }
    void setSpeechStatusMessage(std::optional<QString> message);

    bool voiceOutputEnabled() const { return m_voiceOutputEnabled; }
    // Stores the setting as it is; `setVoiceOutputEnabled` is the owner's switch.
    void storeVoiceOutputEnabled(bool enabled);
    bool accessibilityContextEnabled() const { return m_accessibilityContextEnabled; }
    // The settings' "Interface labels" switch: stored, then the trust is read again.
    Q_INVOKABLE void setAccessibilityContextEnabled(bool enabled);
    bool accessibilityPermissionGranted() const { return m_accessibilityPermissionGranted; }
    void setAccessibilityPermissionGranted(bool granted);

    const QString &gatewayBaseURL() const { return m_gatewayBaseURL; }
    void setGatewayBaseURL(const QString &url);
    const QString &platformAPIKey() const { return m_platformAPIKey; }
    void setPlatformAPIKey(const QString &key);
    const QString &connectedAgentID() const { return m_connectedAgentID; }
    void setConnectedAgentID(const QString &id);
    const QString &connectedAgentName() const { return m_connectedAgentName; }
    void setConnectedAgentName(const QString &name);
    // Both the API key and the agent are set (ignoring surrounding whitespace).
    bool isPlatformConnected() const;
    const std::optional<SkillMap> &desktopSkills() const { return m_desktopSkills; }
    void setDesktopSkills(std::optional<SkillMap> skills);

    bool launchAtLogin() const { return m_launchAtLogin; }
    void setLaunchAtLogin(bool enabled);
    bool screenCapturePermissionGranted() const { return m_screenCapturePermissionGranted; }
    void setScreenCapturePermissionGranted(bool granted);
    bool canCheckForUpdates() const { return m_canCheckForUpdates; }
    void setCanCheckForUpdates(bool can);
    bool automaticallyChecksForUpdates() const { return m_automaticallyChecksForUpdates; }
    void setAutomaticallyChecksForUpdates(bool automatic);
    const std::optional<QString> &lastUpdateError() const { return m_lastUpdateError; }
    void setLastUpdateError(std::optional<QString> error);
    // The voice permissions as last read: PermissionState numbers under
    // "microphone" and "speechRecognition".
    const QVariant &voicePermissions() const { return m_voicePermissions; }
    void setVoicePermissions(const QVariant &permissions);

    // Working state other parts of the turn read.
    const QString &desktopSessionID() const { return m_desktopSessionID; }
    const QString &greetingRU() const { return m_greetingRU; }
    const QString &greetingEN() const { return m_greetingEN; }
    DesktopRequestContext requestContext() const;
    AppLanguage language() const { return m_language; }

    // Operations the views call.
    Q_INVOKABLE void openChat();
    Q_INVOKABLE void closeChat();
    Q_INVOKABLE void cancelCurrentResponse(bool resetState, bool stopSpeech);
    Q_INVOKABLE void resetConversation();

    // The recoveries a failure offers. Each shows a failure saying so when
    // the desktop cannot do it.
    Q_INVOKABLE void restartApplication();
    Q_INVOKABLE void openScreenRecordingSettings();
    Q_INVOKABLE void openMicrophoneSettings();

    // ---- The question turn (QuestionTurnController) ----

    // Asks the composer's `question`: typed or test questions open the chat
    // (true), spoken ones keep the voice surface (false). A newer question
    // supersedes a running one, which then changes nothing more.
    Q_INVOKABLE void submitQuestion(bool shouldOpenChat);
    // The stop phrase of a voice session (also typed): silences and cancels.
    void handleStopCommand();
    // The general path of a turn: the conversation to the chat endpoint, each
    // streamed sentence growing one assistant message. The screen path runs
    // it with `followingScreen` once the screen context is recorded.
    QCoro::Task<Result<Done, TurnError>> runGeneralQuestion(QuestionTurn turn, bool followingScreen);
    // Fails with the gateway's `skillDisabled` and the catalogue text of
    // `messageKey` when the connected agent switched `skill` off.
    Result<Done, VisionGatewayError> requireDesktopSkill(const QString &skill, const char *messageKey) const;
    // The running turn is still the one with this identifier.
    bool isActiveRequest(const QUuid &requestID) const;
    bool isRequestRunning() const;
    // Shows a failure: in the chat when `shouldOpenChat` says so (or, when it
    // is absent, when the chat is the surface), else spoken, else by
    // expanding the panel.
    void fail(const ZelmFailure &failure, std::optional<bool> shouldOpenChat);
    template<DescribedError E>
    void fail(const E &error, std::optional<bool> shouldOpenChat)
    {
        fail(ZelmFailure::from(error), shouldOpenChat);
    }
    QuestionTurnController &questionTurn() { return *m_questionTurn; }
    const QuestionTurnController &questionTurn() const { return *m_questionTurn; }

    // ---- The screen (ScreenContextCoordinator) ----

    QCoro::Task<Result<Done, TurnError>> runScreenQuestion(QuestionTurn turn);
    // The manual capture of the composer's and the tray's screenshot action.
    Q_INVOKABLE void captureOnly();
    void clearPreparedScreenContext();
    ScreenContextCoordinator &screenContext() { return *m_screenContext; }
    const ScreenContextCoordinator &screenContext() const { return *m_screenContext; }
    // A screen turn began: the next question is no longer about a manual capture.
    void noteScreenTurnStarted();
    // A manual capture is on display: the next question is about it.
    void noteManualCapture();
    // Starts the running turn's slot (a turn or a manual capture) and ends it.
    TaskSlot::Ticket startRequest();
    void finishRequest(const QUuid &requestID);

    // ---- Speech (VoiceSession) ----

    Q_INVOKABLE void toggleListening();
    Q_INVOKABLE void activateVoiceOrb();
    Q_INVOKABLE void muteMicrophone(bool muted);
    Q_INVOKABLE void setVoiceOutputEnabled(bool enabled);
    Q_INVOKABLE void refreshVoicePermissions();
    void enqueueVoiceSentence(const QString &sentence);
    void stopVoiceOutput();
    // Listens again after `delay` when the voice session is ready for it.
    void resumeVoiceSessionIfNeeded(Milliseconds delay);
    VoiceSession &voiceSession() { return *m_voiceSession; }

    // ---- Pairing and configuration ----

    // Offers a link handed to the application; true when it was a connection
    // link that was acted on (connected, pairing, or held for the owner's
    // confirmation when it would move a connected assistant elsewhere).
    Q_INVOKABLE bool applyPlatformConnection(const QUrl &url);
    // The owner's answer to a held link, by the id of the message asking.
    Q_INVOKABLE bool confirmPlatformConnection(const QString &messageID);
    Q_INVOKABLE bool cancelPlatformConnection(const QString &messageID);
    // Stores the key and the agent and announces the connection; fails only
    // when the key cannot be stored, and then changes nothing.
    std::optional<KeychainError> finishPlatformConnection(const QString &platformURL, const QString &token,
                                                          const QString &agentID, const QString &agentName);
    // Refreshes the agent's configuration, at most every 20 s unless
    // `force`d; concurrent callers share one fetch.
    QCoro::Task<Result<Done, GatewayFailure>> synchronizePlatformConfiguration(bool force, std::stop_token stop = {});
    // The connection settings as the owner typed them.
    Q_INVOKABLE void savePlatformSettings();
    // The console page from which pairing starts, in the owner's browser.
    Q_INVOKABLE void openPlatformConnectionPage();
    // The console page for the current address.
    QUrl platformConnectionPage() const;
    PlatformLinkController &platformLink() { return *m_platformLink; }
    // The greetings of the connected agent (kept for the voice session).
    void setGreetings(const QString &russian, const QString &english);


signals:
    void isExpandedChanged();
    void chatOpensBelowChanged();
    void interactionModeChanged();
    void stateChanged();
    void questionChanged();
    void messagesChanged();
    void previewImageChanged();
    void captureMetadataChanged();
    void answerChanged();
    void failureChanged();
    void isListeningChanged();
    void isVoiceSessionActiveChanged();
    void isMicrophoneMutedChanged();
    void isSpeakingChanged();
    void speechStatusMessageChanged();
    void voiceOutputEnabledChanged();
    void accessibilityContextEnabledChanged();
    void accessibilityPermissionGrantedChanged();
    void gatewayBaseURLChanged();
    void platformAPIKeyChanged();
    void connectedAgentIDChanged();
    void connectedAgentNameChanged();
    void isPlatformConnectedChanged();
    void desktopSkillsChanged();
    void launchAtLoginChanged();
    void screenCapturePermissionGrantedChanged();
    void canCheckForUpdatesChanged();
    void automaticallyChecksForUpdatesChanged();
    void lastUpdateErrorChanged();
    void voicePermissionsChanged();

private:
    ChatMessage welcomeMessage() const;
    static QString newDesktopSessionID();
    // Runs `change` and announces isPlatformConnected when it flipped.
    template<typename Change>
    void updatingConnection(Change change);

    QVariant failureValue() const;
    QString errorMessageText() const { return errorMessage().value_or(QString()); }
    QString speechStatusMessageText() const { return m_speechStatusMessage.value_or(QString()); }
    QString lastUpdateErrorText() const { return m_lastUpdateError.value_or(QString()); }
    QVariant desktopSkillsValue() const;

    Services m_services;
    VisionGateway *m_gateway = nullptr;
    LinkOpener *m_links = nullptr;
    // The interface language; changing it takes a restart.
    AppLanguage m_language = AppLanguage::en;

    // Published state, in the order the views list it.
    bool m_isExpanded = false;
    bool m_chatOpensBelow = false;
    InteractionMode m_interactionMode = InteractionMode::voice;
    State m_state = State::idle;
    QString m_question;
    QList<ChatMessage> m_messages;
    QImage m_previewImage;
    QVariant m_captureMetadata;
    QVariant m_answer;
    std::optional<ZelmFailure> m_failure;
    bool m_isListening = false;
    bool m_isVoiceSessionActive = false;
    bool m_isMicrophoneMuted = false;
    bool m_isSpeaking = false;
    std::optional<QString> m_speechStatusMessage;
    bool m_voiceOutputEnabled = true;
    bool m_accessibilityContextEnabled = true;
    bool m_accessibilityPermissionGranted = false;
    QString m_gatewayBaseURL;
    QString m_platformAPIKey;
    QString m_connectedAgentID;
    QString m_connectedAgentName;
    std::optional<SkillMap> m_desktopSkills;
    bool m_launchAtLogin = false;
    bool m_screenCapturePermissionGranted = false;
    bool m_canCheckForUpdates = false;
    bool m_automaticallyChecksForUpdates = false;
    std::optional<QString> m_lastUpdateError;
    QVariant m_voicePermissions;

    ChatMessageListModel m_messageModel;

    // The feature parts, built last and gone first. The view model forwards
    // to them and publishes what they change.
    std::unique_ptr<VoiceSession> m_voiceSession;
    std::unique_ptr<QuestionTurnController> m_questionTurn;
    std::unique_ptr<PlatformLinkController> m_platformLink;
    std::unique_ptr<ScreenContextCoordinator> m_screenContext;

    // Session.
    QString m_desktopSessionID;
    QString m_greetingRU;
    QString m_greetingEN;
};

} // namespace nimbel
