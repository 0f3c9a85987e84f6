// The self-test's own rules; its report as printed is checked on the built
// executable (AppProcessTest).
#include "app/SelfTest.h"

#include "support/TestEnvironment.h"

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextStream>

#include <gtest/gtest.h>

using namespace nimbel;

namespace {

QString keyAsText(const QString &key)
{
    return key;
}

QString languageOf(QSettings &settings)
{
    return settings.value(QStringLiteral("ZelmAppLanguage")).toString() == u"ru" ? QStringLiteral("ru")
                                                                                  : QStringLiteral("en");
}

} // namespace

TEST(SelfTest, MissingEntriesLanguageAndAnAlreadyCompletedProfile)
{
    QTemporaryDir dir;
    QSettings privateSettings(dir.filePath(QStringLiteral("private.conf")), QSettings::IniFormat);
    privateSettings.setValue(QStringLiteral("desktopFirstRunCompletedVersion"), 3);
    privateSettings.setValue(QStringLiteral("ZelmAppLanguage"), QStringLiteral("ru"));
    BundleInfo bundle;
    bundle.localizations = {QStringLiteral("ru"), QStringLiteral("de"), QStringLiteral("en")};
    const QStringList got = SelfTest(bundle, keyAsText, languageOf).report(privateSettings);

    EXPECT_EQ(got[0], QStringLiteral("  app                    ?"));
    EXPECT_EQ(got[1], QStringLiteral("  version                — (—)"));
    EXPECT_EQ(got[2], QStringLiteral("  localizations          de, en, ru"));
    EXPECT_EQ(got[3], QStringLiteral("  resolved language      ru"));
    EXPECT_EQ(got[4], QStringLiteral("  speech locale          ru-RU"));
    EXPECT_EQ(got[9], QStringLiteral("  already completed?     true"));
    // A label longer than the column is not cut.
    EXPECT_EQ(SelfTest::line(QStringLiteral("a label longer than twenty-two"), QStringLiteral("x")),
              QStringLiteral("  a label longer than twenty-two x"));
}

TEST(SelfTest, RunMarksItsPrivateProfileCompletedAndRemovesIt)
{
    QTemporaryDir temp;
    test::ScopedEnvironment env;
    env.set("TMPDIR", temp.path().toUtf8());
    ASSERT_EQ(QDir::tempPath(), QDir(temp.path()).canonicalPath());

    QString printed;
    QTextStream out(&printed);
    EXPECT_EQ(SelfTest(BundleInfo{}, keyAsText, languageOf).run(out), 0);
    EXPECT_TRUE(printed.contains(QStringLiteral("  already completed?     false\n")));
    EXPECT_TRUE(printed.contains(QStringLiteral("  completed, and stays completed true\n")));
    EXPECT_TRUE(QDir(temp.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty())
        << QDir(temp.path()).entryList().join(u' ').toStdString();
}
