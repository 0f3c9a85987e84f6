#include "TaskRunner.h"
#include "ViewModelHarness.h"

#include <QSignalSpy>

using namespace nimbel;
using namespace std::chrono_literals;
using State = OverlayViewModel::State;
using test::started;

namespace {

const QString code = QStringLiteral("AbCdEfGhIjKlMnOpQrStUvWx_-12");
const QString welcome = QStringLiteral("Hi! Show me what is unclear on your screen and I’ll tell you the next step.");

QUrl pairingLink(const QString &platform, const QString &pairingCode = code)
{
    return QUrl("zelmdesktop://connect?platform_url=" + QString::fromLatin1(QUrl::toPercentEncoding(platform))
                + "&code=" + pairingCode);
}

QUrl directLink(const QString &platform, const QString &extra = {})
{
    return QUrl("zelmdesktop://connect?platform_url=" + platform + "&token=zelm-direct&agent_id=dsa-direct" + extra);
}

DesktopPairingConfiguration exchanged(const QString &platform, const QString &token = QStringLiteral("zelm-paired"),
                                      const QString &agent = QStringLiteral("dsa-paired"))
{
    return {platform, token, agent, QStringLiteral("Vega")};
}

class PlatformConnectionTest : public test::ViewModelHarness
{
protected:
    QString stored(const char *key) const { return preferences.string(key).value_or(QStringLiteral("<absent>")); }
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
    ask(*model, QStringLiteral("Tell me a story"));
    EXPECT_EQ(gateway.configurations.size(), 1);
    ASSERT_EQ(gateway.chats.size(), 1);

