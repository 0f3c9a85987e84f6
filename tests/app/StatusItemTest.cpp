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

TEST(StatusItem, MenuListsItsItemsInOrderWithTheCatalogueTexts)
{
    StatusItemController item({});
    const QList<QAction *> actions = item.menu()->actions();
    ASSERT_EQ(actions.size(), 6);
    EXPECT_EQ(actions[0]->text(), QStringLiteral("Open Nimbel"));
    EXPECT_EQ(actions[1]->text(), QStringLiteral("Take a screenshot"));
    EXPECT_TRUE(actions[2]->isSeparator());
    EXPECT_EQ(actions[3]->text(), QStringLiteral("Check for Updates…"));
    EXPECT_TRUE(actions[4]->isSeparator());
    EXPECT_EQ(actions[5]->text(), QStringLiteral("Quit"));
    EXPECT_EQ(actions[5]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    for (int i : {0, 1, 3})
        EXPECT_TRUE(actions[i]->shortcut().isEmpty()) << i;
    EXPECT_EQ(item.trayIcon()->toolTip(), QStringLiteral("Nimbel"));
    // Our own orb, not an icon of the desktop's theme.
    const QIcon icon = item.trayIcon()->icon();
    EXPECT_TRUE(icon.name().isEmpty()) << icon.name().toStdString();
    const QImage image = icon.pixmap(22, 22).toImage();
    ASSERT_FALSE(image.isNull());
    const QColor centre = image.pixelColor(image.width() / 2, image.height() / 2);
    EXPECT_GT(centre.blue(), centre.red()) << "the orb is blue-violet";
    EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0) << "round, on a clear background";
    EXPECT_EQ(item.trayIcon()->contextMenu(), item.menu());
}

TEST(StatusItem, EachItemRunsItsOwnActionAndQuitEndsTheEventLoop)
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

    bool quitReachedLoop = false;
    QTimer::singleShot(0, [&] { actions[5]->trigger(); });
    QTimer::singleShot(5000, [&] { QCoreApplication::exit(7); });
    quitReachedLoop = QCoreApplication::exec() == 0;
    EXPECT_TRUE(quitReachedLoop);
}
