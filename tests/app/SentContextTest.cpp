// What was sent for a screen question, opened from its screenshot bubble in
// the real views, against what the real local platform received through the
// real gateway client: the same JPEG, lines, controls, summaries and address;
// a planted secret shows only as a count; clearing the conversation drops it.
#include "app/OverlayPanelController.h"
#include "conversation/ViewModelHarness.h"
#include "core/SystemClock.h"
#include "gateway/VisionGatewayClient.h"
#include "local-platform/LocalPlatformProcess.h"
#include "QuickItems.h"

#include <nlohmann/json.hpp>

#include <QCryptographicHash>
#include <QPainter>
#include <QQmlEngine>
#include <QQuickImageProvider>
#include <QQuickItem>
#include <QQuickView>
#include <QTest>
#include <QtQml/QQmlExtensionPlugin>

Q_IMPORT_QML_PLUGIN(Nimbel_UiPlugin)

using namespace nimbel;
using json = nlohmann::json;

namespace {

const QString secret = QStringLiteral("hunter2");

// A dialog whose second line is a secret the recogniser reads and withholds.
QImage dialogWithSecret()
{
    QImage image(520, 240, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    QFont font = painter.font();
    font.setPixelSize(22);
    painter.setFont(font);
    painter.drawText(QRect(20, 20, 480, 40), Qt::AlignVCenter, QStringLiteral("Install updates now"));
    painter.drawText(QRect(20, 80, 480, 40), Qt::AlignVCenter, QStringLiteral("Your password is ") + secret);
    painter.drawRect(QRect(360, 160, 140, 50));
    painter.drawText(QRect(360, 160, 140, 50), Qt::AlignCenter, QStringLiteral("Continue"));
    return image;
}

class DialogCapture final : public ScreenCaptureService
{
public:
    QCoro::Task<CaptureResult> captureCurrentContext() override
    {
        CaptureArtifact artifact;
        artifact.image = dialogWithSecret();
        artifact.metadata.applicationName = QStringLiteral("Installer");
        artifact.metadata.windowTitle = QStringLiteral("Setup");
        artifact.metadata.logicalWidth = artifact.metadata.pixelWidth = artifact.image.width();
        artifact.metadata.logicalHeight = artifact.metadata.pixelHeight = artifact.image.height();
        artifact.metadata.capturedAt = QDateTime::currentDateTimeUtc();
        co_return artifact;
    }
    std::optional<ScreenCaptureError> requestPermissionForOnboarding() override { return std::nullopt; }
};

QString text(const json &value)
{
    return value.is_string() ? QString::fromStdString(value.get<std::string>()) : QString();
}

class SentContext : public ::testing::Test
{
protected:
    SentContext()
        : settings(directory.filePath(QStringLiteral("preferences.ini")), QSettings::IniFormat)
        , preferences(&settings)
    {
        preferences.setString(keys::zelmAppLanguage, QStringLiteral("en"));
        accessibility.trusted = true;
        walks.context = AccessibilityContext{QStringLiteral("Installer"), std::nullopt, QStringLiteral("Setup"),
                                             QStringLiteral("https://setup.example/step?page=2"),
                                             {{QStringLiteral("AXStaticText"), QStringLiteral("Install updates now"), std::nullopt},
                                              {QStringLiteral("AXButton"), QStringLiteral("Continue"), true}},
                                             false};
    }

    void settle() { test::settle(panel->window()); }

    // A shown item of the views by object name, and its text.
    QQuickItem *find(const QString &name)
    {
        QQuickItem *item = test::itemsNamed(panel->window()->contentItem(), name).value(0);
        return item && item->isVisible() ? item : nullptr;
    }
    QString shown(const QString &name) { return find(name) ? find(name)->property("text").toString() : QStringLiteral("<not shown>"); }

    test::ScriptFile script{R"({"agent": {"agent_id": "dsa-local-agent"}})"};
    test::LocalPlatformProcess platform{script.arguments()};
    ScreenImageEncoder encoder;
    LocalScreenContextPreparer preparer;
    QTemporaryDir directory;
    QSettings settings;
    PreferencesStore preferences;
    Clock &clock = SystemClock::instance();
    VisionGatewayClient gateway{clock};
    DialogCapture captures;
    test::FakeAppTracker tracker;
    test::FakeAccessibilityService walks{clock};
    test::FakeTokenStore tokens;
    test::FakeVoiceOutput voice;
    test::FakeMicrophone microphone;
    test::FakeAccessibilityTrust accessibility;
    test::FakeScreenCaptureAccess screen;
    test::FakeLoginItem loginItem;
    test::FakeUpdateStatus updates;
    test::FakeLinkOpener links;
    test::FakeDesktopActions desktop;
    std::unique_ptr<OverlayViewModel> model;
    std::unique_ptr<OverlayPanelController> panel; // goes before the model it shows
};

} // namespace

TEST_F(SentContext, TheViewShowsExactlyWhatThePlatformReceivedAndGoesWithTheConversation)
{
    ASSERT_TRUE(platform.started()) << platform.errors().toStdString();
    tokens.key = QString::fromLatin1(test::LocalPlatformProcess::fixedKey);
    preferences.setString(keys::desktopPlatformBaseURL, QString::fromStdString(platform.baseURL()));
    preferences.setString(keys::desktopConnectedAgentID, QStringLiteral("dsa-local-agent"));
    OverlayViewModel::Services services{clock,     preferences, tokens,  voice, microphone, accessibility, screen,
                                        loginItem, updates,     gateway, links, desktop,    encoder};
    services.screenCapture = &captures;
    services.appTracker = &tracker;
    services.accessibilityContext = &walks;
    services.screenContextPreparer = &preparer;
    model = std::make_unique<OverlayViewModel>(services,
                                               OverlayViewModel::Launch{QProcessEnvironment(), {QStringLiteral("nimbel")}});
    panel = std::make_unique<OverlayPanelController>(*model, preferences, clock);
    panel->bringToFront();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(panel->window()));
    model->openChat();
    settle();

