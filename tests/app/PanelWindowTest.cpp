// The built application's panel window in a real X session (scripts/with-session):
// where it stands, what the chat shows, and its tray item docked in the tray host.
// Saves a screenshot of the expanded chat under the build folder's artifacts/.
#include "AssistantSession.h"

#include <QImage>
#include <QSet>

using namespace nimbel::test;

namespace {

// The ids (decimal, as xdotool prints them) of every window the process owns.
QSet<quint64> windowsOf(qint64 pid)
{
    QSet<quint64> ids;
    for (const QString &line : xdotool(QStringLiteral("search --all --pid %1").arg(pid)).split(u'\n', Qt::SkipEmptyParts))
        ids.insert(line.trimmed().toULongLong());
    return ids;
}

// Whether one of `windows` sits inside a tray host's panel in the window tree
// (an XEmbed tray host reparents a docked icon into its own window).
bool dockedInTrayHost(const QSet<quint64> &windows, QString *tree)
{
    *tree = run(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")});
    static const QRegularExpression line(QStringLiteral(R"(^(\s*)(0x[0-9a-f]+) (.*)$)"));
    // Indentation and WM_CLASS text of the ancestors of the current line.
    QList<std::pair<qsizetype, QString>> ancestors;
    for (const QString &text : tree->split(u'\n')) {
        const auto match = line.match(text);
        if (!match.hasMatch())
            continue;
        const qsizetype indent = match.capturedLength(1);
        while (!ancestors.isEmpty() && ancestors.last().first >= indent)
            ancestors.removeLast();
        bool ok = false;
        const quint64 id = match.captured(2).toULongLong(&ok, 16);
        if (ok && windows.contains(id)) {
            for (const auto &ancestor : ancestors)
                if (ancestor.second.contains(u"\"trayer\")"))
                    return true;
        }
        ancestors.append({indent, match.captured(3)});
    }
    return false;
}

using PanelWindow = AssistantSession;

} // namespace

TEST_F(PanelWindow, ExpandedModeShowsTheChatWithTheWelcomeMessageAndSavesAScreenshot)
{
    // The introduction done and the launcher dragged to (1000, 300), y upwards.
    QSettings preferences(home.filePath(QStringLiteral("config/app.nimbel.desktop.conf")), QSettings::IniFormat);
    preferences.setValue(QStringLiteral("desktopFirstRunCompletedVersion"), 1);
    preferences.setValue(QStringLiteral("overlayHasSavedLauncherAnchor"), true);
    preferences.setValue(QStringLiteral("overlayLauncherAnchorX"), 1000.0);
    preferences.setValue(QStringLiteral("overlayLauncherAnchorY"), 300.0);
    preferences.sync();
    env.insert(QStringLiteral("ZELM_DESKTOP_QA_MODE"), QStringLiteral("expanded"));
    ASSERT_NO_FATAL_FAILURE(launch({}));
    // Grows left and up from the anchor: on a 1080-high screen its top-left
    // corner is at (1000 − 488, 1080 − 300 − 670).
    QPoint at(-1, -1);
    EXPECT_TRUE(waitFor([&] { return !panel(QSize(488, 670), &at).isEmpty(); }, 20s)) << records().toStdString();
    EXPECT_EQ(at, QPoint(512, 110));
    EXPECT_TRUE(waitFor([&] {
        return lastDisplayed(QStringLiteral("assistant"))
            == u"Hi! Show me what is unclear on your screen and I’ll tell you the next step.";
    })) << records().toStdString();
    EXPECT_FALSE(records().contains(u"overlay_view_error")) << records().toStdString();

    QThread::msleep(700); // let the opening animations finish
    const QImage image(saveScreenshot(expandedPanel(), QStringLiteral("expanded-chat.png")));
    EXPECT_EQ(image.size(), QSize(488, 670));
    EXPECT_GT(sampledColours(image), 40);

    // The tray item is docked in the session's tray host.
    QString tree;
    EXPECT_TRUE(waitFor([&] { return dockedInTrayHost(windowsOf(app.processId()), &tree); }, 30s))
        << "no window of the application inside a tray host:\n" << tree.toStdString();
}
