#include "TaskRunner.h"
#include "ViewModelHarness.h"

#include <QSignalSpy>

using namespace nimbel;
using namespace std::chrono_literals;
using namespace Qt::StringLiterals;
using State = OverlayViewModel::State;
using test::started;

namespace {

const QString code = u"AbCdEfGhIjKlMnOpQrStUvWx_-12"_s;

QUrl pairingLink(const QString &platform, const QString &pairingCode = code)
{
    return QUrl("zelmdesktop://connect?platform_url=" + QString::fromLatin1(QUrl::toPercentEncoding(platform))
                + "&code=" + pairingCode);
}

QUrl directLink(const QString &platform, const QString &extra = {})
{
    return QUrl("zelmdesktop://connect?platform_url=" + platform + "&token=zelm-direct&agent_id=dsa-direct" + extra);
}

DesktopPairingConfiguration exchanged(const QString &platform, const QString &token = u"zelm-paired"_s,
                                      const QString &agent = u"dsa-paired"_s)
{
    return {platform, token, agent, u"Vega"_s};
}

class PlatformConnectionTest : public test::ViewModelHarness
{
protected:
    QString stored(const char *key) const { return preferences.string(key).value_or(u"<absent>"_s); }
};

} // namespace

TEST_F(PlatformConnectionTest, SynchronisationIsThrottledForTwentySeconds)
{
    const auto model = makeConnected();
    ASSERT_EQ(gateway.configurations.size(), 1);
    EXPECT_EQ(model->platformLink().lastPlatformConfigurationSyncAt(), 0ms);
    gateway.configurationAnswer = configuration();

    // 19.9 s after the last synchronisation a turn does not fetch again…
    clock.advance(19'900ms);
    ask(*model, u"Tell me a story"_s);
    EXPECT_EQ(gateway.configurations.size(), 1);
    ASSERT_EQ(gateway.chats.size(), 1);

    // …at 20 s it does, before the chat.
    clock.advance(100ms);
    ask(*model, u"Tell me another"_s);
    EXPECT_EQ(gateway.configurations.size(), 2);
    EXPECT_EQ(gateway.chats.size(), 2);
    EXPECT_EQ(model->platformLink().lastPlatformConfigurationSyncAt(), 20'000ms);
}

TEST_F(PlatformConnectionTest, ConcurrentSynchronisationsShareOneFetchAndAFailureKeepsTheConfiguration)
{
    auto skills = OverlayViewModel::allSkillsOn();
    skills[u"people_on_screen"_s] = false;
    gateway.configurationAnswer = configuration(skills);
    const auto model = makeConnected();
    gateway.configurationAnswer.reset();
    clock.advance(30s);
    const auto waiters = {started(model->synchronizePlatformConfiguration(false)),
                          started(model->synchronizePlatformConfiguration(false)),
                          started(model->synchronizePlatformConfiguration(true))};
    clock.settle();
    ASSERT_EQ(gateway.configurations.size(), 2);
    EXPECT_FALSE(**waiters.begin());
    // An answer without skills is invalid: the gateway reports it so, to every waiter.
    reply(gateway.configurations.last(), VisionGatewayError::invalidResponse());
    for (const auto &waiter : waiters) {
        ASSERT_TRUE(*waiter && !(*waiter)->ok());
        EXPECT_EQ((*waiter)->error(), GatewayFailure(VisionGatewayError::invalidResponse()));
    }
    EXPECT_EQ(model->desktopSkills(), skills);
    EXPECT_EQ(model->connectedAgentName(), u"Orion");

    // So the next call fetches again at once, and its answer is taken.
    const auto again = started(model->synchronizePlatformConfiguration(false));
    clock.settle();
    ASSERT_EQ(gateway.configurations.size(), 3);
    DesktopConfiguration config;
    config.agentID = u"dsa-agent-2"_s;
    config.skills = {{u"screen_capture"_s, false}, {u"web_research"_s, true}};
    reply(gateway.configurations.last(), config);
    EXPECT_TRUE(*again && (*again)->ok());
    EXPECT_EQ(model->connectedAgentID(), u"dsa-agent-2");
    EXPECT_EQ(model->desktopSkills(), config.skills);
    EXPECT_EQ(stored(keys::desktopConnectedAgentID), u"dsa-agent-2");
}

TEST_F(PlatformConnectionTest, SavingSettingsMakesTheNextTurnUseTheNewKey)
{
    const auto model = makeConnected();
    clock.advance(30s);
    // Both turns wait on a fetch with the old key; only the newer one is to go on.
    ask(*model, u"Tell me a story"_s);
    ask(*model, u"Tell me a joke"_s);
    ASSERT_EQ(gateway.configurations.size(), 2);
    const auto oldFetch = gateway.configurations.last();

    model->setGatewayBaseURL(u"  https://platform.example/  "_s);
    model->setPlatformAPIKey(u" zelm-new\n"_s);
    model->setFailure(ZelmFailure{u"old failure"_s});
    model->savePlatformSettings();
    EXPECT_EQ(tokens.key, u"zelm-new");
    EXPECT_FALSE(model->failure());
    EXPECT_TRUE(oldFetch->isStopped());

    // The waiting turn asks again, now with the new key, and is not failed
    // by the cancelled fetch.
    clock.settle();
    ASSERT_EQ(gateway.configurations.size(), 3);
    EXPECT_EQ(gateway.configurations.last()->apiKey, u"zelm-new");
    EXPECT_EQ(gateway.configurations.last()->baseURL, u"https://platform.example/");
    reply(gateway.configurations.last(), configuration());
    ASSERT_EQ(gateway.chats.size(), 1);
    EXPECT_EQ(gateway.chats.first()->messages.last().content, u"Tell me a joke");
    EXPECT_EQ(gateway.chats.first()->apiKey, u"zelm-new");
    EXPECT_FALSE(model->failure());

    // Saving an empty key deletes the stored one, without a failure.
    model->setPlatformAPIKey(u"   "_s);
    model->savePlatformSettings();
    EXPECT_TRUE(tokens.key.isEmpty());
    EXPECT_FALSE(model->failure());
}

TEST_F(PlatformConnectionTest, PairingLinkExchangesTheCodeAndALaterLinkSupersedesIt)
{
    const auto model = make();
    EXPECT_TRUE(model->applyPlatformConnection(pairingLink(u"http://127.0.0.1:4100/"_s)));
    EXPECT_TRUE(model->platformLink().isPairing());
    ASSERT_EQ(gateway.pairings.size(), 1);
    const auto first = gateway.pairings.last();
    EXPECT_EQ(first->baseURL, u"http://127.0.0.1:4100");
    EXPECT_EQ(first->code, code);
    EXPECT_FALSE(model->isPlatformConnected());

    // A second link stops the first exchange, whose late answer is dropped.
    const QString secondCode = QString(30, u'Z');
    ASSERT_TRUE(model->applyPlatformConnection(pairingLink(u"http://localhost:4200"_s, secondCode)));
    EXPECT_TRUE(first->isStopped());
    EXPECT_EQ(gateway.pairings.last()->code, secondCode);
    reply(first, exchanged(u"http://127.0.0.1:4100"_s));
    EXPECT_FALSE(model->isPlatformConnected());
    EXPECT_FALSE(model->failure());
    EXPECT_TRUE(model->platformLink().isPairing());

    // An answer whose address differs only by slashes is the same platform.
    reply(gateway.pairings.last(), exchanged(u"http://localhost:4200//"_s, u"zelm-second"_s));
    EXPECT_FALSE(model->platformLink().isPairing());
    EXPECT_TRUE(model->isPlatformConnected());
    EXPECT_EQ(tokens.key, u"zelm-second");
    EXPECT_EQ(tokens.writes, 1);
    EXPECT_EQ(stored(keys::desktopPlatformBaseURL), u"http://localhost:4200");
    EXPECT_EQ(stored(keys::desktopConnectedAgentID), u"dsa-paired");
    EXPECT_EQ(model->state(), State::idle);
    // The configuration is fetched at once, with the new key.
    ASSERT_EQ(gateway.configurations.size(), 1);
    EXPECT_EQ(gateway.configurations.first()->apiKey, u"zelm-second");
}

TEST_F(PlatformConnectionTest, ExchangeAnswersForAnythingElseAreRefused)
{
    const DesktopPairingConfiguration refused[] = {
        exchanged(u"http://127.0.0.1:4101"_s),
        exchanged(u"http://127.0.0.1:4100"_s, u"zelm-a\r\nX: 1"_s),
        exchanged(u"http://127.0.0.1:4100"_s, u"zelm-a"_s, u"agent-1"_s),
    };
    const auto model = make();
    for (const auto &answer : refused) {
        model->closeChat();
        ASSERT_TRUE(model->applyPlatformConnection(pairingLink(u"http://127.0.0.1:4100"_s)));
        reply(gateway.pairings.last(), answer);
        ASSERT_TRUE(model->failure()) << answer.platformURL.toStdString();
        EXPECT_TRUE(model->isExpanded()); // shown in the chat
        EXPECT_FALSE(model->isPlatformConnected());
        EXPECT_EQ(tokens.writes, 0);
    }
}

TEST_F(PlatformConnectionTest, RefusedLinksChangeNothingAndADirectLinkConnectsAtOnce)
{
    const auto model = make();
    QSignalSpy messages(model.get(), &OverlayViewModel::messagesChanged);
    // (Which links are refused is the link parser's test: plain http to another machine here.)
    EXPECT_FALSE(model->applyPlatformConnection(QUrl("zelmdesktop://connect?platform_url=http://p.example&code="
                                                     + code)));
    clock.settle();
    EXPECT_TRUE(gateway.configurations.isEmpty()); // without a key nothing is synchronised, at start-up or since
    EXPECT_EQ(messages.count(), 0);
    EXPECT_TRUE(gateway.pairings.isEmpty());
    EXPECT_EQ(tokens.writes, 0);
    EXPECT_EQ(model->state(), State::idle);
    EXPECT_FALSE(model->failure());

    // Not connected (no key): any acceptable platform proceeds at once.
    EXPECT_TRUE(model->applyPlatformConnection(directLink(u"https://p.example/"_s)));
    EXPECT_TRUE(gateway.pairings.isEmpty());
    EXPECT_EQ(model->gatewayBaseURL(), u"https://p.example");
    EXPECT_EQ(model->platformAPIKey(), u"zelm-direct");
    EXPECT_EQ(gateway.configurations.size(), 1);

    // A key store that refuses: false, the failure in the chat, the connection untouched.
    tokens.failWrites = true;
    EXPECT_FALSE(model->applyPlatformConnection(directLink(u"https://p.example"_s, "&agent_name=Other")));
    ASSERT_TRUE(model->failure());
    EXPECT_EQ(stored(keys::desktopConnectedAgentName), u"Nimbel");
    EXPECT_EQ(gateway.configurations.size(), 1);
}

TEST_F(PlatformConnectionTest, ALinkToAnotherPlatformWaitsForTheOwnerAndOneToThePlatformInUseDoesNot)
{
    const auto model = makeConnected(u"https://platform.example"_s);
    const qsizetype fetches = gateway.configurations.size();

    // A pairing link for another platform: asked, not acted on.
    EXPECT_TRUE(model->applyPlatformConnection(pairingLink(u"https://evil.example:8443"_s)));
    EXPECT_TRUE(gateway.pairings.isEmpty());
    EXPECT_EQ(model->state(), State::idle);
    EXPECT_EQ(model->gatewayBaseURL(), u"https://platform.example");
    const ChatMessage asking = model->messages().last();
    EXPECT_TRUE(asking.text.contains(u"evil.example:8443"));
    ASSERT_TRUE(asking.pendingConnection);
    EXPECT_EQ(asking.pendingConnection->platformHost, u"evil.example:8443");

    // Cancel: nothing changes but the question's actions go away.
    const QString id = asking.id.toString(QUuid::WithoutBraces);
    EXPECT_TRUE(model->cancelPlatformConnection(id));
    EXPECT_FALSE(model->findMessage(asking.id)->pendingConnection);
    EXPECT_FALSE(model->confirmPlatformConnection(id)); // answered already
    EXPECT_TRUE(gateway.pairings.isEmpty());
    EXPECT_EQ(tokens.key, u"zelm-key");

    // A newer link replaces a question still open.
    ASSERT_TRUE(model->applyPlatformConnection(directLink(u"https://one.example"_s)));
    const QUuid older = model->messages().last().id;
    ASSERT_TRUE(model->applyPlatformConnection(directLink(u"https://two.example"_s, "&agent_name=Vega")));
    const ChatMessage newer = model->messages().last();
    EXPECT_FALSE(model->findMessage(older)->pendingConnection);
    EXPECT_FALSE(model->confirmPlatformConnection(older.toString(QUuid::WithoutBraces)));
    EXPECT_EQ(model->gatewayBaseURL(), u"https://platform.example");

    // Connect: the link is acted on as it would have been at once.
    EXPECT_TRUE(model->confirmPlatformConnection(newer.id.toString()));
    EXPECT_EQ(model->gatewayBaseURL(), u"https://two.example");
    EXPECT_EQ(model->connectedAgentName(), u"Vega");
    EXPECT_EQ(tokens.key, u"zelm-direct");
    EXPECT_FALSE(model->findMessage(newer.id)->pendingConnection);
    EXPECT_EQ(gateway.configurations.size(), fetches + 1);

    // A link for the platform in use (same origin: default port, case, path, slashes) is not asked about.
    EXPECT_TRUE(model->applyPlatformConnection(pairingLink(u"https://TWO.example:443/team/"_s)));
    ASSERT_EQ(gateway.pairings.size(), 1);
    EXPECT_EQ(gateway.pairings.last()->baseURL, u"https://TWO.example:443/team");
    EXPECT_FALSE(model->messages().last().pendingConnection);
}

TEST_F(PlatformConnectionTest, ConnectionPageFollowsTheAddress)
{
    const auto model = make();
    const QString fallback = defaultPlatformURL() + "/desktop-agent";
    const std::pair<QString, QString> cases[] = {
        {" https://platform.example/some/path?x=1 ", "https://platform.example/desktop-agent"},
        {"file:///etc/passwd", fallback}};
    for (const auto &[address, page] : cases) {
        model->setGatewayBaseURL(address);
        model->openPlatformConnectionPage();
        ASSERT_EQ(links.opened.size(), 1) << address.toStdString();
        EXPECT_EQ(links.opened.takeFirst(), QUrl(page)) << address.toStdString();
    }
}
