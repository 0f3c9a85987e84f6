#include "gateway/GatewayFailure.h"
#include "gateway/GatewayRules.h"
#include "gateway/TextRules.h"
#include "settings/Localized.h"

#include <gtest/gtest.h>

using namespace nimbel;

TEST(GatewayRules, resolvesEndpointPathsDirectlyUnderTheHost)
{
    const auto resolved = [](const QString &base) {
        const auto url = endpointURL(base, u"/v1/desktop/config");
        return url ? url->toString() : QStringLiteral("<none>");
    };
    EXPECT_EQ(resolved("http://127.0.0.1:4100"), "http://127.0.0.1:4100/v1/desktop/config");
    EXPECT_EQ(resolved("https://platform.example/app/"), "https://platform.example/v1/desktop/config");
    EXPECT_EQ(resolved("https://platform.example/console?tab=2#agents"), "https://platform.example/v1/desktop/config");
    EXPECT_EQ(resolved("https://platform.example/console/"), "https://platform.example/v1/desktop/config");

    // Taken exactly as passed: no trimming, nothing unparseable.
    EXPECT_EQ(resolved(""), "<none>");
    EXPECT_EQ(resolved(" https://platform.example"), "<none>");
    EXPECT_EQ(resolved("not a url"), "<none>");
    EXPECT_EQ(resolved("http://exa mple.com"), "<none>");
    // Parses, but there is nothing an HTTP request could be sent to.
    EXPECT_EQ(resolved("localhost:4100"), "<none>");
    EXPECT_EQ(resolved("ftp://platform.example"), "<none>");
    EXPECT_EQ(resolved("http://"), "<none>");
    EXPECT_EQ(resolved("/v1"), "<none>");
}

TEST(GatewayRules, extractsTheServerErrorMessage)
{
    EXPECT_EQ(serverErrorMessage(R"({"error":"Invalid key"})"), "Invalid key");
    EXPECT_EQ(serverErrorMessage(R"({"error":{"message":"Agent paused","code":7}})"), "Agent paused");
    EXPECT_EQ(serverErrorMessage(R"({"error":"","message":"ignored"})"), "Request failed");
    EXPECT_EQ(serverErrorMessage(R"({"error":{"message":""}})"), "Request failed");
    EXPECT_EQ(serverErrorMessage(R"({"error":{"detail":"x"}})"), "Request failed");
    EXPECT_EQ(serverErrorMessage(R"({"error":42})"), "Request failed");
    EXPECT_EQ(serverErrorMessage(R"({"message":"not here"})"), "Request failed");
    EXPECT_EQ(serverErrorMessage(R"(["error"])"), "Request failed");
    EXPECT_EQ(serverErrorMessage("<html>Bad gateway</html>"), "Request failed");
    EXPECT_EQ(serverErrorMessage(""), "Request failed");
    EXPECT_EQ(serverErrorMessage("{\"error\":\"\xff\"}"), "Request failed");
    EXPECT_EQ(serverErrorMessage(QByteArray(100, '[') + QByteArray(100, ']')), "Request failed");
    EXPECT_EQ(serverErrorMessage(R"({"error":"Доступ запрещён"})"), u"Доступ запрещён"_qs);
}

TEST(GatewayRules, mapsOnlyConnectionFailuresToConnectionFailed)
{
    for (auto code : {QNetworkReply::ConnectionRefusedError, QNetworkReply::HostNotFoundError,
                      QNetworkReply::RemoteHostClosedError, QNetworkReply::TimeoutError,
                      QNetworkReply::TemporaryNetworkFailureError, QNetworkReply::NetworkSessionFailedError})
        EXPECT_TRUE(isConnectionError(code)) << code;
    for (auto code : {QNetworkReply::SslHandshakeFailedError, QNetworkReply::OperationCanceledError,
                      QNetworkReply::TooManyRedirectsError, QNetworkReply::InsecureRedirectError,
                      QNetworkReply::ProxyConnectionRefusedError, QNetworkReply::UnknownNetworkError,
                      QNetworkReply::ProtocolFailure, QNetworkReply::NoError})
        EXPECT_FALSE(isConnectionError(code)) << code;
}

