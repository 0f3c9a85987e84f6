#include "settings/PreferenceKeys.h"
#include "settings/PreferencesStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace nimbel;
using namespace Qt::StringLiterals;

namespace {

class PreferencesFile : public ::testing::Test
{
protected:
    QString path(const QString &name = u"prefs.conf"_s) const { return m_dir.filePath(name); }

    void writeRaw(const QByteArray &content, const QString &name = u"prefs.conf"_s) const
    {
        QFile file(path(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    }

    // QSettings caches a file per path within the process; a copy under a new
    // name is parsed from disk, as the next launch would see it.
    std::unique_ptr<QSettings> reopenedFromDisk(const QString &name = u"prefs.conf"_s)
    {
        const QString copy = path(u"reopened-%1.conf"_s.arg(++m_copies));
        EXPECT_TRUE(QFile::copy(path(name), copy));
        return std::make_unique<QSettings>(copy, QSettings::IniFormat);
    }

    QTemporaryDir m_dir;
    int m_copies = 0;
};

TEST_F(PreferencesFile, TypedValuesSurviveTheRoundTripThroughTheFile)
{
    {
        QSettings settings(path(), QSettings::IniFormat);
        PreferencesStore prefs(&settings);
        prefs.setString(keys::desktopPlatformBaseURL, u"https://a.example/x,y"_s);
        prefs.setString(keys::desktopConnectedAgentName, QString());
        prefs.setBoolean(keys::voiceOutputEnabled, false);
        prefs.setInteger(u"big"_s, std::numeric_limits<qint64>::min());
        prefs.setReal(keys::overlayOriginX, -12.25);
        prefs.setStringList(u"two"_s, {u"en"_s, u"ru"_s});
        prefs.setStringList(u"none"_s, {});
    }

    // And as the next launch reads them: everything comes back as text.
    auto settings = reopenedFromDisk();
    PreferencesStore prefs(settings.get());
    EXPECT_EQ(prefs.string(keys::desktopPlatformBaseURL), u"https://a.example/x,y"_s);
    EXPECT_EQ(prefs.string(keys::desktopConnectedAgentName), QString());
    EXPECT_EQ(prefs.boolean(keys::voiceOutputEnabled), false);
    EXPECT_EQ(prefs.integer(u"big"_s), std::numeric_limits<qint64>::min());
    EXPECT_EQ(prefs.real(keys::overlayOriginX), -12.25);
    EXPECT_EQ(prefs.stringList(u"two"_s), (QStringList{u"en"_s, u"ru"_s}));
    EXPECT_EQ(prefs.stringList(u"none"_s), QStringList());
    EXPECT_TRUE(prefs.contains(u"none"_s));

    // Absent keys are absent in every type.
    EXPECT_FALSE(prefs.contains(keys::overlayHasSavedOrigin));
    EXPECT_EQ(prefs.boolean(keys::overlayHasSavedOrigin), std::nullopt);
    EXPECT_EQ(prefs.stringList(u"missing"_s), std::nullopt);
}

TEST_F(PreferencesFile, ValuesOfTheWrongTypeReadAsAbsent)
{
    writeRaw("[General]\n"
             "voiceOutputEnabled=banana\n"
             "accessibilityContextEnabled=1\n"
             "desktopFirstRunCompletedVersion=12x\n"
             "overlayOriginX=abc\n"
             "desktopPlatformBaseURL=en, ru\n"
             "desktopConnectedAgentID=@ByteArray(abc)\n");
    QSettings settings(path(), QSettings::IniFormat);
    PreferencesStore prefs(&settings);
    EXPECT_EQ(prefs.boolean(keys::voiceOutputEnabled), std::nullopt);
    EXPECT_EQ(prefs.boolean(keys::accessibilityContextEnabled), std::nullopt);
    EXPECT_EQ(prefs.integer(keys::desktopFirstRunCompletedVersion), std::nullopt);
    EXPECT_EQ(prefs.real(keys::overlayOriginX), std::nullopt);
    // A two-element list is not a string, and bytes are not text.
    EXPECT_EQ(prefs.string(keys::desktopPlatformBaseURL), std::nullopt);
    EXPECT_EQ(prefs.string(keys::desktopConnectedAgentID), std::nullopt);
    // The keys still exist: absence and a wrong type differ only to contains().
    EXPECT_TRUE(prefs.contains(keys::voiceOutputEnabled));
}

TEST_F(PreferencesFile, UnreadablePathReadsAsDefaultsAndTheNextWriteReplacesIt)
{
    // A folder where the file should be: nothing can be read from it or written to it.
    ASSERT_TRUE(QDir().mkpath(path() + u"/inside"_s));
    QSettings settings(path(), QSettings::IniFormat);
    PreferencesStore prefs(&settings);
    EXPECT_FALSE(prefs.contains(keys::voiceOutputEnabled));
    EXPECT_EQ(prefs.boolean(keys::voiceOutputEnabled), std::nullopt);

    prefs.setBoolean(keys::voiceOutputEnabled, false);
    prefs.setString(keys::desktopConnectedAgentID, u"agent-7"_s);

    EXPECT_TRUE(QFileInfo(path()).isFile());
    auto reopened = reopenedFromDisk();
    EXPECT_EQ(reopened->status(), QSettings::NoError);
    PreferencesStore reread(reopened.get());
    EXPECT_EQ(reread.boolean(keys::voiceOutputEnabled), false);
    EXPECT_EQ(reread.string(keys::desktopConnectedAgentID), u"agent-7"_s);
    // The unusable original is kept aside, not deleted.
    const QStringList aside = QDir(m_dir.path()).entryList({u"prefs.conf.broken-*"_s}, QDir::Dirs);
    EXPECT_EQ(aside.size(), 1);
}

} // namespace
