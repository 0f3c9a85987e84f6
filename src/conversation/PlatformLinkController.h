#pragma once

#include "conversation/PlatformConnectionLink.h"
#include "core/Clock.h"
#include "core/Result.h"
#include "core/TaskSlot.h"
#include "gateway/DesktopConfiguration.h"
#include "gateway/GatewayFailure.h"
#include "settings/TokenStore.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <QCoro/QCoroTask>

#include <memory>
#include <optional>
#include <stop_token>

namespace nimbel {

class LinkOpener;
class OverlayViewModel;
class PreferencesStore;
class VisionGateway;

// The view model's link to the platform: connection links and pairing, the
// held link of a re-pairing that waits for the owner's answer, the agent's
// configuration (fetched at most every 20 s, one fetch shared by every
// caller) and the connection settings. Publishes through the view model.
class PlatformLinkController final : public QObject
{
    Q_OBJECT
public:
    struct Services
    {
        Clock &clock;
        PreferencesStore &preferences;
        TokenStore &tokenStore;
        VisionGateway &gateway;
        LinkOpener &links;
    };

    PlatformLinkController(OverlayViewModel &model, Services services);
    ~PlatformLinkController() override;

    // True when `url` was a connection link that was acted on: connected,
    // pairing, or held for the owner's confirmation when it would move a
    // connected assistant to another platform.
    bool applyPlatformConnection(const QUrl &url);
    bool confirmPlatformConnection(const QString &messageID);
    bool cancelPlatformConnection(const QString &messageID);
    std::optional<KeychainError> finishPlatformConnection(const QString &platformURL, const QString &token,
                                                          const QString &agentID, const QString &agentName);
    QCoro::Task<Result<Done, GatewayFailure>> synchronizePlatformConfiguration(bool force, std::stop_token stop = {});
    // A fetch in the background whose failure leaves the previous configuration.
    void startForcedSynchronization();
    void savePlatformSettings();
    void openPlatformConnectionPage();
    QUrl platformConnectionPage() const;
    // The held link's question left the conversation: it can no longer be answered.
    void forgetPendingConnectionUnlessShown();

    std::optional<Milliseconds> lastPlatformConfigurationSyncAt() const { return m_lastPlatformConfigurationSyncAt; }
    bool isPairing() const { return m_pairing.isRunning(); }
    bool isSynchronizingConfiguration() const { return m_platformConfigurationTask != nullptr; }

    static constexpr Milliseconds configurationSyncInterval{20'000};

private:
    struct ConfigurationFetch;
    struct PendingConnection
    {
        QUuid messageID;
        PlatformConnectionLink link;
    };

    static QCoro::Task<Result<Done, GatewayFailure>> synchronize(QPointer<PlatformLinkController> self, bool force,
                                                                 std::stop_token stop);
    static QCoro::Task<void> runConfigurationFetch(QPointer<PlatformLinkController> self,
                                                   std::shared_ptr<ConfigurationFetch> fetch, VisionGateway &gateway,
                                                   QString baseURL, QString apiKey);
    static QCoro::Task<void> runPairing(QPointer<PlatformLinkController> self, TaskSlot::Ticket ticket,
                                        VisionGateway &gateway, QString platformURL, QString code);

    std::shared_ptr<ConfigurationFetch> startConfigurationFetch();
    void cancelConfigurationFetch();
    void applyConfiguration(const DesktopConfiguration &configuration);
    bool connectWith(const PlatformConnectionLink &link);
    void holdForConfirmation(const PlatformConnectionLink &link);
    std::optional<PlatformConnectionLink> takePendingConnection(const QString &messageID);
    void dropPendingConnection();

    OverlayViewModel &m_model;
    Services m_services;
    TaskSlot m_pairing;
    std::shared_ptr<ConfigurationFetch> m_platformConfigurationTask;
    std::optional<QUuid> m_platformConfigurationTaskID;
    std::optional<Milliseconds> m_lastPlatformConfigurationSyncAt;
    std::optional<PendingConnection> m_pendingConnection;
};

} // namespace nimbel
