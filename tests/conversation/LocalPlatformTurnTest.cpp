// A typed question put to the view model, answered by the real local platform
// through the real gateway client: pairing from the console's link, the
// configuration, and the streamed answer growing one assistant message.
#include "ConversationFakes.h"
#include "conversation/OverlayViewModel.h"
#include "core/SystemClock.h"
#include "gateway/VisionGatewayClient.h"
#include "screen/ScreenImageEncoder.h"
#include "settings/PreferenceKeys.h"
#include "settings/PreferencesStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

using namespace nimbel;
using State = OverlayViewModel::State;

namespace {

// Runs the event loop until `done` holds or `limit` has passed; tells which.
bool spinUntil(const std::function<bool()> &done, std::chrono::milliseconds limit = std::chrono::seconds(20))
{
    QElapsedTimer elapsed;
    elapsed.start();
    QTimer tick;
    tick.start(10);
    while (!done()) {
        if (elapsed.elapsed() > limit.count())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

class LocalPlatform
{
public:
    bool start(const QString &script)
    {
        m_process.setProgram(QStringLiteral(LOCAL_PLATFORM_BINARY));
        m_process.setArguments({QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--script"), script});
        m_process.start();
        if (!m_process.waitForStarted(10'000))
            return false;
        const QString prefix = QStringLiteral("listening on http://127.0.0.1:");
        QElapsedTimer elapsed;
        elapsed.start();
        while (!m_process.canReadLine() && elapsed.elapsed() < 15'000)
            m_process.waitForReadyRead(200);
        const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
        if (!line.startsWith(prefix))
            return false;
        m_port = line.mid(prefix.size()).toInt();
        return m_port > 0;
    }
    ~LocalPlatform()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(5'000))
                m_process.kill();
            m_process.waitForFinished(2'000);
        }
    }
    QString origin() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }
    QString errors() { return QString::fromUtf8(m_process.readAllStandardError()); }

private:
    QProcess m_process;
    int m_port = 0;
};

// One request to the platform outside the assistant (the console's Connect
// button, the debug journal); the body, or empty on failure.
QByteArray request(QNetworkAccessManager &network, const QByteArray &method, const QUrl &url)
{
    QNetworkRequest req(url);
    req.setRawHeader("Accept", "application/json");
    QNetworkReply *reply = network.sendCustomRequest(req, method);
    spinUntil([reply] { return reply->isFinished(); }, std::chrono::seconds(10));
    const QByteArray body = reply->error() == QNetworkReply::NoError ? reply->readAll() : QByteArray();
    reply->deleteLater();
    return body;
}

const char script[] = R"({
  "agent": {"agent_id": "dsa-local-agent", "agent_name": "Lumen", "greet_en": "  Hi from Lumen. "},
  "chat": {"pause_ms": 120, "replies": [
    {"match": ["weather"], "sentences": ["It is sunny in Paris.", "Take sunglasses.", "Enjoy the day."]}
  ]}
})";

} // namespace

TEST(LocalPlatformTurn, TypedQuestionIsStreamedIntoOneAssistantMessage)
{
    QTemporaryDir directory;
    QFile scriptFile(directory.filePath(QStringLiteral("script.json")));
    ASSERT_TRUE(scriptFile.open(QIODevice::WriteOnly));
    scriptFile.write(script);
    scriptFile.close();

    LocalPlatform platform;
    ASSERT_TRUE(platform.start(scriptFile.fileName())) << platform.errors().toStdString();

    QSettings settings(directory.filePath(QStringLiteral("preferences.ini")), QSettings::IniFormat);
    PreferencesStore preferences(&settings);
    preferences.setString(keys::zelmAppLanguage, QStringLiteral("en"));
    test::FakeTokenStore tokens;
    test::FakeVoiceOutput voice;
    test::FakeMicrophone microphone;
    test::FakeAccessibilityTrust accessibility;
    test::FakeScreenCaptureAccess screen;
    test::FakeLoginItem loginItem;
    test::FakeUpdateStatus updates;
    test::FakeLinkOpener links;
    test::FakeDesktopActions desktop;
    ScreenImageEncoder encoder;
    Clock &clock = SystemClock::instance();
    VisionGatewayClient gateway(clock);
    OverlayViewModel model(OverlayViewModel::Services{clock, preferences, tokens, voice, microphone, accessibility,
                                                      screen, loginItem, updates, gateway, links, desktop, encoder},
                           OverlayViewModel::Launch{{}, {QStringLiteral("nimbel")}});

    // Pair through the console's Connect button and the link it hands out.
    QNetworkAccessManager network;
    const QJsonObject connect =
        QJsonDocument::fromJson(request(network, "POST", QUrl(platform.origin() + "/desktop-agent/connect"))).object();
    const QUrl link(connect.value(QStringLiteral("link")).toString());
    ASSERT_TRUE(link.isValid()) << platform.errors().toStdString();
    ASSERT_TRUE(model.applyPlatformConnection(link));
    ASSERT_TRUE(spinUntil([&] { return model.isPlatformConnected() && !model.platformLink().isPairing(); }))
        << (model.failure() ? model.failure()->message.toStdString() : std::string("still pairing"));
    EXPECT_EQ(model.gatewayBaseURL(), platform.origin());
    EXPECT_TRUE(tokens.key.startsWith(u"zelm-"));
    // The configuration follows the connection.
    ASSERT_TRUE(spinUntil([&] { return model.platformLink().lastPlatformConfigurationSyncAt().has_value(); }));
    EXPECT_EQ(model.connectedAgentID(), u"dsa-local-agent");
    EXPECT_EQ(model.connectedAgentName(), u"Lumen");
    EXPECT_EQ(model.greetingEN(), u"Hi from Lumen.");
    EXPECT_EQ(model.greetingRU(), u"Чем могу помочь?");

    // Watch the answer grow.
    QStringList growth;
    QObject::connect(&model, &OverlayViewModel::messagesChanged, [&] {
        const ChatMessage &last = model.messages().last();
        if (last.role == ChatMessage::Role::assistant && last.text.startsWith(u"It is sunny")
            && (growth.isEmpty() || growth.last() != last.text))
            growth.append(last.text);
    });

    const qsizetype before = model.messages().size();
    model.setQuestion(QStringLiteral("What is the weather in Paris today?"));
    model.submitQuestion(true);
    EXPECT_EQ(model.state(), State::analyzing);
    ASSERT_TRUE(spinUntil([&] { return model.state() == State::answered || model.state() == State::failed; }))
        << "state " << int(model.state());
    ASSERT_EQ(model.state(), State::answered)
        << (model.failure() ? model.failure()->message.toStdString() : std::string());

    // Question, opening line, and one assistant message with the whole answer.
    ASSERT_EQ(model.messages().size(), before + 3);
    EXPECT_EQ(model.messages().at(before).text, u"What is the weather in Paris today?");
    const QString line = model.messages().at(before + 1).text;
    EXPECT_TRUE(line == u"Let me check that." || line == u"Looking that up.") << line.toStdString();
    const ChatMessage &answer = model.messages().last();
    EXPECT_EQ(answer.role, ChatMessage::Role::assistant);
    EXPECT_EQ(answer.text, u"It is sunny in Paris. Take sunglasses. Enjoy the day.");
    // Sentence by sentence, as the stream arrived.
    EXPECT_EQ(growth, (QStringList{"It is sunny in Paris.", "It is sunny in Paris. Take sunglasses.",
                                   "It is sunny in Paris. Take sunglasses. Enjoy the day."}));
    EXPECT_FALSE(model.failure());
    EXPECT_EQ(model.messageModel()->rowCount(), model.messages().size());

    // The platform heard the question from the paired agent, in this session.
    const QByteArray journal = request(network, "GET", QUrl(platform.origin() + "/debug/requests"));
    EXPECT_TRUE(journal.contains("/v1/desktop/chat"));
    EXPECT_TRUE(journal.contains("What is the weather in Paris today?"));
    EXPECT_TRUE(journal.contains(model.desktopSessionID().toUtf8()));
}
