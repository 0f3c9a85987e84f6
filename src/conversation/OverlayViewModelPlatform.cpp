// The view model's side of the platform connection: connection links and
// pairing, the agent's configuration, and the connection settings.
#include "conversation/OverlayViewModel.h"

#include "conversation/LinkOpener.h"
#include "conversation/ResumeGuard.h"
#include "conversation/SharedOutcome.h"
#include "core/Log.h"
#include "gateway/VisionGateway.h"
#include "settings/Localized.h"
#include "settings/PreferenceKeys.h"
#include "settings/PreferencesStore.h"

#include <algorithm>

namespace nimbel {

namespace {

const QString defaultAgentName = QStringLiteral("Nimbel");

QString greetingOr(const std::optional<QString> &configured, const char *fallback)
{
    const QString greeting = configured.value_or(QString()).trimmed();
    return greeting.isEmpty() ? QString::fromUtf8(fallback) : greeting;
}

// Values of an exchange answer that go into headers and the key store.
bool isPlain(const QString &value)
{
    return std::none_of(value.cbegin(), value.cend(),
                        [](QChar c) { return c.isSpace() || c.category() == QChar::Other_Control; });
}

} // namespace

// One fetch of the agent's configuration, shared by every synchronisation
// that asks while it runs. Its outcome is nothing on success (the fetch has
// recorded the configuration) or why it failed.
struct OverlayViewModel::ConfigurationFetch
{
    explicit ConfigurationFetch(Clock &clock)
        : outcome(clock)
    {
    }
    QUuid id = QUuid::createUuid();
    std::stop_source stop;
    SharedOutcome<std::optional<GatewayFailure>> outcome;
};

// ---- Connection links ----

bool OverlayViewModel::applyPlatformConnection(const QUrl &url)
{
    const auto link = PlatformConnectionLink::parse(url);
    if (!link)
        return false;
    // Moving an assistant that already talks to one platform over to another
    // sends every later question and screenshot there; any web page can open
    // such a link, so the owner decides.
    if (isPlatformConnected() && !platformAddress::sameOrigin(link->platformURL, m_gatewayBaseURL)) {
        holdForConfirmation(*link);
        return true;
    }
    dropPendingConnection();
    return connectWith(*link);
}

bool OverlayViewModel::connectWith(const PlatformConnectionLink &link)
{
    if (const auto *pairing = std::get_if<PlatformConnectionLink::Pairing>(&link.connection)) {
        setFailure(std::nullopt);
        setState(State::analyzing);
        runPairing(QPointer<OverlayViewModel>(this), m_pairing.start(), *m_gateway, link.platformURL, pairing->code);
        return true;
    }
    const auto &direct = std::get<PlatformConnectionLink::Direct>(link.connection);
    // The newest link wins over an exchange still running for an older one.
    m_pairing.cancel();
    if (const auto error = finishPlatformConnection(link.platformURL, direct.token, direct.agentID, direct.agentName)) {
        fail(*error, true);
        return false;
    }
    return true;
}

void OverlayViewModel::holdForConfirmation(const PlatformConnectionLink &link)
{
    dropPendingConnection();
    const QString current = platformAddress::displayHost(m_gatewayBaseURL);
    const QString proposed = platformAddress::displayHost(link.platformURL);
    ConnectionChoice choice{proposed, QString()};
    QString text;
    if (const auto *direct = std::get_if<PlatformConnectionLink::Direct>(&link.connection)) {
        choice.agentName = direct->agentName;
        text = L::text("chat.switchPlatform.agent").arg(current, proposed, direct->agentName);
    } else {
        text = L::text("chat.switchPlatform.pairing").arg(current, proposed);
    }
    ChatMessage message = ChatMessage::create(ChatMessage::Role::assistant, text, m_services.clock.now());
    message.pendingConnection = choice;
    m_pendingConnection = PendingConnection{message.id, link};
    appendMessage(message);
    log::info(log::general(), log::Record()
                                  .add(u"event", u"connection_link_held")
                                  .add(u"current_host", current)
                                  .add(u"proposed_host", proposed));
}

std::optional<PlatformConnectionLink> OverlayViewModel::takePendingConnection(const QString &messageID)
{
    const QUuid id = QUuid::fromString(messageID);
    if (id.isNull() || !m_pendingConnection || m_pendingConnection->messageID != id)
        return std::nullopt;
    PlatformConnectionLink link = m_pendingConnection->link;
    dropPendingConnection();
    return link;
}

void OverlayViewModel::dropPendingConnection()
{
    if (!m_pendingConnection)
        return;
    const QUuid id = m_pendingConnection->messageID;
    m_pendingConnection.reset();
    QList<ChatMessage> messages = m_messages;
    for (ChatMessage &message : messages) {
        if (message.id == id)
            message.pendingConnection.reset();
    }
    setMessages(std::move(messages));
}

bool OverlayViewModel::confirmPlatformConnection(const QString &messageID)
{
    const auto link = takePendingConnection(messageID);
    if (!link)
        return false;
    log::info(log::general(), log::Record().add(u"event", u"connection_link_confirmed"));
    return connectWith(*link);
}

bool OverlayViewModel::cancelPlatformConnection(const QString &messageID)
{
    if (!takePendingConnection(messageID))
        return false;
    log::info(log::general(), log::Record().add(u"event", u"connection_link_declined"));
    appendMessage(ChatMessage::create(ChatMessage::Role::assistant,
                                      L::text("chat.switchPlatform.kept").arg(platformAddress::displayHost(m_gatewayBaseURL)),
                                      m_services.clock.now()));
    return true;
}

// ---- Pairing ----

QCoro::Task<void> OverlayViewModel::runPairing(QPointer<OverlayViewModel> self, TaskSlot::Ticket ticket,
                                               VisionGateway &gateway, QString platformURL, QString code)
{
    const auto answer = co_await gateway.exchangeDesktopPairing(platformURL, code, ticket.token);
    OverlayViewModel *model = resumeTarget(self, ticket, &OverlayViewModel::m_pairing);
    if (!model)
        co_return;
    model->m_pairing.finish(ticket.id);
    if (!answer.ok()) {
        if (!answer.error().isCancelled())
            model->fail(answer.error(), true);
        co_return;
    }
    const DesktopPairingConfiguration &pairing = answer.value();
    // The key is used only for the platform the link named, and only in the
    // forms the platform hands out.
    if (platformAddress::withoutEdgeSlashes(pairing.platformURL) != platformURL || !pairing.token.startsWith(u"zelm-")
        || !isPlain(pairing.token) || !pairing.agentID.startsWith(u"dsa-") || !isPlain(pairing.agentID)) {
        model->fail(VisionGatewayError::invalidResponse(), true);
        co_return;
    }
    if (const auto error = model->finishPlatformConnection(platformURL, pairing.token, pairing.agentID,
                                                           pairing.agentName))
        model->fail(*error, true);
}

std::optional<KeychainError> OverlayViewModel::finishPlatformConnection(const QString &platformURL,
                                                                        const QString &token, const QString &agentID,
                                                                        const QString &agentName)
{
    if (auto error = m_services.tokenStore.write(token))
        return error;

    const QString name = agentName.isEmpty() ? defaultAgentName : agentName;
    setGatewayBaseURL(platformURL);
    setPlatformAPIKey(token);
    setConnectedAgentID(agentID);
    setConnectedAgentName(name);
    m_services.preferences.setString(keys::desktopPlatformBaseURL, platformURL);
    m_services.preferences.setString(keys::desktopConnectedAgentID, agentID);
    m_services.preferences.setString(keys::desktopConnectedAgentName, name);

    cancelConfigurationFetch();
    m_lastPlatformConfigurationSyncAt.reset();
    setFailure(std::nullopt);
    setState(State::idle);
    appendMessage(ChatMessage::create(ChatMessage::Role::assistant, L::chatAgentConnected(name),
                                      m_services.clock.now()));
    startForcedSynchronization();
    return std::nullopt;
}

// ---- Configuration ----

void OverlayViewModel::startForcedSynchronization()
{
    // Fire and forget: a failure leaves the previous configuration, and the
    // next turn tries again.
    synchronize(QPointer<OverlayViewModel>(this), true, {});
}

QCoro::Task<Result<Done, GatewayFailure>> OverlayViewModel::synchronizePlatformConfiguration(bool force,
                                                                                              std::stop_token stop)
{
    return synchronize(QPointer<OverlayViewModel>(this), force, std::move(stop));
}

QCoro::Task<Result<Done, GatewayFailure>> OverlayViewModel::synchronize(QPointer<OverlayViewModel> self, bool force,
                                                                        std::stop_token stop)
{
    while (true) {
        OverlayViewModel *model = self.data();
        if (!model || stop.stop_requested())
            co_return GatewayFailure::cancelled();
        const Milliseconds now = model->m_services.clock.uptime();
        if (!force && model->m_lastPlatformConfigurationSyncAt
            && now - *model->m_lastPlatformConfigurationSyncAt < configurationSyncInterval)
            co_return Done{};

        std::shared_ptr<ConfigurationFetch> fetch = model->m_platformConfigurationTask;
        if (!fetch)
            fetch = model->startConfigurationFetch();
        const bool arrived = co_await fetch->outcome.wait(stop);
        if (!arrived)
            co_return GatewayFailure::cancelled();
        const std::optional<GatewayFailure> &failure = fetch->outcome.value();
        if (!failure)
            co_return Done{};
        // A fetch cancelled because the connection changed under it: ask
        // again with the new connection rather than report a cancellation
        // nobody asked for.
        if (failure->isCancelled() && fetch->stop.stop_requested())
            continue;
        co_return *failure;
    }
}

std::shared_ptr<OverlayViewModel::ConfigurationFetch> OverlayViewModel::startConfigurationFetch()
{
    auto fetch = std::make_shared<ConfigurationFetch>(m_services.clock);
    m_platformConfigurationTask = fetch;
    m_platformConfigurationTaskID = fetch->id;
    runConfigurationFetch(QPointer<OverlayViewModel>(this), fetch, *m_gateway, m_gatewayBaseURL, m_platformAPIKey);
    return fetch;
}

void OverlayViewModel::cancelConfigurationFetch()
{
    std::shared_ptr<ConfigurationFetch> fetch = std::exchange(m_platformConfigurationTask, nullptr);
    m_platformConfigurationTaskID.reset();
    if (fetch)
        fetch->stop.request_stop();
}

QCoro::Task<void> OverlayViewModel::runConfigurationFetch(QPointer<OverlayViewModel> self,
                                                          std::shared_ptr<ConfigurationFetch> fetch,
                                                          VisionGateway &gateway, QString baseURL, QString apiKey)
{
    const auto result = co_await gateway.fetchDesktopConfiguration(baseURL, apiKey, fetch->stop.get_token());
    std::optional<GatewayFailure> failure;
    if (!result.ok())
        failure = result.error();

    OverlayViewModel *model = self.data();
    if (model && model->m_platformConfigurationTaskID == fetch->id && !fetch->stop.stop_requested()) {
        model->m_platformConfigurationTask.reset();
        model->m_platformConfigurationTaskID.reset();
        // Recorded here, once, rather than by each waiter: a fetch whose
        // callers have all gone still counts.
        if (!failure)
            model->applyConfiguration(result.value());
    } else if (!failure) {
        // Superseded (new settings, a new connection): its answer is for a
        // connection that no longer exists.
        failure = GatewayFailure::cancelled();
    }
    fetch->outcome.set(std::move(failure));
}

void OverlayViewModel::applyConfiguration(const DesktopConfiguration &configuration)
{
    setConnectedAgentID(configuration.agentID);
    setConnectedAgentName(configuration.agentName);
    setDesktopSkills(configuration.skills);
    m_greetingRU = greetingOr(configuration.greetRU, defaults::greetingRU);
    m_greetingEN = greetingOr(configuration.greetEN, defaults::greetingEN);
    m_services.preferences.setString(keys::desktopConnectedAgentID, configuration.agentID);
    m_services.preferences.setString(keys::desktopConnectedAgentName, configuration.agentName);
    m_services.preferences.setString(keys::desktopGreetingRU, m_greetingRU);
    m_services.preferences.setString(keys::desktopGreetingEN, m_greetingEN);
    m_lastPlatformConfigurationSyncAt = m_services.clock.uptime();
}

// ---- Connection settings ----

void OverlayViewModel::savePlatformSettings()
{
    const QString address = m_gatewayBaseURL.trimmed();
    setGatewayBaseURL(address);
    m_services.preferences.setString(keys::desktopPlatformBaseURL, address);

    const QString key = m_platformAPIKey.trimmed();
    if (const auto error = m_services.tokenStore.write(key)) {
        fail(*error, std::nullopt);
        return;
    }
    setPlatformAPIKey(key);
    // The next turn fetches the configuration with the new key.
    cancelConfigurationFetch();
    m_lastPlatformConfigurationSyncAt.reset();
    setFailure(std::nullopt);
}

QUrl OverlayViewModel::platformConnectionPage() const
{
    const QUrl base(m_gatewayBaseURL.trimmed(), QUrl::StrictMode);
    const QString scheme = base.scheme().toLower();
    if (base.isValid() && !base.host().isEmpty() && (scheme == u"https" || scheme == u"http"))
        return base.resolved(QUrl(QStringLiteral("/desktop-agent")));
    return QUrl(defaultPlatformURL()).resolved(QUrl(QStringLiteral("/desktop-agent")));
}

void OverlayViewModel::openPlatformConnectionPage()
{
    m_links->open(platformConnectionPage());
}

} // namespace nimbel
