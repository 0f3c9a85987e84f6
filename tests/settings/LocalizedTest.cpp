#include "settings/Localized.h"

#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QTranslator>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

using namespace nimbel;
using namespace Qt::StringLiterals;

namespace {

struct TsMessage { QString source; QString translation; QString type; };

// The messages of a translation source by id; `error` collects what is wrong with the file.
QMap<QString, TsMessage> readTranslationSource(const QString &path, QString *error)
{
    QMap<QString, TsMessage> messages;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        *error = file.errorString();
    QXmlStreamReader xml(&file);
    QString id;
    TsMessage current;
    while (file.isOpen() && !xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == u"message") {
            id = xml.attributes().value(QLatin1String("id")).toString();
            current = {};
        } else if (xml.isStartElement() && xml.name() == u"source") {
            current.source = xml.readElementText();
        } else if (xml.isStartElement() && xml.name() == u"translation") {
            current.type = xml.attributes().value(QLatin1String("type")).toString();
            current.translation = xml.readElementText();
        } else if (xml.isEndElement() && xml.name() == u"message") {
            if (messages.contains(id))
                *error += u"duplicate id %1; "_s.arg(id);
            messages.insert(id, current);
        }
    }
    *error += xml.errorString();
    return messages;
}

QStringList placeholders(const QString &text)
{
    static const QRegularExpression marker(u"%\\d"_s);
    QStringList found;
    for (const auto &match : marker.globalMatch(text))
        found.append(match.captured());
    found.sort();
    return found;
}

struct KeyUse { QString key, file; int line = 0; };

// Catalogue keys in the C++, QML and JavaScript files under `root`: arguments of
// L::text / qtTrId / qsTrId / L.text calls, and any string literal shaped like a
// key of a catalogue area ("status.online"), so that keys kept in tables are found too.
QList<KeyUse> scanTree(const QString &root)
{
    static const QRegularExpression use(
        uR"re((?:\bL::text|\bqtTrId|\bqsTrId|\bL\.text)\s*\(\s*"([^"\\\n]+)"|"((?:state|status|chat|orb|error|skill|speech|context|transcript|permission|settings|menu|firstRun)(?:\.[A-Za-z]+)+)")re"_s);
    QList<KeyUse> uses;
    QDirIterator it(root, {u"*.h"_s, u"*.cpp"_s, u"*.qml"_s, u"*.js"_s, u"*.mjs"_s}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QString text = QString::fromUtf8(file.readAll());
        for (const auto &match : use.globalMatch(text)) {
            const int key = match.hasCaptured(1) ? 1 : 2;
            const qsizetype at = match.capturedStart(key);
            uses.append({match.captured(key), path, int(QStringView(text).left(at).count(u'\n')) + 1});
        }
    }
    return uses;
}

class Catalogue : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(installTranslations(AppLanguage::en)); }
    void TearDown() override { installTranslations(AppLanguage::en); }
};

TEST_F(Catalogue, ValuesGoInAsTheyAreAndTheInstalledLanguageIsTheOneShown)
{
    // Values that look like placeholders are not expanded again.
    const QString shown = L::contextScreenApplicationWindow(u"50%2 app"_s, u"%1 title"_s);
    EXPECT_TRUE(shown.contains(u"50%2 app"_s) && shown.contains(u"%1 title"_s))
        << shown.toStdString();
    EXPECT_EQ(L::firstRunStep(2, 5), u"Step 2 of 5"_s);
    EXPECT_EQ(L::text("state.ready"), L::englishDefault("state.ready"));

    ASSERT_TRUE(installTranslations(AppLanguage::ru));
    EXPECT_EQ(L::firstRunStep(2, 5), QString::fromUtf8("Шаг 2 из 5"));
    EXPECT_NE(L::text("state.ready"), L::englishDefault("state.ready"));
    // Installing again replaces the translator rather than stacking a second one.
    ASSERT_TRUE(installTranslations(AppLanguage::ru));
    ASSERT_TRUE(installTranslations(AppLanguage::en));
    EXPECT_EQ(L::text("state.ready"), L::englishDefault("state.ready"));
    EXPECT_FALSE(L::contains("state.nonexistent"));
}

