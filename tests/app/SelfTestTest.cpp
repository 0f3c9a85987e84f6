#include "app/SelfTest.h"

#include "SelfTestReport.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QHash>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextStream>

#include <gtest/gtest.h>

using namespace nimbel;

namespace {

QString english(const QString &key)
{
    static const QHash<QString, QString> texts{
        {QStringLiteral("firstRun.continue"), QStringLiteral("Continue")},
        {QStringLiteral("firstRun.allow"), QStringLiteral("Allow")},
        {QStringLiteral("firstRun.skip"), QStringLiteral("Skip for now")},
        {QStringLiteral("firstRun.openSettings"), QStringLiteral("Open System Settings")},
        {QStringLiteral("firstRun.restart"), QStringLiteral("Restart Zelm")},
        {QStringLiteral("firstRun.connect.openConsole"), QStringLiteral("Open the console")},
        {QStringLiteral("firstRun.done"), QStringLiteral("Start talking")},
    };
    return texts.value(key, QStringLiteral("<missing %1>").arg(key));
}

QString languageOf(QSettings &settings)
{
    return settings.value(QStringLiteral("ZelmAppLanguage")).toString() == u"ru" ? QStringLiteral("ru")
                                                                                  : QStringLiteral("en");
}

BundleInfo sampleBundle()
{
    BundleInfo bundle;
    bundle.identifier = QStringLiteral("app.nimbel.desktop");
    bundle.shortVersion = QStringLiteral("2.4.1");
    bundle.buildVersion = QStringLiteral("241");
    bundle.localizations = {QStringLiteral("ru"), QStringLiteral("en")};
    bundle.updateFeed = QStringLiteral("https://example.test/feed.xml");
    bundle.screenUsageDescription = QStringLiteral("One picture per question.");
    return bundle;
}

} // namespace

TEST(SelfTest, ReportMatchesLineByLineAndMarksThePrivateProfileCompleted)
{
    QTemporaryDir dir;
    QSettings privateSettings(dir.filePath(QStringLiteral("private.conf")), QSettings::IniFormat);
    const SelfTest selfTest(sampleBundle(), english, languageOf);

    const QStringList got = selfTest.report(privateSettings);
    const QStringList expected =
        test::expectedSelfTestReport(QStringLiteral("2.4.1"), QStringLiteral("241"),
                                     QStringLiteral("https://example.test/feed.xml"),
                                     QStringLiteral("One picture per question."),
                                     [](const char *key) { return english(QString::fromLatin1(key)); })
            .split(u'\n');
    // The expected text ends with a newline; the report lines do not.
    ASSERT_EQ(got.size(), expected.size() - 1);
    for (qsizetype i = 0; i < got.size(); ++i)
        EXPECT_EQ(got[i], expected[i]) << "line " << i + 1;
    EXPECT_EQ(privateSettings.value(QStringLiteral("desktopFirstRunCompletedVersion")).toInt(), 1);
}

TEST(SelfTest, MissingEntriesLanguageAndAnAlreadyCompletedProfile)
{
    QTemporaryDir dir;
    QSettings privateSettings(dir.filePath(QStringLiteral("private.conf")), QSettings::IniFormat);
    privateSettings.setValue(QStringLiteral("desktopFirstRunCompletedVersion"), 3);
    privateSettings.setValue(QStringLiteral("ZelmAppLanguage"), QStringLiteral("ru"));
    BundleInfo bundle;
    bundle.localizations = {QStringLiteral("ru"), QStringLiteral("de"), QStringLiteral("en")};
    const QStringList got = SelfTest(bundle, english, languageOf).report(privateSettings);

    EXPECT_EQ(got[0], QStringLiteral("  app                    ?"));
    EXPECT_EQ(got[1], QStringLiteral("  version                — (—)"));
    EXPECT_EQ(got[2], QStringLiteral("  localizations          de, en, ru"));
    EXPECT_EQ(got[3], QStringLiteral("  resolved language      ru"));
    EXPECT_EQ(got[4], QStringLiteral("  speech locale          ru-RU"));
    EXPECT_EQ(got[5], QStringLiteral("  update feed            —"));
    EXPECT_EQ(got[6], QStringLiteral("  screen text            —"));
    EXPECT_EQ(got[9], QStringLiteral("  already completed?     true"));
    // A label longer than the column is not cut.
    EXPECT_EQ(SelfTest::line(QStringLiteral("a label longer than twenty-two"), QStringLiteral("x")),
              QStringLiteral("  a label longer than twenty-two x"));
    EXPECT_EQ(SelfTest::line(QString(22, u'l'), QStringLiteral("x")), QStringLiteral("  ") + QString(22, u'l') + " x");
}

TEST(SelfTest, RunPrintsTheReportAndRemovesItsPrivateSettings)
{
    QTemporaryDir temp;
    test::ScopedEnvironment env;
    env.set("TMPDIR", temp.path().toUtf8());
    ASSERT_EQ(QDir::tempPath(), QDir(temp.path()).canonicalPath());

    QString printed;
    QTextStream out(&printed);
    const int status = SelfTest(sampleBundle(), english, languageOf).run(out);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(printed.startsWith(QStringLiteral("  app                    app.nimbel.desktop\n")));
    EXPECT_TRUE(printed.endsWith(QStringLiteral("and drew nothing.\n")));
    EXPECT_TRUE(printed.contains(QStringLiteral("  completed, and stays completed true\n")));
    EXPECT_TRUE(QDir(temp.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty())
        << QDir(temp.path()).entryList().join(u' ').toStdString();
}
