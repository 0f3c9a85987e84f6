#pragma once

#include "conversation/ChatMessage.h"
#include "conversation/ChatMessageListModel.h"
#include "conversation/DesktopRequestRouter.h"
#include "conversation/PlatformConnectionLink.h"
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
    Q_PROPERTY(QVariant firstRun READ firstRun NOTIFY firstRunChanged)
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
    // No voice session part exists yet: nothing listens, records or speaks a session.
    bool isVoiceAvailable() const { return false; }
    const std::optional<QString> &speechStatusMessage() const { return m_speechStatusMessage; }
    void setSpeechStatusMessage(std::optional<QString> message);

    bool voiceOutputEnabled() const { return m_voiceOutputEnabled; }
    bool accessibilityContextEnabled() const { return m_accessibilityContextEnabled; }
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
    // Placeholders until the first-run flow and the permission snapshot exist.
    const QVariant &firstRun() const { return m_firstRun; }
    void setFirstRun(const QVariant &firstRun);
    const QVariant &voicePermissions() const { return m_voicePermissions; }
    void setVoicePermissions(const QVariant &permissions);

    // Working state other parts of the turn read.
    const QString &desktopSessionID() const { return m_desktopSessionID; }
    const QString &greetingRU() const { return m_greetingRU; }
    const QString &greetingEN() const { return m_greetingEN; }
    DesktopRequestContext requestContext() const { return {m_manualCapturePending, m_lastRequestUsedScreen}; }

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

    // ---- The question turn ----

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
    bool isActiveRequest(const QUuid &requestID) const { return m_request.isCurrent(requestID); }
    // Grows the assistant message `id` by one sentence (or starts it).
    void appendStreamedSentence(const QString &sentence, const QUuid &id);
    // Shows a failure: in the chat when `shouldOpenChat` says so (or, when it
    // is absent, when the chat is the surface), else spoken, else by
    // expanding the panel.
    void fail(const ZelmFailure &failure, std::optional<bool> shouldOpenChat);
    template<DescribedError E>
    void fail(const E &error, std::optional<bool> shouldOpenChat)
    {
        fail(ZelmFailure::from(error), shouldOpenChat);
    }
    // What the owner is told when a spoken turn could not be transcribed.
    static QString transcriptionFailureMessage(const GatewayFailure &error);
    static QString transcriptionFailureMessage(const VisionGatewayError &error);
    // Any other error (recording, on-device recognition).
    static QString transcriptionFailureMessage();

    // ---- The screen ----

    // The screen path of a turn: the screen skills, a fresh capture with its
    // prepared contexts, the analysis recorded as hidden context messages,
    // then the streamed visible answer of the general path.
    QCoro::Task<Result<Done, TurnError>> runScreenQuestion(QuestionTurn turn);
    // The hidden note a navigation answer leaves in the conversation.
    static QString analystNote(const NavigationResponse &response);

    // Takes, encodes and applies one capture and starts warming its contexts.
    // Fails with the capture's error; a stop ends it without changing anything more.
    QCoro::Task<Result<CaptureArtifact, TurnError>> captureFresh(std::stop_token stop = {});
    // Makes `capture` the latest and drops whatever belonged to older ones.
    void applyCapture(const CaptureArtifact &capture, std::optional<QByteArray> preparedJPEG);
    // Start the warm-ups for `capture` and return at once.
    void prepareAccessibilityContext(const CaptureArtifact &capture);
    void prepareVisionContext(const CaptureArtifact &capture);
    // The accessibility summary of the tracked application, when allowed.
    QCoro::Task<std::optional<AccessibilityContext>> collectAccessibilityContext(CaptureArtifact capture,
                                                                                std::stop_token stop = {});
    // The contexts of `capture`: joins a running warm-up, else takes what is
    // stored for exactly this capture. Never fails; absent when stale or stopped.
    QCoro::Task<std::optional<AccessibilityContext>> preparedAccessibilityContext(CaptureArtifact capture,
                                                                                 std::stop_token stop = {});
    QCoro::Task<std::optional<PreparedScreenContext>> preparedVisionContext(CaptureArtifact capture,
                                                                           std::stop_token stop = {});
    // Invalidates every preparation (running or stored).
    void clearPreparedScreenContext();
    // The manual capture of the composer's and the tray's screenshot action.
    Q_INVOKABLE void captureOnly();

    const std::optional<CaptureArtifact> &latestCapture() const { return m_latestCapture; }
    const std::optional<QByteArray> &latestCaptureJPEG() const { return m_latestCaptureJPEG; }
    const std::optional<AccessibilityContext> &latestAccessibilityContext() const
    {
        return m_latestAccessibilityContext;
    }
    const std::optional<PreparedScreenContext> &preparedScreenContext() const { return m_preparedScreenContext; }
    int visionContextGeneration() const { return m_visionContextGeneration; }
    bool isWarmingAccessibilityContext() const { return m_warmAccessibilityContextTask != nullptr; }
    bool isWarmingVisionContext() const { return m_warmVisionContextTask != nullptr; }

    // ---- Opening and waiting lines ----

    // The line that acknowledges a question that needs work; queued for
    // speaking when the turn is spoken in a voice session with speech on.
    QString openingLine(const QString &question, DesktopRequestRoute route, bool spoken);
    // Chooses and speaks a line from the live draft while the owner's turn is
    // being transcribed, when its audio is ready; the turn then uses it.
    void speakFirstLine();
    // After 5.5 s of a screen turn still running, says a waiting line once
    // (voice sessions only). The screen path cancels it when it ends.
    void scheduleWaitingLine(const QUuid &requestID);
    void cancelWaitingLine();
    const std::optional<QString> &lastOpeningLine() const { return m_lastOpeningLine; }
    const std::optional<QString> &firstLineForTurn() const { return m_firstLineForTurn; }

    // ---- Speech (through the voice output) ----

    void enqueueVoiceSentence(const QString &sentence);
    void stopVoiceOutput();
    // Listens again after `delay` when the voice session is ready for it.
    void resumeVoiceSessionIfNeeded(Milliseconds delay);

    // ---- The conversation window ----

    // Replaces a full conversation by its compacted form; true when it did.
    bool compactConversationIfFull();

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
    // Uptime of the last successful synchronisation.
    std::optional<Milliseconds> lastPlatformConfigurationSyncAt() const { return m_lastPlatformConfigurationSyncAt; }
    bool isPairing() const { return m_pairing.isRunning(); }
    bool isSynchronizingConfiguration() const { return m_platformConfigurationTask != nullptr; }

    static constexpr Milliseconds configurationSyncInterval{20'000};
    static constexpr Milliseconds waitingLineDelay{5'500};
    static constexpr Milliseconds failureResumeDelay{350};

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
    void firstRunChanged();
    void voicePermissionsChanged();

private:
    struct ConfigurationFetch;
    struct PendingConnection
    {
        QUuid messageID;
        PlatformConnectionLink link;
    };
    struct VoiceSessionReadiness
    {
        bool session, voiceMode, connected, listening, busy, speaking, request, muted;
        bool isReadyToListen() const
        {
            return session && voiceMode && connected && !listening && !busy && !speaking && !request && !muted;
        }
    };

    static QCoro::Task<void> runRequest(QPointer<OverlayViewModel> self, QuestionTurn turn);
    static QCoro::Task<Result<Done, TurnError>> performRequest(QPointer<OverlayViewModel> self, QuestionTurn turn);
    static QCoro::Task<Result<Done, TurnError>> generalPath(QPointer<OverlayViewModel> self, QuestionTurn turn,
                                                           bool followingScreen);
    static QCoro::Task<void> waitingLineTask(QPointer<OverlayViewModel> self, TaskSlot::Ticket ticket,
                                             QUuid requestID);
    static QCoro::Task<void> voiceResumeTask(QPointer<OverlayViewModel> self, TaskSlot::Ticket ticket,
                                             Milliseconds delay);
    static QCoro::Task<Result<Done, GatewayFailure>> synchronize(QPointer<OverlayViewModel> self, bool force,
                                                                 std::stop_token stop);
    static QCoro::Task<void> runConfigurationFetch(QPointer<OverlayViewModel> self,
                                                   std::shared_ptr<ConfigurationFetch> fetch, VisionGateway &gateway,
                                                   QString baseURL, QString apiKey);
    static QCoro::Task<Result<Done, TurnError>> screenPath(QPointer<OverlayViewModel> self, QuestionTurn turn);
    static QCoro::Task<Result<CaptureArtifact, TurnError>> captureFreshTask(QPointer<OverlayViewModel> self,
                                                                          std::stop_token stop);
    static QCoro::Task<std::optional<AccessibilityContext>>
    collectAccessibilityTask(QPointer<OverlayViewModel> self, CaptureArtifact capture, std::stop_token stop);
    static QCoro::Task<std::optional<AccessibilityContext>>
    preparedAccessibilityTask(QPointer<OverlayViewModel> self, CaptureArtifact capture, std::stop_token stop);
    static QCoro::Task<std::optional<PreparedScreenContext>>
    preparedVisionTask(QPointer<OverlayViewModel> self, CaptureArtifact capture, std::stop_token stop);
    static QCoro::Task<void> warmAccessibilityTask(QPointer<OverlayViewModel> self,
                                                   std::shared_ptr<WarmUp<AccessibilityContext>> warm,
                                                   CaptureArtifact capture);
    static QCoro::Task<void> warmVisionTask(QPointer<OverlayViewModel> self,
                                            std::shared_ptr<WarmUp<PreparedScreenContext>> warm, int generation,
                                            CaptureArtifact capture);
    static QCoro::Task<void> warmPageTask(QPointer<OverlayViewModel> self, QString pageURL, std::stop_token stop);
    static QCoro::Task<Result<Done, TurnError>> captureOnlySteps(QPointer<OverlayViewModel> self,
                                                                 TaskSlot::Ticket ticket);
    static QCoro::Task<void> runCaptureOnly(QPointer<OverlayViewModel> self, TaskSlot::Ticket ticket);
    static QCoro::Task<void> runPairing(QPointer<OverlayViewModel> self, TaskSlot::Ticket ticket,
                                        VisionGateway &gateway, QString platformURL, QString code);

    bool speechInProgress() const;
    bool hasLineAudio(const QString &line) const;
    VoiceSessionReadiness voiceSessionReadiness() const;
    void startForcedSynchronization();
    std::shared_ptr<ConfigurationFetch> startConfigurationFetch();
    void cancelConfigurationFetch();
    void applyConfiguration(const DesktopConfiguration &configuration);
    bool connectWith(const PlatformConnectionLink &link);
    void holdForConfirmation(const PlatformConnectionLink &link);
    // Takes the held link of message `messageID` off the conversation.
    std::optional<PlatformConnectionLink> takePendingConnection(const QString &messageID);
    void dropPendingConnection();

    ChatMessage welcomeMessage() const;
    static QString newDesktopSessionID();
    void cancelVoiceResume();
    void cancelVoiceTranscription();
    void clearScreenCache();
    // `capture` is still the latest one (same capture date).
    bool isLatestCapture(const CaptureArtifact &capture) const;
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
    QVariant m_firstRun;
    QVariant m_voicePermissions;

    ChatMessageListModel m_messageModel;

    // The latest capture and what was prepared from it. Every result is
    // keyed by the capture date of the capture it was made from.
    std::optional<CaptureArtifact> m_latestCapture;
    std::optional<QByteArray> m_latestCaptureJPEG;
    std::optional<QDateTime> m_latestCaptureAt;
    std::optional<AccessibilityContext> m_latestAccessibilityContext;
    std::optional<QDateTime> m_latestAccessibilityCaptureAt;
    std::shared_ptr<WarmUp<AccessibilityContext>> m_warmAccessibilityContextTask;
    std::optional<QDateTime> m_warmAccessibilityCaptureAt;
    std::optional<PreparedScreenContext> m_preparedScreenContext;
    std::optional<QDateTime> m_preparedScreenCaptureAt;
    std::shared_ptr<WarmUp<PreparedScreenContext>> m_warmVisionContextTask;
    std::optional<QDateTime> m_warmVisionContextCaptureAt;
    int m_visionContextGeneration = 0;
    // Page warm-ups run on their own; they stop with the view model.
    std::stop_source m_pageWarmUps;

    // Voice tasks.
    TaskSlot m_voiceResume;
    TaskSlot m_voiceTranscription;

    // Opening lines.
    std::optional<QString> m_lastOpeningLine;
    std::optional<QString> m_firstLineForTurn;
    TaskSlot m_waitingLine;

    // The running question turn (its identifier is the active request).
    TaskSlot m_request;
    bool m_manualCapturePending = false;
    bool m_lastRequestUsedScreen = false;

    // Platform: the running exchange, the configuration fetch every
    // synchronisation shares, and a link held for the owner's answer.
    TaskSlot m_pairing;
    std::shared_ptr<ConfigurationFetch> m_platformConfigurationTask;
    std::optional<QUuid> m_platformConfigurationTaskID;
    std::optional<Milliseconds> m_lastPlatformConfigurationSyncAt;
    std::optional<PendingConnection> m_pendingConnection;

    // Session.
    QString m_desktopSessionID;
    QString m_greetingRU;
    QString m_greetingEN;
};

} // namespace nimbel
