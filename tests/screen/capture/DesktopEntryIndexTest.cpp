#include "screen/linux/DesktopEntryIndex.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace nimbel;

namespace {
void writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

class DesktopEntryIndexTest : public ::testing::Test
{
protected:
    QTemporaryDir home;
    QTemporaryDir system;
    QString homeApps() const { return home.path() + QStringLiteral("/applications"); }
    QString systemApps() const { return system.path() + QStringLiteral("/applications"); }

    void SetUp() override
    {
        writeFile(systemApps() + "/org.gnome.TextEditor.desktop",
                  "[Desktop Entry]\nType=Application\nName=Text Editor\nName[ru]=Текстовый редактор\n"
                  "Name[ru_RU]=Редактор текста\nExec=gnome-text-editor %U\n");
        writeFile(systemApps() + "/firefox-esr.desktop",
                  "[Desktop Entry]\nType=Application\nName=Firefox ESR\nStartupWMClass=Firefox-esr\n"
                  "Exec=/usr/lib/firefox-esr/firefox-esr %u\n"
                  "[Desktop Action new-window]\nName=New Window\nStartupWMClass=Wrong\n");
        writeFile(systemApps() + "/kde4/okular.desktop",
                  "[Desktop Entry]\nType=Application\nName=Okular\nExec=env QT_SCALE=1 okular-bin %U\n");
        writeFile(systemApps() + "/xterm.desktop", "[Desktop Entry]\nType=Application\nName=XTerm system\nExec=xterm\n");
        writeFile(systemApps() + "/link.desktop", "[Desktop Entry]\nType=Link\nName=Link\nStartupWMClass=Linky\n");
        writeFile(systemApps() + "/escaped.desktop",
                  "# comment\n[Desktop Entry]\nType=Application\nName=Tab\\tand\\sspace\nStartupWMClass=Esc\n");
        // The user's own files come first, and a hidden one removes the system one.
        writeFile(homeApps() + "/xterm.desktop", "[Desktop Entry]\nType=Application\nName=My XTerm\nExec=xterm\n");
        writeFile(homeApps() + "/firefox-esr.desktop", "[Desktop Entry]\nType=Application\nName=Gone\nHidden=true\n");
    }

    DesktopEntryIndex index(QStringList locale = {QStringLiteral("ru_RU"), QStringLiteral("ru")})
    {
        return DesktopEntryIndex({homeApps(), systemApps()}, locale);
    }
};

ApplicationIdentity identity(const char *id, const char *name)
{
    return {QString::fromUtf8(id), QString::fromUtf8(name)};
}
} // namespace

TEST_F(DesktopEntryIndexTest, FindsTheDesktopFileByApplicationIdClassCommandOrNameElseMakesDo)
{
    auto entries = index({});
    EXPECT_EQ(entries.identify({"gnome-text-editor", "Gnome-text-editor", "org.gnome.TextEditor"}),
              identity("org.gnome.TextEditor", "Text Editor"));
    // The command named by Exec, and the last part of a reverse-domain id.
    EXPECT_EQ(entries.identify({"texteditor", "TextEditor", ""}), identity("org.gnome.TextEditor", "Text Editor"));
    // Files in sub-folders get the folder in their id; "env VAR=… program" names the program.
    EXPECT_EQ(entries.identify({"okular-bin", "Okular-bin", ""}), identity("kde4-okular", "Okular"));
    EXPECT_EQ(entries.identify({"esc", "Esc", ""}), identity("escaped", "Tab\tand space"));
    // The user's file wins over the system's.
    EXPECT_EQ(entries.identify({"xterm", "XTerm", ""}), identity("xterm", "My XTerm"));

    // Without a file that counts, the application id, then the class, stand in.
    // The hidden user file removes firefox-esr; links and other groups' keys do not count.
    EXPECT_EQ(entries.identify({"Navigator", "Firefox-esr", ""}), identity("Firefox-esr", "Firefox-esr"));
    EXPECT_EQ(entries.identify({"linky", "Linky", ""}), identity("Linky", "Linky"));
    EXPECT_EQ(entries.identify({"tool", "Tool", "org.example.Tool"}), identity("org.example.Tool", "Tool"));
    EXPECT_EQ(entries.identify({"tool", "", ""}), identity("tool", "tool"));
}

TEST_F(DesktopEntryIndexTest, NamesFollowTheLocaleMostSpecificFirst)
{
    EXPECT_EQ(index({"ru_RU", "ru"}).identify({"", "", "org.gnome.TextEditor"}).localizedName, u"Редактор текста");
    EXPECT_EQ(index({"ru_UA", "ru"}).identify({"", "", "org.gnome.TextEditor"}).localizedName, u"Текстовый редактор");

    EXPECT_EQ(DesktopEntryIndex::localeKeysFor("sr_YU.UTF-8@Latn"),
              (QStringList{"sr_YU@Latn", "sr_YU", "sr@Latn", "sr"}));
    EXPECT_EQ(DesktopEntryIndex::localeKeysFor("C.UTF-8"), QStringList{});
}

TEST(DesktopEntryIndexDirs, FollowTheXdgVariables)
{
    test::ScopedEnvironment environment;
    environment.set("XDG_DATA_HOME", "/home/u/.data").set("XDG_DATA_DIRS", "/opt/share:/usr/share:/opt/share");
    EXPECT_EQ(DesktopEntryIndex::standardApplicationDirs(),
              (QStringList{"/home/u/.data/applications", "/opt/share/applications", "/usr/share/applications"}));
}