TEST(GatewayRules, refusesKeysThatWouldWriteHeaders)
{
    EXPECT_TRUE(isTransmittableKey(u"zelm-abc.DEF_123"));
    EXPECT_FALSE(isTransmittableKey(u"zelm-abc\r\nX-Injected: 1"));
    EXPECT_FALSE(isTransmittableKey(u"zelm-abc\ndef"));
    EXPECT_FALSE(isTransmittableKey(u"zelm\x7f"));
}

TEST(VisionGatewayError, showsTheServersWordsOnlyWhereTheyAreMeantForTheOwner)
{
    using E = VisionGatewayError;
    const QString generic = E::server(500, "Boom").description();
    for (const E &hidden : {E::server(401, "Invalid key"), E::agentUnavailable("runtime crashed")})
        EXPECT_EQ(hidden.description(), generic);
    EXPECT_EQ(E::server(403, "Agent is disabled").description(), "Agent is disabled");
    EXPECT_EQ(E::skillDisabled("Screen help is off.").description(), "Screen help is off.");

    // Fixed texts follow the interface language: English owners never read the Russian ones.
    ASSERT_TRUE(installTranslations(AppLanguage::en));
    EXPECT_EQ(E::notConnected().description(), u"Connect Tolvo Agent on the Zelm Platform page."_qs);
    ASSERT_TRUE(installTranslations(AppLanguage::ru));
    EXPECT_EQ(E::notConnected().description(), u"Подключите Tolvo Agent на странице Zelm Platform."_qs);
    EXPECT_EQ(E::connectionFailed().description(),
              u"Не удалось подключиться к Zelm Platform. Для local beta запустите платформу на порту 4100."_qs);
    installTranslations(AppLanguage::en);

    // A passed-on transport error keeps Qt's code and shows Qt's text.
    const GatewayFailure tls = GatewayFailure::transport(QNetworkReply::SslHandshakeFailedError, "SSL handshake failed");
    EXPECT_EQ(tls.transportError()->code, QNetworkReply::SslHandshakeFailedError);
    EXPECT_EQ(tls.toDescription().message, "SSL handshake failed");
    EXPECT_EQ(GatewayFailure(E::server(502, "x")).toDescription().message, generic);
}

TEST(TextRules, countsAndCutsGraphemeClusters)
{
    const QString family = u"\U0001F468\u200D\U0001F469\u200D\U0001F467"_qs; // one emoji of five code points
    const QString accented = u"e\u0301"_qs;                                    // e + combining acute
    EXPECT_EQ(graphemeCount(QString()), 0);
    EXPECT_EQ(graphemeCount(u"Привет"_qs), 6);
    EXPECT_EQ(graphemeCount(family), 1);
    EXPECT_EQ(graphemeCount(accented + family + u"a"_qs), 3);

    const QString text = accented + family + u"xyz"_qs;
    EXPECT_EQ(leadingGraphemes(text, 2), accented + family);
    EXPECT_EQ(leadingGraphemes(text, 0), QString());
    EXPECT_EQ(leadingGraphemes(text, 99), text);
    EXPECT_EQ(trailingGraphemes(text, 4), family + u"xyz"_qs);
    EXPECT_EQ(trailingGraphemes(text, 0), QString());
    EXPECT_EQ(trailingGraphemes(text, 99), text);
}

TEST(TextRules, detectsTheLanguageFromCyrillicLettersOfTheClass)
{
    EXPECT_EQ(wireLanguage(u"Open settings"_qs), "en");
    EXPECT_EQ(wireLanguage(u"Open настройки"_qs), "ru");
    EXPECT_EQ(wireLanguage(u"x ё"_qs), "ru");
    EXPECT_EQ(wireLanguage(u"Ё"_qs), "ru");
    EXPECT_EQ(wireLanguage(u"А"_qs), "ru");
    EXPECT_EQ(wireLanguage(u"я"_qs), "ru");
    // Cyrillic letters outside [А-Яа-яЁё] do not count.
    EXPECT_EQ(wireLanguage(u"ї є ђ"_qs), "en");
    EXPECT_EQ(wireLanguage(QString()), "en");
}
