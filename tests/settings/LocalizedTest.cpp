#include "settings/CatalogueScan.h"
#include "settings/Localized.h"
#include "support/LogCapture.h"

#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QTranslator>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

using namespace nimbel;

namespace {

// Every key the rest of the application relies on.
const char *const expectedKeys[] = {
    "error.restart.failed", "error.settings.microphoneUnavailable", "error.settings.screenUnavailable",
    "orb.voiceUnavailable", "settings.noUpdateChecker", "tray.tooltip",
    "state.analyzing", "state.answered", "state.captured", "state.capturing", "state.failed", "state.ready",
    "status.agentSpeaking", "status.answering", "status.checkPermissions", "status.listening",
    "status.listeningToYou", "status.listeningWillSend", "status.micOff", "status.online", "status.requestingMic",
    "status.stopped", "status.thinking", "status.transcribing", "status.voiceConnected", "status.voiceOff",
    "status.voiceReady", "status.voiceUnavailable",
    "chat.agentConnected", "chat.back", "chat.close", "chat.history", "chat.new", "chat.placeholder",
    "chat.screenshot", "chat.send", "chat.welcome",
    "chat.switchPlatform.agent", "chat.switchPlatform.cancel", "chat.switchPlatform.connect",
    "chat.switchPlatform.kept", "chat.switchPlatform.pairing", "error.screenQuestion.unavailable",
    "orb.collapse", "orb.connectVoice", "orb.connected", "orb.end", "orb.interrupt", "orb.micOff", "orb.mute",
    "orb.notConnected", "orb.open", "orb.opened", "orb.unmute", "orb.voiceCall", "orb.voiceOff", "orb.voiceOn",
    "orb.write",
    "error.action.restart", "error.action.screenSettings", "error.action.voiceSettings", "error.gateway.pageContext",
    "error.keychain.save", "error.localstt.denied", "error.localstt.empty", "error.localstt.unavailable",
    "error.mic.denied", "error.mic.engine", "error.mic.recording", "error.screen.denied", "error.screen.empty",
    "error.screen.noTarget", "error.screen.restart", "error.title.general", "error.title.permission",
    "error.voice.audio", "error.voice.playback",
    "skill.screenUnderstandingOff", "skill.screenshotOff", "skill.voiceOff",
    "speech.notHeard", "speech.platformUnavailable", "speech.serviceUnavailable",
    "context.screen.app", "context.screen.appWindow", "context.screen.window", "context.tag.analyst",
    "context.tag.screen", "transcript.warning", "error.loginItem",
    "update.available", "update.checking", "update.error.badSignature", "update.error.download",
    "update.error.insecureFeed", "update.error.malformed", "update.error.network", "update.error.noFeed",
    "update.error.noKey", "update.error.noRelease", "update.error.tooLarge", "update.error.unsigned",
    "update.notNewer", "update.upToDate", "firstRun.restartFailed", "firstRun.settings.noScreenSwitch",
    "firstRun.settings.noTool", "error.gateway.connectionFailed", "error.gateway.generic",
    "error.gateway.imageEncoding", "error.gateway.invalidBaseURL", "error.gateway.invalidResponse",
    "error.gateway.notConnected",
    "permission.allowed", "permission.denied", "permission.needed", "permission.notRequested",
    "permission.restricted", "permission.screenRecording", "permission.unknown",
    "settings.agentNotConnected", "settings.autoUpdate", "settings.autoUpdate.hint", "settings.change",
    "settings.check", "settings.chooseAgent", "settings.connect", "settings.labels", "settings.labels.hint",
    "settings.language.en", "settings.language.restartHint", "settings.language.ru", "settings.language.system",
    "settings.launchAtLogin", "settings.launchAtLogin.hint", "settings.microphone", "settings.noRedownload",
    "settings.platformAddress", "settings.platformConnected", "settings.privacy", "settings.privacy.hint",
    "settings.recheckPermissions", "settings.save", "settings.section.connection", "settings.section.language",
    "settings.section.privacy", "settings.section.screen", "settings.section.updates", "settings.section.voice",
    "settings.showFirstRun", "settings.speakAnswers", "settings.speakAnswers.hint", "settings.title",
    "settings.transcription", "settings.updateUnavailable", "settings.version",
    "menu.open", "menu.quit", "menu.screenshot", "menu.updates",
    "firstRun.accessibility.body", "firstRun.accessibility.skipped", "firstRun.accessibility.title",
    "firstRun.allow", "firstRun.connect.body", "firstRun.connect.done", "firstRun.connect.openConsole",
    "firstRun.connect.title", "firstRun.connect.waiting", "firstRun.continue", "firstRun.done", "firstRun.granted",
    "firstRun.microphone.body", "firstRun.microphone.refused", "firstRun.microphone.title", "firstRun.openSettings",
    "firstRun.restart", "firstRun.screen.body", "firstRun.screen.monthly", "firstRun.screen.never",
    "firstRun.screen.refused", "firstRun.screen.restart", "firstRun.screen.title", "firstRun.screen.whatItSees",
    "firstRun.skip", "firstRun.step", "firstRun.welcome.body", "firstRun.welcome.title",
};

struct TsMessage
{
    QString source;
    QString translation;
    QString type;
};

QMap<QString, TsMessage> readTranslationSource(const QString &path, QString *error)
{
    QMap<QString, TsMessage> messages;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return messages;
    }
    QXmlStreamReader xml(&file);
    QString id;
    TsMessage current;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            if (xml.name() == u"message") {
                id = xml.attributes().value(QLatin1String("id")).toString();
                current = {};
            } else if (xml.name() == u"source") {
                current.source = xml.readElementText();
            } else if (xml.name() == u"translation") {
                current.type = xml.attributes().value(QLatin1String("type")).toString();
                current.translation = xml.readElementText();
            }
        } else if (xml.isEndElement() && xml.name() == u"message") {
            if (messages.contains(id))
                *error += QStringLiteral("duplicate id %1; ").arg(id);
            messages.insert(id, current);
        }
    }
    if (xml.hasError())
        *error += xml.errorString();
    return messages;
}

