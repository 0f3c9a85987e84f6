// A screen question on the real screen: the paired assistant in front of a real
// dialog asks where its "Continue" button is. The local platform must receive
// one picture with the capture's metadata, the dialog's accessibility summary
// and the prepared screen context of that very capture; the answer that
// reaches the chat points at the button, and a ring shows around the button's
// on-screen rectangle (as the accessibility tree gives it, or as the picture
// places it), lets the pointer through, follows the dialog, goes with it and goes on Escape.
#include "AccessibilityBusReader.h"
#include "AssistantSession.h"

#include <QImage>

#include <algorithm>

using namespace nimbel::test;

namespace {

const QString question = QStringLiteral("Where is the Continue button on this screen?");

bool isRing(QRgb pixel)
{
    return std::abs(qRed(pixel) - 0xff) < 24 && std::abs(qGreen(pixel) - 0x8a) < 24 && std::abs(qBlue(pixel)) < 24;
}

class HighlightEndToEnd : public AssistantSession
{
protected:
    // The dialog, active, and its button's rectangle on the screen as its accessibility tree tells it.
    void openDialogAndFindTheButton()
    {
        ASSERT_NO_FATAL_FAILURE(openDialog());
        QString diagnosis;
        ASSERT_TRUE(waitFor([&] {
            const auto node = findAccessible(dialog.processId(), [](const AccessibleNode &node) {
                return node.name == u"Continue" && !node.extents.isEmpty();
            }, &diagnosis);
            button = node ? node->extents : QRect();
            return node.has_value();
        }, 30s)) << "no Continue button on the accessibility bus: " << diagnosis.toStdString();
    }

    // The question asked by a new launch, until the ring stands around the button.
    void askUntilTheRingSurroundsTheButton(int slack = 1)
    {
        stop(app);
        ASSERT_NO_FATAL_FAILURE(ask(question));
        ASSERT_TRUE(waitFor([&] { return !(ring = highlight()).isEmpty(); }))
            << records().toStdString() << QJsonDocument(journal()).toJson().toStdString();
        ASSERT_TRUE(waitFor([&] { return surrounds(button, slack); }, 3s))
            << xdotool(QStringLiteral("getwindowgeometry --shell ") + ring).toStdString() << " button " << button.x()
            << "," << button.y() << " " << button.width() << "x" << button.height() << "\n" << records().toStdString();
    }

    // The assistant's highlight window while it shows, or an empty id.
    QString highlight()
    {
        return run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--onlyvisible"),
                                               QStringLiteral("--pid"), QString::number(app.processId()),
                                               QStringLiteral("--name"), QStringLiteral("^Nimbel highlight$")})
            .section(u'\n', 0, 0);
    }

    // Whether the ring's window stands around `target` with the ring's gap on every side.
    bool surrounds(const QRect &target, int slack)
    {
        const QRect window = geometryOf(ring);
        return window.contains(target) && std::abs(window.center().x() - target.center().x()) <= slack
            && std::abs(window.center().y() - target.center().y()) <= slack;
    }

    QRect button;
    QString ring;
};

} // namespace

