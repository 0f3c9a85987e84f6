#include "app/GlobalShortcut.h"
#include "settings/PreferenceKeys.h"
#include "settings/PreferencesStore.h"

#include <QKeySequence>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtCore/qtestsupport_core.h>

#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <memory>
#include <functional>

using namespace nimbel;
using State = GlobalShortcut::State;

// Needs an X display (scripts/with-session) and xdotool.
namespace {

// Processes events until `done` holds; false after 10 s.
bool waitUntil(const std::function<bool()> &done) { return QTest::qWaitFor(done, 10000); }

bool press(const QString &keys) { return QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), keys}) == 0; }

class GlobalShortcutTest : public testing::Test
{
protected:
    QTemporaryDir dir;
    QSettings settings{dir.filePath(QStringLiteral("prefs.ini")), QSettings::IniFormat};
    PreferencesStore preferences{&settings};
};

TEST(X11KeyGrab, MapsCombinationsThatLeaveTypingAlone)
{
    const std::pair<const char *, std::optional<X11KeyGrab>> cases[] = {
        {"Ctrl+Alt+Space", X11KeyGrab{0x20, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1}},
        {"Ctrl+Shift+K", X11KeyGrab{'k', XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT}},
        {"Alt+PgDown", X11KeyGrab{0xff56, XCB_MOD_MASK_1}},
        {"K", std::nullopt},
        {"Ctrl+Alt+Media Play", std::nullopt},
    };
    for (const auto &[text, grab] : cases) {
        const QKeySequence sequence = QKeySequence::fromString(QString::fromLatin1(text), QKeySequence::PortableText);
        ASSERT_EQ(sequence.count(), 1) << text;
        EXPECT_EQ(x11KeyGrab(sequence[0]), grab) << text;
    }
    EXPECT_FALSE(x11KeyGrab(QKeyCombination(Qt::ControlModifier | Qt::AltModifier, Qt::Key_Control)));
}

TEST_F(GlobalShortcutTest, ThePressReachesItWhateverTheLockKeysAndFollowsAChange)
{
    GlobalShortcut shortcut(preferences);
    int activations = 0;
    QObject::connect(&shortcut, &GlobalShortcut::activated, [&] { ++activations; });
    ASSERT_EQ(shortcut.state(), State::active);
    EXPECT_EQ(shortcut.sequence(), QStringLiteral("Ctrl+Alt+Space"));

    // Each lock key is turned on for the press and off again afterwards.
    for (const QString &lock : {QString(), QStringLiteral("Caps_Lock"), QStringLiteral("Num_Lock")}) {
        ASSERT_TRUE(lock.isEmpty() || press(lock));
        const int before = activations;
        ASSERT_TRUE(press(QStringLiteral("ctrl+alt+space")));
        EXPECT_TRUE(waitUntil([&] { return activations == before + 1; })) << lock.toStdString();
        ASSERT_TRUE(lock.isEmpty() || press(lock));
    }

    // A recorded combination replaces the old one, and is kept.
    EXPECT_FALSE(shortcut.record(Qt::Key_K, Qt::ShiftModifier));
    ASSERT_TRUE(shortcut.record(Qt::Key_K, int(Qt::ControlModifier | Qt::ShiftModifier)));
    EXPECT_EQ(shortcut.state(), State::active);
    EXPECT_EQ(preferences.string(keys::voiceSessionShortcut), QStringLiteral("Ctrl+Shift+K"));
    const int before = activations;
    ASSERT_TRUE(press(QStringLiteral("ctrl+alt+space")));
    ASSERT_TRUE(press(QStringLiteral("ctrl+shift+k")));
    // Events arrive in order: had the old combination still been grabbed, it would count first.
    ASSERT_TRUE(waitUntil([&] { return activations > before; }));
    QTest::qWait(200);
    EXPECT_EQ(activations, before + 1);
    EXPECT_EQ(GlobalShortcut(preferences).sequence(), QStringLiteral("Ctrl+Shift+K"));
}

TEST_F(GlobalShortcutTest, ACombinationAnotherProgramHoldsIsReportedTaken)
{
    // Another program takes Ctrl+Alt+Space first: a shortcut is an X client of its own.
    auto other = std::make_unique<GlobalShortcut>(preferences);
    ASSERT_EQ(other->state(), State::active);

    GlobalShortcut shortcut(preferences);
    EXPECT_EQ(shortcut.state(), State::taken);
    EXPECT_EQ(shortcut.problemKey(), QStringLiteral("settings.shortcut.taken"));

    // Once the other program lets go, choosing the combination again takes it.
    other.reset();
    ASSERT_TRUE(waitUntil([&] {
        shortcut.setSequence(QStringLiteral("Ctrl+Alt+Space"));
        return shortcut.state() == State::active;
    }));
    EXPECT_TRUE(shortcut.problemKey().isEmpty());
}

} // namespace