QList<QString> placeholders(const QString &text)
{
    static const QRegularExpression marker(QStringLiteral("%\\d"));
    QList<QString> found;
    auto it = marker.globalMatch(text);
    while (it.hasNext())
        found.append(it.next().captured());
    std::sort(found.begin(), found.end());
    return found;
}

class Catalogue : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(installTranslations(AppLanguage::en)); }
    void TearDown() override { installTranslations(AppLanguage::en); }
};

TEST_F(Catalogue, HoldsExactlyTheKeysTheApplicationUses)
{
    QStringList expected;
    for (const char *key : expectedKeys)
        expected.append(QString::fromLatin1(key));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(L::keys(), expected);
    for (const char *key : expectedKeys) {
        EXPECT_TRUE(L::contains(key)) << key;
        EXPECT_FALSE(L::englishDefault(key).isEmpty()) << key;
    }
}

TEST_F(Catalogue, MessagesWithValuesPutTheValuesInPlace)
{
    EXPECT_EQ(L::chatAgentConnected(QStringLiteral("Ada")),
              QString::fromUtf8("Tolvo Agent “Ada” is connected. You can talk to me now, or open Chat."));
    EXPECT_EQ(L::errorLocalSpeechUnavailable(QStringLiteral("ru-RU")),
              QStringLiteral("On-device recognition is unavailable for ru-RU."));
    EXPECT_EQ(L::contextScreenWindow(QStringLiteral("Invoice")), QString::fromUtf8("The screen showed the window “Invoice”."));
    EXPECT_EQ(L::contextScreenApplication(QStringLiteral("Files")), QStringLiteral("The screen showed the application Files."));
    EXPECT_EQ(L::contextScreenApplicationWindow(QStringLiteral("Files"), QStringLiteral("Home")),
              QString::fromUtf8("The screen showed the application Files, window “Home”."));
    EXPECT_EQ(L::firstRunStep(2, 5), QStringLiteral("Step 2 of 5"));
    EXPECT_EQ(L::firstRunConnected(QStringLiteral("Ada")), QString::fromUtf8("Connected to “Ada”"));
    EXPECT_EQ(L::firstRunConnectBody(QStringLiteral("https://platform.zelm.example")),
              QString::fromUtf8("Open your console on https://platform.zelm.example and press “Connect”. The code comes "
                                "back to this app by itself — you never copy a key by hand."));
    EXPECT_EQ(L::settingsUpdateUnavailable(QStringLiteral("feed missing")), QStringLiteral("Updates unavailable: feed missing"));
    EXPECT_EQ(L::settingsVersion(QStringLiteral("0.1.0 (10)")), QStringLiteral("Version 0.1.0 (10)"));
    EXPECT_EQ(L::orbVoiceCall(QStringLiteral("Ada")), QStringLiteral("Voice call with Ada"));
    EXPECT_EQ(L::statusAgentSpeaking(QStringLiteral("Ada")),
              QString::fromUtf8("Ada is answering — you can interrupt by speaking"));
    EXPECT_EQ(L::transcriptWarning(QStringLiteral("check the total")), QStringLiteral("Warning: check the total"));

    // Values are inserted as they are, even when they look like placeholders.
    EXPECT_EQ(L::contextScreenApplicationWindow(QStringLiteral("50%2 app"), QStringLiteral("%1 title")),
              QString::fromUtf8("The screen showed the application 50%2 app, window “%1 title”."));
    EXPECT_EQ(L::chatAgentConnected(QStringLiteral("%1")),
              QString::fromUtf8("Tolvo Agent “%1” is connected. You can talk to me now, or open Chat."));
}