// The English translation rewords the defaults for this desktop: the defaults
// keep the wording of another system's places, and what is shown, in either
// language, never names them.
TEST_F(Catalogue, TranslationSourcesCoverEveryKeyWithTheEnglishTextAsSourceAndShownTextsNameNoOtherSystemsPlaces)
{
    QTranslator russian;
    ASSERT_TRUE(russian.load(translationResource(AppLanguage::ru)));
    QString error;
    const QMap<QString, TsMessage> messages = readTranslationSource(QStringLiteral(NIMBEL_TRANSLATION_SOURCE), &error);
    const QMap<QString, TsMessage> english = readTranslationSource(QStringLiteral(NIMBEL_ENGLISH_TRANSLATION_SOURCE), &error);
    ASSERT_TRUE(error.isEmpty()) << error.toStdString();
    EXPECT_EQ(QStringList(messages.keys()), L::keys()) << "ids of nimbel_ru.ts and the catalogue differ";
    ASSERT_FALSE(english.isEmpty());
    for (auto it = english.cbegin(); it != english.cend(); ++it)
        EXPECT_EQ(it->source, L::englishDefault(it.key().toLatin1().constData())) << it.key().toStdString();
    static const QRegularExpression latinWord(u"\\b(?!Nimbel|Zelm|Platform|Tolvo|Agent|API|English|Connect|local|beta)[A-Za-z]{3,}\\b"_s);
    for (const QString &key : L::keys()) {
        const TsMessage message = messages.value(key);
        const QByteArray id = key.toLatin1();
        EXPECT_EQ(message.source, L::englishDefault(id.constData())) << id.constData();
        EXPECT_EQ(russian.translate(nullptr, id.constData()), message.translation) << id.constData();
        EXPECT_FALSE(message.translation.trimmed().isEmpty()) << id.constData();
        EXPECT_TRUE(message.type.isEmpty()) << id.constData() << " is " << message.type.toStdString();
        EXPECT_EQ(placeholders(message.translation), placeholders(message.source)) << id.constData();
        // Russian throughout, apart from names and the placeholder tags.
        EXPECT_FALSE(latinWord.match(message.translation).hasMatch())
            << id.constData() << ": " << message.translation.toStdString();
    }

    static const QRegularExpression foreign(
        u"macOS|\\bMac\\b|System Settings|Keychain|DMG|menu bar|Privacy & Security|every space"_s);
    for (const AppLanguage language : {AppLanguage::en, AppLanguage::ru}) {
        ASSERT_TRUE(installTranslations(language));
        for (const QString &key : L::keys()) {
            const QString shown = L::text(key.toLatin1().constData());
            EXPECT_FALSE(foreign.match(shown).hasMatch()) << key.toStdString() << ": " << shown.toStdString();
        }
    }
}

TEST(CatalogueScan, EveryKeyUsedInTheSourcesHasAnEnglishDefaultAndARussianTranslation)
{
    QTranslator russian;
    ASSERT_TRUE(russian.load(translationResource(AppLanguage::ru)));
    const QList<KeyUse> uses = scanTree(QStringLiteral(NIMBEL_SOURCE_DIR));
    QSet<QString> found;
    for (const KeyUse &use : uses) {
        found.insert(use.key);
        const QByteArray id = use.key.toLatin1();
        const QString where = u"%1:%2 uses \"%3\""_s.arg(use.file).arg(use.line).arg(use.key);
        EXPECT_TRUE(L::contains(id.constData())) << where.toStdString() << ": no English default";
        EXPECT_FALSE(russian.translate(nullptr, id.constData()).isEmpty()) << where.toStdString() << ": no Russian text";
    }
    // The scan really reads the tree, calls and key-shaped literals alike.
    for (const char *own : {"error.keychain.save", "chat.agentConnected", "transcript.warning", "firstRun.step"})
        EXPECT_TRUE(found.contains(QString::fromLatin1(own))) << own;
}

} // namespace