    model->setQuestion(QStringLiteral("Where do I click to continue?"));
    model->submitQuestion(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model->isBusy(); }, 60'000));
    ASSERT_EQ(model->state(), OverlayViewModel::State::answered)
        << (model->failure() ? model->failure()->message.toStdString() : std::string());
    settle();

    // What the platform received.
    const auto client = platform.client();
    const auto journal = client->Get("/debug/requests");
    ASSERT_TRUE(journal && journal->status == 200);
    json payload;
    const json requests = json::parse(journal->body).at("requests");
    for (const json &entry : requests)
        if (entry.at("path") == "/v1/desktop/analyze")
            payload = entry.at("payload");
    ASSERT_TRUE(payload.is_object()) << journal->body;
    const auto image = client->Get("/debug/last-analyze-image");
    ASSERT_TRUE(image && image->status == 200);
    const QByteArray jpeg = QByteArray::fromStdString(image->body);
    const QImage picture = QImage::fromData(jpeg, "JPEG");
    ASSERT_FALSE(picture.isNull());

    // The owner opens it from the screenshot bubble.
    QQuickItem *open = find(QStringLiteral("openSentContext"));
    ASSERT_NE(open, nullptr);
    QTest::mouseClick(panel->window(), Qt::LeftButton, {}, open->mapToScene(open->boundingRect().center()).toPoint());
    settle();
    ASSERT_NE(find(QStringLiteral("sentDigest")), nullptr) << "the view did not open";

    // The picture: its pixels, its size in bytes, its checksum.
    EXPECT_EQ(shown(QStringLiteral("sentPictureFacts")), QStringLiteral("Picture: %1 × %2 pixels, %3 bytes")
                                                             .arg(picture.width()).arg(picture.height()).arg(jpeg.size()));
    EXPECT_EQ(shown(QStringLiteral("sentDigest")),
              QStringLiteral("Checksum (SHA-256): ")
                  + QString::fromLatin1(QCryptographicHash::hash(jpeg, QCryptographicHash::Sha256).toHex()));
    QQuickItem *shownPicture = find(QStringLiteral("sentPicture"));
    ASSERT_NE(shownPicture, nullptr);
    EXPECT_EQ(shownPicture->property("sourceSize").toSize(), picture.size());
    const QString messageId = shownPicture->property("source").toUrl().path().mid(1);
    auto *provider = static_cast<QQuickImageProvider *>(panel->window()->engine()->imageProvider(QStringLiteral("sent")));
    QSize size;
    EXPECT_EQ(provider->requestImage(messageId, &size, {}), picture); // the same bytes decode the same

    // The prepared context, the accessibility summary and the address, as received.
    const json &prepared = payload.at("prepared_screen_context");
    QStringList visible;
    for (const json &line : prepared.at("visible_text"))
        visible << text(line);
    EXPECT_TRUE(visible.contains(QStringLiteral("Continue"))) << visible.join(u'|').toStdString();
    EXPECT_EQ(shown(QStringLiteral("sentLines")), visible.join(u'\n'));
    for (const json &control : prepared.at("controls"))
        EXPECT_TRUE(shown(QStringLiteral("sentControls")).contains(text(control.value("label", json()))));
    EXPECT_EQ(shown(QStringLiteral("sentSummary")), text(prepared.at("screen_summary")));
    for (const char *element : {"Installer · Setup", "Install updates now", "Continue · enabled"})
        EXPECT_TRUE(shown(QStringLiteral("sentAccessibility")).contains(QString::fromUtf8(element))) << element;
    EXPECT_EQ(text(payload.at("accessibility").at("page_url")), QStringLiteral("https://setup.example/step?page=2"));
    EXPECT_EQ(shown(QStringLiteral("sentAddress")), QStringLiteral("https://setup.example/step?page=2"));

    // The secret: withheld from the text of the request, covered in its picture, and shown as a number only.
    EXPECT_EQ(shown(QStringLiteral("sentWithheld")),
              QStringLiteral("Lines withheld as secrets, and covered in the picture above: 1."));
    const auto darkShare = [&](const QRect &area) {
        int dark = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                dark += qGray(picture.pixel(x, y)) < 40;
        return double(dark) / (area.width() * area.height());
    };
    EXPECT_GT(darkShare(QRect(20, 92, 220, 16)), 0.95) << "the secret's line is not covered";
    EXPECT_LT(darkShare(QRect(20, 32, 220, 16)), 0.5) << "the line above it is covered too";
    EXPECT_FALSE(QString::fromStdString(payload.dump()).contains(secret));
    for (const QString &name : QStringList{"sentLines", "sentControls", "sentSummary", "sentAccessibility", "sentWithheld"})
        EXPECT_FALSE(shown(name).contains(secret) || shown(name).contains(u"password")) << name.toStdString();

    // A new conversation takes the record with it: the view closes, the picture is gone.
    model->resetConversation();
    settle();
    EXPECT_EQ(find(QStringLiteral("sentDigest")), nullptr);
    EXPECT_EQ(find(QStringLiteral("openSentContext")), nullptr);
    EXPECT_TRUE(std::none_of(model->messages().begin(), model->messages().end(),
                             [](const ChatMessage &message) { return message.hasSentContext(); }));
    EXPECT_TRUE(provider->requestImage(messageId, &size, {}).isNull());
}
