#include "conversation/PlatformLinkController.h"

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
struct PlatformLinkController::ConfigurationFetch
{
    explicit ConfigurationFetch(Clock &clock)
        : outcome(clock)
    {
    }
    QUuid id = QUuid::createUuid();
    std::stop_source stop;
    SharedOutcome<std::optional<GatewayFailure>> outcome;
};

PlatformLinkController::PlatformLinkController(OverlayViewModel &model, Services services)
    : m_model(model)
    , m_services(services)
{
}

PlatformLinkController::~PlatformLinkController()
{
    m_pairing.cancel();
    cancelConfigurationFetch();
}

// ---- Connection links ----

bool PlatformLinkController::applyPlatformConnection(const QUrl &url)
{
    const auto link = PlatformConnectionLink::parse(url);
    if (!link)
        return false;
    // Moving an assistant that already talks to one platform over to another
    // sends every later question and screenshot there; any web page can open
    // such a link, so the owner decides.
    if (m_model.isPlatformConnected() && !platformAddress::sameOrigin(link->platformURL, m_model.gatewayBaseURL())) {
        holdForConfirmation(*link);
        return true;
    }
    dropPendingConnection();
    return connectWith(*link);
}

bool PlatformLinkController::connectWith(const PlatformConnectionLink &link)
{
    if (const auto *pairing = std::get_if<PlatformConnectionLink::Pairing>(&link.connection)) {
        m_model.setFailure(std::nullopt);
        m_model.setState(OverlayViewModel::State::analyzing);
        runPairing(QPointer<PlatformLinkController>(this), m_pairing.start(), m_services.gateway, link.platformURL, pairing->code);
        return true;
    }
    const auto &direct = std::get<PlatformConnectionLink::Direct>(link.connection);
    // The newest link wins over an exchange still running for an older one.
    m_pairing.cancel();
    if (const auto error = finishPlatformConnection(link.platformURL, direct.token, direct.agentID, direct.agentName)) {
        m_model.fail(*error, true);
        return false;
    }
    return true;
}

void PlatformLinkController::holdForConfirmation(const PlatformConnectionLink &link)
{
    dropPendingConnection();
    const QString current = platformAddress::displayHost(m_model.gatewayBaseURL());
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
    m_model.appendMessage(message);
    log::info(log::general(), log::Record()
                                  .add(u"event", u"connection_link_held")
                                  .add(u"current_host", current)
                                  .add(u"proposed_host", proposed));
}

std::optional<PlatformConnectionLink> PlatformLinkController::takePendingConnection(const QString &messageID)
{
    const QUuid id = QUuid::fromString(messageID);
    if (id.isNull() || !m_pendingConnection || m_pendingConnection->messageID != id)
        return std::nullopt;
    PlatformConnectionLink link = m_pendingConnection->link;
    dropPendingConnection();
    return link;
}

void PlatformLinkController::forgetPendingConnectionUnlessShown()
{
    if (m_pendingConnection && !m_model.findMessage(m_pendingConnection->messageID))
        m_pendingConnection.reset();
}

void PlatformLinkController::dropPendingConnection()
{
    if (!m_pendingConnection)
        return;
    const QUuid id = m_pendingConnection->messageID;
    m_pendingConnection.reset();
    QList<ChatMessage> messages = m_model.messages();
    for (ChatMessage &message : messages) {
        if (message.id == id)
            message.pendingConnection.reset();
    }
    m_model.setMessages(std::move(messages));
}

bool PlatformLinkController::confirmPlatformConnection(const QString &messageID)
{
    const auto link = takePendingConnection(messageID);
    if (!link)
        return false;
    log::info(log::general(), log::Record().add(u"event", u"connection_link_confirmed"));
    return connectWith(*link);
}

bool PlatformLinkController::cancelPlatformConnection(const QString &messageID)
{
    if (!takePendingConnection(messageID))
        return false;
    log::info(log::general(), log::Record().add(u"event", u"connection_link_declined"));
    m_model.appendMessage(ChatMessage::create(ChatMessage::Role::assistant,
                                      L::text("chat.switchPlatform.kept").arg(platformAddress::displayHost(m_model.gatewayBaseURL())),
                                      m_services.clock.now()));
    return true;
}

// ---- Pairing ----

QCoro::Task<void> PlatformLinkController::runPairing(QPointer<PlatformLinkController> self, TaskSlot::Ticket ticket,
                                               VisionGateway &gateway, QString platformURL, QString code)
{
    const auto answer = co_await gateway.exchangeDesktopPairing(platformURL, code, ticket.token);
    PlatformLinkController *model = resumeTarget(self, ticket, &PlatformLinkController::m_pairing);
    if (!model)
        co_return;
    model->m_pairing.finish(ticket.id);
    if (!answer.ok()) {
        if (!answer.error().isCancelled())
            model->m_model.fail(answer.error(), true);
        co_return;
    }
    const DesktopPairingConfiguration &pairing = answer.value();
    // The key is used only for the platform the link named, and only in the
    // forms the platform hands out.
    if (platformAddress::withoutEdgeSlashes(pairing.platformURL) != platformURL || !pairing.token.startsWith(u"zelm-")
        || !isPlain(pairing.token) || !pairing.agentID.startsWith(u"dsa-") || !isPlain(pairing.agentID)) {
        model->m_model.fail(VisionGatewayError::invalidResponse(), true);
        co_return;
    }
    if (const auto error = model->finishPlatformConnection(platformURL, pairing.token, pairing.agentID,
                                                           pairing.agentName))
        model->m_model.fail(*error, true);
}

