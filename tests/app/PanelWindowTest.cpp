// The built application's panel window in a real X session (scripts/with-session):
// where it stands and what the chat shows. Saves a screenshot of the expanded chat
// under the build folder's artifacts/.
#include "AssistantSession.h"

#include <QImage>

using namespace nimbel::test;

namespace {

class PanelWindow : public AssistantSession
{
protected:
    // Starts the application in the test `mode` (none when empty) on a profile holding `stored`.
    void start(const QString &mode, const QVariantMap &stored = {})
    {
        QSettings preferences(home.filePath(QStringLiteral("config/app.nimbel.desktop.conf")), QSettings::IniFormat);
        for (auto it = stored.begin(); it != stored.end(); ++it)
            preferences.setValue(it.key(), it.value());
        preferences.sync();
        if (!mode.isEmpty())
            env.insert(QStringLiteral("ZELM_DESKTOP_QA_MODE"), mode);
        ASSERT_NO_FATAL_FAILURE(launch({}));
    }

    // Where this process's panel of `size` stands once it is shown; (-1, -1) if it never is.
    QPoint placeOf(QSize size)
    {
        QPoint at(-1, -1);
        EXPECT_TRUE(waitFor([&] { return !panel(size, &at).isEmpty(); }, 20s)) << records().toStdString();
        return at;
    }
};

} // namespace

TEST_F(PanelWindow, ExpandedModeShowsTheChatWithTheWelcomeMessageAndSavesAScreenshot)
{
    // The introduction done and the launcher dragged to (1000, 300), y upwards.
    start(QStringLiteral("expanded"), {{QStringLiteral("desktopFirstRunCompletedVersion"), 1},
                                       {QStringLiteral("overlayHasSavedLauncherAnchor"), true},
                                       {QStringLiteral("overlayLauncherAnchorX"), 1000.0},
                                       {QStringLiteral("overlayLauncherAnchorY"), 300.0}});
    // Grows left and up from the anchor: on a 1080-high screen its top-left
    // corner is at (1000 − 488, 1080 − 300 − 670).
    EXPECT_EQ(placeOf(QSize(488, 670)), QPoint(512, 110));
    EXPECT_TRUE(waitFor([&] {
        return lastDisplayed(QStringLiteral("assistant"))
            == u"Hi! Show me what is unclear on your screen and I’ll tell you the next step.";
    })) << records().toStdString();
    EXPECT_FALSE(records().contains(u"overlay_view_error")) << records().toStdString();

    QThread::msleep(700); // let the opening animations finish
    const QImage image(saveScreenshot(expandedPanel(), QStringLiteral("expanded-chat.png")));
    EXPECT_EQ(image.size(), QSize(488, 670));
    EXPECT_GT(sampledColours(image), 40);
}
