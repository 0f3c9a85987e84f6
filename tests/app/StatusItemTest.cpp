#include "app/StatusItemController.h"

#include <QAction>
#include <QIcon>
#include <QImage>
#include <QCoreApplication>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>

#include <gtest/gtest.h>

using namespace nimbel;

TEST(StatusItem, EachItemRunsItsOwnActionOrSaysWhyNotAndQuitEndsTheEventLoop)
{
    QStringList calls;
    StatusItemController item({
        .showPanel = [&] { calls << QStringLiteral("show"); },
        .captureScreen = [&] { calls << QStringLiteral("capture"); },
        .checkForUpdates = [&] { calls << QStringLiteral("updates"); },
    });
    const QList<QAction *> actions = item.menu()->actions();
    actions[3]->trigger();
    actions[0]->trigger();
    actions[1]->trigger();
    EXPECT_EQ(calls, (QStringList{QStringLiteral("updates"), QStringLiteral("show"), QStringLiteral("capture")}));

    // A plain click on the tray item opens the assistant too; other activations do not.
    emit item.trayIcon()->activated(QSystemTrayIcon::Context);
    emit item.trayIcon()->activated(QSystemTrayIcon::Trigger);
    EXPECT_EQ(calls.size(), 4);
    EXPECT_EQ(calls.last(), QStringLiteral("show"));

    // A build that cannot check for updates: the entry is disabled and says why.
    item.disableUpdateCheck(QStringLiteral("Updates unavailable: this build has no update checker."));
    EXPECT_FALSE(actions[3]->isEnabled());
    EXPECT_EQ(actions[3]->toolTip(), u"Updates unavailable: this build has no update checker.");
    actions[3]->trigger();
    EXPECT_EQ(calls.size(), 4);

    QTimer::singleShot(0, [&] { actions[5]->trigger(); });
    QTimer::singleShot(5000, [&] { QCoreApplication::exit(7); }); // a hang guard: quit ends the loop with 0
    EXPECT_EQ(QCoreApplication::exec(), 0);
}