    // …at 20 s it does, before the chat.
    clock.advance(100ms);
    ask(*model, QStringLiteral("Tell me another"));
    EXPECT_EQ(gateway.configurations.size(), 2);
    EXPECT_EQ(gateway.chats.size(), 2);
    EXPECT_EQ(model->platformLink().lastPlatformConfigurationSyncAt(), 20'000ms);

    // Two plain synchronisations 5 s apart fetch once; a forced one fetches again.
    clock.advance(5s);
    const auto plain = started(model->synchronizePlatformConfiguration(false));
    clock.settle();
    ASSERT_TRUE(*plain && (*plain)->ok());
    EXPECT_EQ(gateway.configurations.size(), 2);
    const auto forced = started(model->synchronizePlatformConfiguration(true));
    clock.settle();
    ASSERT_TRUE(*forced && (*forced)->ok());
    EXPECT_EQ(gateway.configurations.size(), 3);
    EXPECT_EQ(model->platformLink().lastPlatformConfigurationSyncAt(), 25'000ms);
}

TEST_F(PlatformConnectionTest, ConcurrentSynchronisationsShareOneFetchAndAFailureKeepsTheConfiguration)
{
    auto skills = OverlayViewModel::allSkillsOn();
    skills[QStringLiteral("people_on_screen")] = false;
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
    gateway.configurations.last()->answer(VisionGatewayError::invalidResponse());
    clock.settle();
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
    config.agentID = QStringLiteral("dsa-agent-2");
    config.greetRU = QStringLiteral("  \n ");
    config.skills = {{QStringLiteral("screen_capture"), false}, {QStringLiteral("web_research"), true}};
    gateway.configurations.last()->answer(config);
    clock.settle();
    EXPECT_TRUE(*again && (*again)->ok());
    EXPECT_EQ(model->connectedAgentID(), u"dsa-agent-2");
    EXPECT_EQ(model->desktopSkills(), config.skills);
    EXPECT_EQ(stored(keys::desktopConnectedAgentID), u"dsa-agent-2");
    // Blank or missing greetings fall back to the defaults.
    EXPECT_EQ(stored(keys::desktopGreetingRU), u"Чем могу помочь?");
    EXPECT_EQ(stored(keys::desktopGreetingEN), u"How can I help?");
}

TEST_F(PlatformConnectionTest, SupersededTurnLeavesTheSharedFetchToTheNewOne)
{
    const auto model = makeConnected();
    clock.advance(30s);
    ask(*model, QStringLiteral("Tell me a story"));
    ask(*model, QStringLiteral("Tell me a joke"));
    // Both turns wait on the same fetch; only the newer one goes on to the chat.
    ASSERT_EQ(gateway.configurations.size(), 2);
    gateway.configurations.last()->answer(configuration());
    clock.settle();
    ASSERT_EQ(gateway.chats.size(), 1);
    EXPECT_EQ(gateway.chats.first()->messages.last().content, u"Tell me a joke");
}

TEST_F(PlatformConnectionTest, SavingSettingsMakesTheNextTurnUseTheNewKey)
{
    const auto model = makeConnected();
    clock.advance(30s);
    ask(*model, QStringLiteral("Tell me a story")); // waits on a fetch with the old key
    ASSERT_EQ(gateway.configurations.size(), 2);
    const auto oldFetch = gateway.configurations.last();

    model->setGatewayBaseURL(QStringLiteral("  https://platform.example/  "));
    model->setPlatformAPIKey(QStringLiteral(" zelm-new\n"));
    model->setFailure(ZelmFailure{QStringLiteral("old failure")});
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
    gateway.configurations.last()->answer(configuration());
    clock.settle();
    ASSERT_EQ(gateway.chats.size(), 1);
    EXPECT_EQ(gateway.chats.first()->apiKey, u"zelm-new");
    EXPECT_FALSE(model->failure());

    // Saving an empty key deletes the stored one, without a failure.
    model->setPlatformAPIKey(QStringLiteral("   "));
    model->savePlatformSettings();
    EXPECT_TRUE(tokens.key.isEmpty());
    EXPECT_FALSE(model->failure());

    // A key store that refuses: the failure shows, the address stays saved.
    tokens.failWrites = true;
    model->closeChat();
    model->setGatewayBaseURL(QStringLiteral("https://other.example"));
    model->setPlatformAPIKey(QStringLiteral("zelm-x"));
    model->savePlatformSettings();
    EXPECT_EQ(stored(keys::desktopPlatformBaseURL), u"https://other.example");
    ASSERT_TRUE(model->failure());
    EXPECT_EQ(model->state(), State::failed);
}

TEST_F(PlatformConnectionTest, PairingLinkExchangesTheCodeAndConnects)
{
    const auto model = make();
    EXPECT_TRUE(model->applyPlatformConnection(pairingLink(QStringLiteral("http://127.0.0.1:4100/"))));
    EXPECT_TRUE(model->platformLink().isPairing());
    ASSERT_EQ(gateway.pairings.size(), 1);
    EXPECT_EQ(gateway.pairings.first()->baseURL, u"http://127.0.0.1:4100");
    EXPECT_EQ(gateway.pairings.first()->code, code);
    EXPECT_FALSE(model->isPlatformConnected());

    // An answer whose address differs only by slashes is the same platform.
    gateway.pairings.first()->answer(exchanged(QStringLiteral("http://127.0.0.1:4100//")));
    clock.settle();
    EXPECT_FALSE(model->platformLink().isPairing());
    EXPECT_TRUE(model->isPlatformConnected());
    EXPECT_EQ(tokens.key, u"zelm-paired");
    EXPECT_EQ(stored(keys::desktopPlatformBaseURL), u"http://127.0.0.1:4100");
    EXPECT_EQ(stored(keys::desktopConnectedAgentID), u"dsa-paired");
    EXPECT_EQ(model->state(), State::idle);
    // The configuration is fetched at once, with the new key.
    ASSERT_EQ(gateway.configurations.size(), 1);
    EXPECT_EQ(gateway.configurations.first()->apiKey, u"zelm-paired");
}

TEST_F(PlatformConnectionTest, ExchangeAnswersForAnythingElseAreRefused)
{
    const DesktopPairingConfiguration refused[] = {
        exchanged(QStringLiteral("http://127.0.0.1:4101")),
        exchanged(QStringLiteral("http://127.0.0.1:4100"), QStringLiteral("zelm-a\r\nX: 1")),
        exchanged(QStringLiteral("http://127.0.0.1:4100"), QStringLiteral("zelm-a"), QStringLiteral("agent-1")),
    };
    const auto model = make();
    for (const auto &answer : refused) {
        model->closeChat();
        ASSERT_TRUE(model->applyPlatformConnection(pairingLink(QStringLiteral("http://127.0.0.1:4100"))));
        gateway.pairings.last()->answer(answer);
        clock.settle();
        ASSERT_TRUE(model->failure()) << answer.platformURL.toStdString();
        EXPECT_TRUE(model->isExpanded()); // shown in the chat
        EXPECT_FALSE(model->isPlatformConnected());
        EXPECT_EQ(tokens.writes, 0);
    }

    // Failures of the exchange itself are shown with their description.
    ASSERT_TRUE(model->applyPlatformConnection(pairingLink(QStringLiteral("http://127.0.0.1:4100"))));
    EXPECT_FALSE(model->failure());
    gateway.pairings.last()->answer(VisionGatewayError::server(404, QStringLiteral("The code was used already.")));
    clock.settle();
    ASSERT_TRUE(model->failure());
    EXPECT_EQ(texts(*model), QStringList{welcome});
}

TEST_F(PlatformConnectionTest, SecondLinkSupersedesARunningPairing)
{
    const auto model = make();
    ASSERT_TRUE(model->applyPlatformConnection(pairingLink(QStringLiteral("http://127.0.0.1:4100"))));
    const auto first = gateway.pairings.last();
    const QString secondCode = QString(30, u'Z');
    ASSERT_TRUE(model->applyPlatformConnection(pairingLink(QStringLiteral("http://localhost:4200"), secondCode)));
    EXPECT_TRUE(first->isStopped());
    // A late answer to the first exchange is dropped.
    first->answer(exchanged(QStringLiteral("http://127.0.0.1:4100")));
    clock.settle();
    EXPECT_FALSE(model->isPlatformConnected());
    EXPECT_FALSE(model->failure());
    EXPECT_TRUE(model->platformLink().isPairing());

    gateway.pairings.last()->answer(exchanged(QStringLiteral("http://localhost:4200"), QStringLiteral("zelm-second")));
    clock.settle();
    EXPECT_EQ(model->gatewayBaseURL(), u"http://localhost:4200");
    EXPECT_EQ(tokens.key, u"zelm-second");
    EXPECT_EQ(tokens.writes, 1);
}

TEST_F(PlatformConnectionTest, DirectLinkConnectsAtOnceUnlessTheKeyCannotBeStored)
{
    const auto model = make();
    EXPECT_TRUE(model->applyPlatformConnection(directLink(QStringLiteral("https://p.example/"))));
    EXPECT_TRUE(gateway.pairings.isEmpty());
    EXPECT_EQ(model->gatewayBaseURL(), u"https://p.example");
    EXPECT_EQ(model->platformAPIKey(), u"zelm-direct");
    EXPECT_EQ(gateway.configurations.size(), 1);

    // A key store that refuses: false, the failure in the chat, the connection untouched.
    tokens.failWrites = true;
    EXPECT_FALSE(model->applyPlatformConnection(directLink(QStringLiteral("https://p.example"), "&agent_name=Other")));
    ASSERT_TRUE(model->failure());
    EXPECT_EQ(stored(keys::desktopConnectedAgentName), u"Nimbel");
    EXPECT_EQ(gateway.configurations.size(), 1);
}

TEST_F(PlatformConnectionTest, RefusedLinksChangeNothing)
{
    const auto model = make();
    const QList<QUrl> links = {
        QUrl("zelmdesktop://connect?platform_url=http://p.example&code=" + code),
        QUrl("zelmdesktop://connect?platform_url=https://p.example&token=key&agent_id=dsa-1"),
    };
    QSignalSpy messages(model.get(), &OverlayViewModel::messagesChanged);
    for (const QUrl &link : links)
        EXPECT_FALSE(model->applyPlatformConnection(link)) << link.toString().toStdString();
    clock.settle();
    EXPECT_TRUE(gateway.configurations.isEmpty()); // without a key nothing is synchronised, at start-up or since
    EXPECT_EQ(messages.count(), 0);
    EXPECT_TRUE(gateway.pairings.isEmpty());
    EXPECT_EQ(tokens.writes, 0);
    EXPECT_EQ(model->state(), State::idle);
    EXPECT_FALSE(model->failure());
}

TEST_F(PlatformConnectionTest, ALinkToAnotherPlatformWaitsForTheOwner)
{
    const auto model = makeConnected(QStringLiteral("https://platform.example"));
    const qsizetype fetches = gateway.configurations.size();

    // A pairing link for another platform: asked, not acted on.
    EXPECT_TRUE(model->applyPlatformConnection(pairingLink(QStringLiteral("https://evil.example:8443"))));
    EXPECT_TRUE(gateway.pairings.isEmpty());
    EXPECT_EQ(model->state(), State::idle);
    EXPECT_EQ(model->gatewayBaseURL(), u"https://platform.example");
    const ChatMessage asking = model->messages().last();
    EXPECT_TRUE(asking.text.contains(u"evil.example:8443"));
    ASSERT_TRUE(asking.pendingConnection);
    EXPECT_EQ(asking.pendingConnection->platformHost, u"evil.example:8443");

    // Cancel: nothing changes but the question's actions go away.
    const QString id = asking.id.toString(QUuid::WithoutBraces);
    EXPECT_FALSE(model->cancelPlatformConnection(QStringLiteral("not an id")));
    EXPECT_TRUE(model->cancelPlatformConnection(id));
    EXPECT_FALSE(model->findMessage(asking.id)->pendingConnection);
    EXPECT_FALSE(model->confirmPlatformConnection(id)); // answered already
    EXPECT_TRUE(gateway.pairings.isEmpty());
    EXPECT_EQ(tokens.key, u"zelm-key");

    // A newer link replaces a question still open.
    ASSERT_TRUE(model->applyPlatformConnection(directLink(QStringLiteral("https://one.example"))));
    const QUuid older = model->messages().last().id;
    ASSERT_TRUE(model->applyPlatformConnection(directLink(QStringLiteral("https://two.example"), "&agent_name=Vega")));
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

    // Confirming a held pairing link starts the exchange.
    ASSERT_TRUE(model->applyPlatformConnection(pairingLink(QStringLiteral("https://three.example"))));
    EXPECT_TRUE(gateway.pairings.isEmpty());
    EXPECT_TRUE(model->confirmPlatformConnection(model->messages().last().id.toString()));
    ASSERT_EQ(gateway.pairings.size(), 1);
    EXPECT_EQ(gateway.pairings.first()->baseURL, u"https://three.example");
    EXPECT_EQ(model->state(), State::analyzing);
}

TEST_F(PlatformConnectionTest, LinksForThePlatformInUseOrAFirstConnectionProceedAtOnce)
{
    const auto model = makeConnected(QStringLiteral("https://platform.example"));
    // Same origin (default port, case, path, slashes): no question.
    EXPECT_TRUE(model->applyPlatformConnection(pairingLink(QStringLiteral("https://PLATFORM.example:443/team/"))));
    ASSERT_EQ(gateway.pairings.size(), 1);
    EXPECT_EQ(gateway.pairings.first()->baseURL, u"https://PLATFORM.example:443/team");
    EXPECT_FALSE(model->messages().last().pendingConnection);

    // Not connected (no key): any acceptable platform proceeds at once.
    tokens.key.clear();
    const auto fresh = make();
    EXPECT_TRUE(fresh->applyPlatformConnection(directLink(QStringLiteral("https://elsewhere.example"))));
    EXPECT_EQ(fresh->gatewayBaseURL(), u"https://elsewhere.example");
}

TEST_F(PlatformConnectionTest, ConnectionPageFollowsTheAddress)
{
    const auto model = make();
    const QString fallback = defaultPlatformURL() + "/desktop-agent";
    const std::pair<QString, QString> cases[] = {{" https://platform.example/some/path?x=1 ", "https://platform.example/desktop-agent"},
                                                 {"http://127.0.0.1:4100", "http://127.0.0.1:4100/desktop-agent"},
                                                 {"not an address", fallback},
                                                 {"file:///etc/passwd", fallback}};
    for (const auto &[address, page] : cases) {
        model->setGatewayBaseURL(address);
        model->openPlatformConnectionPage();
        ASSERT_EQ(links.opened.size(), 1) << address.toStdString();
        EXPECT_EQ(links.opened.takeFirst(), QUrl(page)) << address.toStdString();
    }
}

TEST_F(PlatformConnectionTest, DestroyingTheViewModelEndsItsTasksQuietly)
{
    auto model = makeConnected();
    clock.advance(30s);
    ask(*model, QStringLiteral("Tell me a story")); // waits on a fetch
    ASSERT_TRUE(model->applyPlatformConnection(pairingLink(QStringLiteral("https://platform.example"))));
    const auto fetch = gateway.configurations.last();
    const auto pairing = gateway.pairings.last();
    model.reset();
    EXPECT_TRUE(fetch->isStopped());
    EXPECT_TRUE(pairing->isStopped());
    fetch->answer(configuration());
    pairing->answer(exchanged(QStringLiteral("https://platform.example")));
    clock.advance(1min);
    EXPECT_TRUE(gateway.chats.isEmpty());
    EXPECT_EQ(tokens.writes, 0);
}