TEST_F(Catalogue, RussianIsUsedOnceInstalledAndEnglishReturnsAfterwards)
{
    ASSERT_TRUE(installTranslations(AppLanguage::ru));
    EXPECT_EQ(L::text("state.ready"), QString::fromUtf8("Готово"));
    EXPECT_EQ(L::text("chat.send"), QString::fromUtf8("Отправить"));
    EXPECT_EQ(L::firstRunStep(2, 5), QString::fromUtf8("Шаг 2 из 5"));
    EXPECT_EQ(L::chatAgentConnected(QStringLiteral("Ada")),
              QString::fromUtf8("Tolvo Agent «Ada» подключён. Теперь со мной можно поговорить или открыть чат."));
    EXPECT_EQ(L::contextScreenApplicationWindow(QStringLiteral("Files"), QStringLiteral("Home")),
              QString::fromUtf8("На экране было приложение Files, окно «Home»."));
    // Installing again replaces the translator rather than stacking a second one.
    ASSERT_TRUE(installTranslations(AppLanguage::ru));
    ASSERT_TRUE(installTranslations(AppLanguage::en));
    EXPECT_EQ(L::text("state.ready"), QStringLiteral("Ready"));
    EXPECT_EQ(L::firstRunStep(2, 5), QStringLiteral("Step 2 of 5"));
}

TEST_F(Catalogue, UnknownKeyComesBackAsItselfAndIsLogged)
{
    test::LogCapture capture;
    EXPECT_EQ(L::text("state.nonexistent"), QStringLiteral("state.nonexistent"));
    EXPECT_FALSE(L::contains("state.nonexistent"));
    EXPECT_EQ(L::englishDefault("state.nonexistent"), QString());
    EXPECT_TRUE(capture.texts(QStringLiteral(".General")).contains(QStringLiteral("catalogue_missing_key=state.nonexistent")))
        << capture.all().toStdString();
}

TEST_F(Catalogue, TranslationSourceCoversEveryKeyWithTheEnglishTextAsSource)
{
    QString error;
    const QMap<QString, TsMessage> messages = readTranslationSource(QStringLiteral(NIMBEL_TRANSLATION_SOURCE), &error);
    ASSERT_TRUE(error.isEmpty()) << error.toStdString();
    EXPECT_EQ(QStringList(messages.keys()), L::keys()) << "ids of nimbel_ru.ts and the catalogue differ";
    static const QRegularExpression latinWord(QStringLiteral("\\b(?!Nimbel|Zelm|Platform|Tolvo|Agent|API|English|Connect|local|beta)[A-Za-z]{3,}\\b"));
    for (const QString &key : L::keys()) {
        const TsMessage message = messages.value(key);
        const QByteArray id = key.toLatin1();
        EXPECT_EQ(message.source, L::englishDefault(id.constData())) << id.constData();
        EXPECT_FALSE(message.translation.trimmed().isEmpty()) << id.constData();
        EXPECT_TRUE(message.type.isEmpty()) << id.constData() << " is " << message.type.toStdString();
        EXPECT_EQ(placeholders(message.translation), placeholders(message.source)) << id.constData();
        // Russian throughout, apart from names and the placeholder tags.
        EXPECT_FALSE(latinWord.match(message.translation).hasMatch())
            << id.constData() << ": " << message.translation.toStdString();
    }
}