std::optional<KeychainError> PlatformLinkController::finishPlatformConnection(const QString &platformURL,
                                                                        const QString &token, const QString &agentID,
                                                                        const QString &agentName)
{
    if (auto error = m_services.tokenStore.write(token))
        return error;

    const QString name = agentName.isEmpty() ? defaultAgentName : agentName;
    m_model.setGatewayBaseURL(platformURL);
    m_model.setPlatformAPIKey(token);
    m_model.setConnectedAgentID(agentID);
    m_model.setConnectedAgentName(name);
    m_services.preferences.setString(keys::desktopPlatformBaseURL, platformURL);
    m_services.preferences.setString(keys::desktopConnectedAgentID, agentID);
    m_services.preferences.setString(keys::desktopConnectedAgentName, name);

    cancelConfigurationFetch();
    m_lastPlatformConfigurationSyncAt.reset();
    m_model.setFailure(std::nullopt);
    m_model.setState(OverlayViewModel::State::idle);
    m_model.appendMessage(ChatMessage::create(ChatMessage::Role::assistant, L::chatAgentConnected(name),
                                      m_services.clock.now()));
    startForcedSynchronization();
    return std::nullopt;
}

// ---- Configuration ----

void PlatformLinkController::startForcedSynchronization()
{
    // Fire and forget: a failure leaves the previous configuration, and the
    // next turn tries again.
    synchronize(QPointer<PlatformLinkController>(this), true, {});
}

QCoro::Task<Result<Done, GatewayFailure>> PlatformLinkController::synchronizePlatformConfiguration(bool force,
                                                                                              std::stop_token stop)
{
    return synchronize(QPointer<PlatformLinkController>(this), force, std::move(stop));
}

QCoro::Task<Result<Done, GatewayFailure>> PlatformLinkController::synchronize(QPointer<PlatformLinkController> self, bool force,
                                                                        std::stop_token stop)
{
    while (true) {
        PlatformLinkController *model = self.data();
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

std::shared_ptr<PlatformLinkController::ConfigurationFetch> PlatformLinkController::startConfigurationFetch()
{
    auto fetch = std::make_shared<ConfigurationFetch>(m_services.clock);
    m_platformConfigurationTask = fetch;
    m_platformConfigurationTaskID = fetch->id;
    runConfigurationFetch(QPointer<PlatformLinkController>(this), fetch, m_services.gateway, m_model.gatewayBaseURL(), m_model.platformAPIKey());
    return fetch;
}

void PlatformLinkController::cancelConfigurationFetch()
{
    std::shared_ptr<ConfigurationFetch> fetch = std::exchange(m_platformConfigurationTask, nullptr);
    m_platformConfigurationTaskID.reset();
    if (fetch)
        fetch->stop.request_stop();
}

QCoro::Task<void> PlatformLinkController::runConfigurationFetch(QPointer<PlatformLinkController> self,
                                                          std::shared_ptr<ConfigurationFetch> fetch,
                                                          VisionGateway &gateway, QString baseURL, QString apiKey)
{
    const auto result = co_await gateway.fetchDesktopConfiguration(baseURL, apiKey, fetch->stop.get_token());
    std::optional<GatewayFailure> failure;
    if (!result.ok())
        failure = result.error();

    PlatformLinkController *model = self.data();
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

void PlatformLinkController::applyConfiguration(const DesktopConfiguration &configuration)
{
    m_model.setConnectedAgentID(configuration.agentID);
    m_model.setConnectedAgentName(configuration.agentName);
    m_model.setDesktopSkills(configuration.skills);
    const QString greetingRU = greetingOr(configuration.greetRU, defaults::greetingRU);
    const QString greetingEN = greetingOr(configuration.greetEN, defaults::greetingEN);
    m_model.setGreetings(greetingRU, greetingEN);
    m_services.preferences.setString(keys::desktopConnectedAgentID, configuration.agentID);
    m_services.preferences.setString(keys::desktopConnectedAgentName, configuration.agentName);
    m_services.preferences.setString(keys::desktopGreetingRU, greetingRU);
    m_services.preferences.setString(keys::desktopGreetingEN, greetingEN);
    m_lastPlatformConfigurationSyncAt = m_services.clock.uptime();
    // The greeting and the voice may have changed with the configuration.
    m_model.voiceSession().prewarmVoiceLines();
}

// ---- Connection settings ----

void PlatformLinkController::savePlatformSettings()
{
    const QString address = m_model.gatewayBaseURL().trimmed();
    m_model.setGatewayBaseURL(address);
    m_services.preferences.setString(keys::desktopPlatformBaseURL, address);

    const QString key = m_model.platformAPIKey().trimmed();
    if (const auto error = m_services.tokenStore.write(key)) {
        m_model.fail(*error, std::nullopt);
        return;
    }
    m_model.setPlatformAPIKey(key);
    // The next turn fetches the configuration with the new key.
    cancelConfigurationFetch();
    m_lastPlatformConfigurationSyncAt.reset();
    m_model.setFailure(std::nullopt);
}

QUrl PlatformLinkController::platformConnectionPage() const
{
    const QUrl base(m_model.gatewayBaseURL().trimmed(), QUrl::StrictMode);
    const QString scheme = base.scheme().toLower();
    if (base.isValid() && !base.host().isEmpty() && (scheme == u"https" || scheme == u"http"))
        return base.resolved(QUrl(QStringLiteral("/desktop-agent")));
    return QUrl(defaultPlatformURL()).resolved(QUrl(QStringLiteral("/desktop-agent")));
}

void PlatformLinkController::openPlatformConnectionPage()
{
    m_services.links.open(platformConnectionPage());
}

} // namespace nimbel
