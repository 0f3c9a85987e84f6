// A screen question end to end: the paired assistant, in the "ask" test mode,
// in front of a real dialog with a "Continue" button, asks where that button
// is. The local platform must receive one picture with the capture's metadata,
// the dialog's accessibility summary and the prepared screen context of that
// very capture; the answer that reaches the chat must point at the button.
#include "AccessibilityBusReader.h"
#include "AssistantSession.h"

#include <QImage>

using namespace nimbel::test;

namespace {

const QString question = QStringLiteral("Where is the Continue button on this screen?");

class ScreenQuestionEndToEnd : public AssistantSession
{
protected:
    // The dialog, active and on the accessibility bus.
    void openAccessibleDialog()
    {
        ASSERT_NO_FATAL_FAILURE(openAccessibleDialog());
        QString diagnosis;
        ASSERT_TRUE(waitFor([&] { return !accessibleNodes(dialog.processId(), &diagnosis).isEmpty(); }, 30s))
            << "the dialog never appeared on the accessibility bus: " << diagnosis.toStdString();
    }
};

QStringList labels(const QJsonArray &items)
{
    QStringList result;
    for (const QJsonValue &item : items)
        result << item.toObject().value(u"label").toString();
    return result;
}

} // namespace

TEST_F(ScreenQuestionEndToEnd, OneCaptureWithItsOwnContextsAndAnAnswerThatPointsAtTheButton)
{
    ASSERT_TRUE(switchOnToolkitAccessibility());
    ASSERT_NO_FATAL_FAILURE(startPlatform());
    ASSERT_NO_FATAL_FAILURE(pair());
    ASSERT_NO_FATAL_FAILURE(openDialog());
    ASSERT_NO_FATAL_FAILURE(ask(question));

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

    // The picture is that window: a JPEG of its proportions.
    QProcess fetch;
    fetch.start(QStringLiteral("curl"), {QStringLiteral("-fsS"), base + QStringLiteral("/debug/last-analyze-image")});
    ASSERT_TRUE(fetch.waitForFinished(20000));
    const QByteArray jpeg = fetch.readAllStandardOutput();
    EXPECT_EQ(analysis.value(u"image_bytes").toInteger(), jpeg.size());
    const QImage picture = QImage::fromData(jpeg, "JPEG");
    ASSERT_FALSE(picture.isNull());
    const double pixelWidth = capture.value(u"pixel_width").toDouble();
    const double pixelHeight = capture.value(u"pixel_height").toDouble();
    ASSERT_GT(pixelWidth, 180);
    ASSERT_GT(pixelHeight, 120);
    EXPECT_NEAR(double(picture.width()) / picture.height(), pixelWidth / pixelHeight, 0.02);

    // The dialog's accessibility summary. A loaded machine may stop the walk at
    // its time budget before the button; a complete walk must list it.
    const QJsonObject accessibility = payload.value(u"accessibility").toObject();
    EXPECT_EQ(accessibility.value(u"application_name"), capture.value(u"application_name"));
    const QStringList elements = labels(accessibility.value(u"elements").toArray());
    ASSERT_FALSE(elements.isEmpty()) << QJsonDocument(accessibility).toJson().toStdString();
    EXPECT_EQ(elements.first(), QStringLiteral("Choose an option below"));
    if (!accessibility.value(u"truncated").toBool()) {
        EXPECT_TRUE(elements.contains(QStringLiteral("Continue")))
            << QJsonDocument(accessibility).toJson().toStdString();
    }

    // The prepared context of that very capture, which read the button.
    const QJsonObject prepared = payload.value(u"prepared_screen_context").toObject();
    EXPECT_EQ(prepared.value(u"capture_id").toString(), capturedAt);
    const QString read = QString::fromUtf8(
        QJsonDocument(QJsonArray{prepared.value(u"visible_text"), prepared.value(u"controls")}).toJson());
    EXPECT_TRUE(read.contains(u"Continue")) << QJsonDocument(prepared).toJson().toStdString();
    // Neither the typed password nor the key the dialog shows leaves as text.
    const QByteArray sent = QJsonDocument(payload).toJson();
    EXPECT_FALSE(sent.contains("hunter2"));
    EXPECT_FALSE(sent.contains("sk_live_")) << sent.toStdString();

    // The visible answer was asked after the analysis, with its note as context.
    const QJsonArray messages =
        entry(requests, QStringLiteral("/v1/desktop/chat")).value(u"request").toObject().value(u"messages").toArray();
    const QString wire = QString::fromUtf8(QJsonDocument(messages).toJson());
    EXPECT_TRUE(wire.contains(u"Continue")) << wire.toStdString();

    // A picture of the chat with the question, its screenshot and the answer.
    QString panel;
    ASSERT_TRUE(waitFor([&] { return !(panel = expandedPanel()).isEmpty(); }, 30s));
    const QImage shot(saveScreenshot(panel, QStringLiteral("screen-answer.png")));
    EXPECT_EQ(shot.size(), QSize(488, 670));
}