TEST_F(HighlightEndToEnd, OneCaptureWithItsOwnContextsAndARingAroundTheButtonByTreeOrPicture)
{
    ASSERT_TRUE(switchOnToolkitAccessibility());
    ASSERT_NO_FATAL_FAILURE(startPlatform());
    ASSERT_NO_FATAL_FAILURE(pair());
    ASSERT_NO_FATAL_FAILURE(openDialogAndFindTheButton());
    ASSERT_NO_FATAL_FAILURE(askUntilTheRingSurroundsTheButton());

    // On the screen: the ring around the button's rectangle, the button itself uncovered.
    // The ring's band runs 4 to 9 pixels outside the button, once it has closed in on it.
    const int out = 6;
    const QPoint onRing[] = {{button.center().x(), button.top() - out}, {button.center().x(), button.bottom() + out},
                             {button.left() - out, button.center().y()}, {button.right() + out, button.center().y()}};
    QImage screen;
    EXPECT_TRUE(waitFor([&] {
        screen = QImage(saveScreenshot(QStringLiteral("root"), QStringLiteral("highlight-screen.png")));
        return !screen.isNull() && std::all_of(std::begin(onRing), std::end(onRing), [&](QPoint p) { return isRing(screen.pixel(p)); });
    }, 5s));
    ASSERT_FALSE(screen.isNull());
    for (const QPoint &p : onRing)
        EXPECT_TRUE(isRing(screen.pixel(p))) << "no ring at " << p.x() << "," << p.y();
    EXPECT_FALSE(isRing(screen.pixel(button.center())));

    // The dialog moves: the ring goes with it.
    const QRect before = geometryOf(dialogWindow);
    xdotool(QStringLiteral("windowmove %1 %2 %3").arg(dialogWindow).arg(before.x() + 70).arg(before.y() + 40));
    ASSERT_TRUE(waitFor([&] { return geometryOf(dialogWindow).topLeft() != before.topLeft(); }, 3s));
    const QPoint moved = geometryOf(dialogWindow).topLeft() - before.topLeft();
    EXPECT_TRUE(waitFor([&] { return surrounds(button.translated(moved), 1); }, 3s));

    // The dialog closes: so does the ring.
    stop(dialog);
    EXPECT_TRUE(waitFor([&] { return highlight().isEmpty(); }, 3s));

    // The answer reaches the chat and points at the button.
    ASSERT_TRUE(waitFor([&] {
        return !entry(journal(), QStringLiteral("/v1/desktop/chat")).isEmpty()
            && lastDisplayed(QStringLiteral("assistant")).contains(u"Continue");
    })) << records().toStdString() << QJsonDocument(journal()).toJson().toStdString();
    EXPECT_EQ(lastDisplayed(QStringLiteral("user")), question);
    EXPECT_FALSE(records().contains(u"turn_failed")) << records().toStdString();

    // One picture went out, with the metadata of the dialog's window.
    const QJsonArray requests = journal();
    EXPECT_EQ(count(requests, QStringLiteral("/v1/desktop/analyze")), 1);
    const QJsonObject analysis = entry(requests, QStringLiteral("/v1/desktop/analyze"));
    const QJsonObject payload = analysis.value(u"payload").toObject();
    EXPECT_EQ(payload.value(u"question").toString(), question);
    const QJsonObject capture = payload.value(u"capture").toObject();
    EXPECT_EQ(capture.value(u"kind").toString(), QStringLiteral("window"));
    EXPECT_EQ(capture.value(u"window_title").toString(), QStringLiteral("Setup"));
    const QString capturedAt = capture.value(u"captured_at").toString();
    EXPECT_FALSE(capturedAt.isEmpty());
    // (The picture's pixels against the window: the capture tests'; its bytes against what the view shows: SentContext.)

    // The dialog's accessibility summary (the walk's own rules are the accessibility tests').
    const QJsonObject accessibility = payload.value(u"accessibility").toObject();
    EXPECT_EQ(accessibility.value(u"application_name"), capture.value(u"application_name"));
    EXPECT_TRUE(QJsonDocument(accessibility).toJson().contains("Choose an option below"))
        << QJsonDocument(accessibility).toJson().toStdString();

    // The prepared context of that very capture, which read the button.
    const QJsonObject prepared = payload.value(u"prepared_screen_context").toObject();
    EXPECT_EQ(prepared.value(u"capture_id").toString(), capturedAt);
    const QString read = QString::fromUtf8(
        QJsonDocument(QJsonArray{prepared.value(u"visible_text"), prepared.value(u"controls")}).toJson());
    EXPECT_TRUE(read.contains(u"Continue")) << QJsonDocument(prepared).toJson().toStdString();
    // (That no secret on the dialog leaves as text: DesktopFaults.SecretsNeverLeaveTheDevice…; that the chat
    // is asked with the analysis's note: ScreenQuestionTest.)

    // A picture of the chat with the question, its screenshot and the answer.
    QString chat;
    ASSERT_TRUE(waitFor([&] { return !(chat = expandedPanel()).isEmpty(); }, 30s));
    EXPECT_EQ(QImage(saveScreenshot(chat, QStringLiteral("screen-answer.png"))).size(), QSize(488, 670));

    // Asked again, the platform answers with the button's place in the picture
    // only, so the ring has the screenshot's rectangle to go by.
    ASSERT_NO_FATAL_FAILURE(openDialogAndFindTheButton());
    QHash<QString, int> values;
    for (const QString &line : run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), dialogWindow}).split(u'\n'))
        values.insert(line.section(u':', 0, 0).trimmed(), line.section(u':', 1).trimmed().toInt());
    const QRect client(values.value(QStringLiteral("Absolute upper-left X")), values.value(QStringLiteral("Absolute upper-left Y")),
                       values.value(QStringLiteral("Width")), values.value(QStringLiteral("Height")));
    ASSERT_FALSE(client.isEmpty());
    const QString answer = QStringLiteral(R"({"analyze": {"answer": {"summary": "Here.", "steps": [{"instruction":
        "Click the button", "target_rect": {"x": %1, "y": %2, "width": %3, "height": %4}}]}}})")
                               .arg(double(button.x() - client.x()) / client.width())
                               .arg(double(button.y() - client.y()) / client.height())
                               .arg(double(button.width()) / client.width())
                               .arg(double(button.height()) / client.height());
    ASSERT_NO_FATAL_FAILURE(writeScript(QJsonDocument::fromJson(answer.toUtf8()).object()));
    ASSERT_NO_FATAL_FAILURE(askUntilTheRingSurroundsTheButton(2));
    EXPECT_TRUE(waitFor([&] { return records().contains(u"event=highlight_shown step=1 source=screenshot"); }, 3s))
        << records().toStdString();

    // Over the ring itself the pointer is in the dialog: the ring takes no input. Escape takes it away.
    const QPoint onTheBand(button.center().x(), button.top() - 6);
    const QString under = xdotool(QStringLiteral("mousemove %1 %2 getmouse --shell").arg(onTheBand.x()).arg(onTheBand.y()));
    EXPECT_FALSE(under.contains(QStringLiteral("WINDOW=") + ring)) << under.toStdString();
    xdotool(QStringLiteral("key Escape"));
    EXPECT_TRUE(waitFor([&] { return highlight().isEmpty(); }, 3s));
    EXPECT_TRUE(waitFor([&] { return records().contains(u"event=highlight_ended reason=dismissed"); }, 3s))
        << records().toStdString();
}