TEST_F(Catalogue, CompiledRussianTranslationHoldsEveryKey)
{
    QTranslator russian;
    ASSERT_TRUE(russian.load(translationResource(AppLanguage::ru)));
    QString error;
    const QMap<QString, TsMessage> messages = readTranslationSource(QStringLiteral(NIMBEL_TRANSLATION_SOURCE), &error);
    for (const QString &key : L::keys()) {
        const QByteArray id = key.toLatin1();
        EXPECT_EQ(russian.translate(nullptr, id.constData()), messages.value(key).translation) << id.constData();
    }
}

// The defaults keep the wording of another system's places; what is shown on
// this desktop, in either language, never names them.
TEST_F(Catalogue, ShownTextsNameNoOtherSystemsPlaces)
{
    static const QRegularExpression foreign(
        QStringLiteral("macOS|\\bMac\\b|System Settings|Keychain|DMG|menu bar|Privacy & Security|every space"));
    QString error;
    const QMap<QString, TsMessage> english = readTranslationSource(QStringLiteral(NIMBEL_ENGLISH_TRANSLATION_SOURCE), &error);
    ASSERT_TRUE(error.isEmpty()) << error.toStdString();
    ASSERT_FALSE(english.isEmpty());
    for (auto it = english.cbegin(); it != english.cend(); ++it) {
        const QByteArray id = it.key().toLatin1();
        EXPECT_EQ(it->source, L::englishDefault(id.constData())) << id.constData();
    }
    for (const AppLanguage language : {AppLanguage::en, AppLanguage::ru}) {
        ASSERT_TRUE(installTranslations(language));
        for (const QString &key : L::keys()) {
            const QString shown = L::text(key.toLatin1().constData());
            EXPECT_FALSE(foreign.match(shown).hasMatch()) << key.toStdString() << ": " << shown.toStdString();
        }
    }
}

TEST(CatalogueScan, FindsKeysInCallsAndInKeyShapedLiterals)
{
    const QString source = QStringLiteral(
        "auto a = L::text(\"state.ready\");\n"
        "auto b = nimbel::L::text( \"chat.send\" );\n"
        "Text { text: L.text(\"orb.open\") }\n"
        "qsTrId(\"menu.quit\"); qtTrId(\"custom.thing\");\n"
        "static const char *labels[] = {\"status.online\", \"status.onlinee\"};\n"
        "#include \"settings/Localized.h\"\n"
        "QString x = QStringLiteral(\"state\"); auto y = \"app.nimbel.desktop\";\n");
    QStringList keys;
    QList<int> lines;
    for (const test::KeyUse &use : test::scanText(source, QStringLiteral("sample.cpp"))) {
        keys.append(use.key);
        lines.append(use.line);
    }
    EXPECT_EQ(keys, (QStringList{"state.ready", "chat.send", "orb.open", "menu.quit", "custom.thing", "status.online",
                                 "status.onlinee"}));
    EXPECT_EQ(lines, (QList<int>{1, 2, 3, 4, 4, 5, 5}));
}

TEST(CatalogueScan, EveryKeyUsedInTheSourcesHasAnEnglishDefaultAndARussianTranslation)
{
    QTranslator russian;
    ASSERT_TRUE(russian.load(translationResource(AppLanguage::ru)));
    const QList<test::KeyUse> uses = test::scanTree(QStringLiteral(NIMBEL_SOURCE_DIR));
    QSet<QString> found;
    for (const test::KeyUse &use : uses) {
        found.insert(use.key);
        const QByteArray id = use.key.toLatin1();
        const QString where = QStringLiteral("%1:%2 uses \"%3\"").arg(use.file).arg(use.line).arg(use.key);
        EXPECT_TRUE(L::contains(id.constData())) << where.toStdString() << ": no English default";
        EXPECT_FALSE(russian.translate(nullptr, id.constData()).isEmpty()) << where.toStdString() << ": no Russian text";
    }
    // The scan really reads the tree: our own uses must be among the finds.
    for (const char *own : {"error.keychain.save", "chat.agentConnected", "transcript.warning", "firstRun.step"})
        EXPECT_TRUE(found.contains(QString::fromLatin1(own))) << own;
}

} // namespace
