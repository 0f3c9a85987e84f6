// The derived texts and enabled rules of the QML views (src/ui/Texts.mjs),
// run in a JavaScript engine as the views run them.
#include <QJSEngine>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJSValue>
#include <QVariantMap>

#include <gtest/gtest.h>

namespace {

class OverlayTexts : public ::testing::Test
{
protected:
    void SetUp() override
    {
        module = engine.importModule(QStringLiteral(NIMBEL_UI_DIR "/Texts.mjs"));
        ASSERT_FALSE(module.isError()) << module.toString().toStdString();
        // Keys come back bracketed, so each test sees which key a rule chose.
        lookup = engine.evaluate(QStringLiteral("(key) => '[' + key + ']'"));
    }

    QJSValue call(const char *function, const QJSValueList &arguments)
    {
        QJSValue result = module.property(QString::fromLatin1(function)).call(arguments);
        EXPECT_FALSE(result.isError()) << result.toString().toStdString();
        return result;
    }
    QString text(const char *function, const QVariantMap &state)
    {
        return call(function, {engine.toScriptValue(state), lookup}).toString();
    }

    QJSEngine engine;
    QJSValue module;
    QJSValue lookup;
};

QVariantMap status(std::initializer_list<std::pair<const char *, QVariant>> values)
{
    QVariantMap map{{"isListening", false}, {"isSpeaking", false}, {"isVoiceSessionActive", false}, {"isBusy", false},
                    {"showSettings", false}, {"microphoneAuthorized", false}, {"state", "idle"}};
    for (const auto &[key, value] : values)
        map.insert(QString::fromLatin1(key), value);
    return map;
}

} // namespace

TEST_F(OverlayTexts, HeaderStatusTakesTheFirstRuleThatApplies)
{
    struct Case
    {
        QVariantMap state;
        const char *expected;
    };
    const Case cases[] = {
        {status({}), "[status.online]"},
        {status({{"isListening", true}, {"isSpeaking", true}, {"isVoiceSessionActive", true}}), "[status.listening]"},
        {status({{"isSpeaking", true}, {"isVoiceSessionActive", true}, {"isBusy", true}}), "[status.answering]"},
        {status({{"isVoiceSessionActive", true}, {"isBusy", true}, {"showSettings", true}}), "[status.thinking]"},
        {status({{"showSettings", true}, {"microphoneAuthorized", true}, {"state", "answered"}}), "[status.voiceReady]"},
        {status({{"showSettings", true}, {"microphoneAuthorized", false}}), "[status.checkPermissions]"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(QJsonDocument(QJsonObject::fromVariantMap(c.state)).toJson(QJsonDocument::Compact).toStdString());
        EXPECT_EQ(text("headerStatus", c.state), QString::fromLatin1(c.expected));
    }
}
