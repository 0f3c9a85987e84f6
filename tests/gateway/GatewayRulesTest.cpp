#include "gateway/GatewayFailure.h"
#include "gateway/GatewayRules.h"
#include "gateway/TextRules.h"

#include <gtest/gtest.h>

using namespace nimbel;

TEST(GatewayRules, resolvesEndpointPathsDirectlyUnderTheHost)
{
    const auto resolved = [](const QString &base) {
        const auto url = endpointURL(base, u"/v1/desktop/config");
        return url ? url->toString() : QStringLiteral("<none>");
    };
    // (A base with a path, a query or a fragment: see the client tests.)
    EXPECT_EQ(resolved("https://platform.example/console?tab=2#agents"), "https://platform.example/v1/desktop/config");

    // Taken exactly as passed: no trimming, nothing unparseable, nothing a request could be sent to.
    for (const char *base : {"", " https://platform.example", "localhost:4100", "ftp://platform.example", "http://"})
        EXPECT_EQ(resolved(base), "<none>") << base;
}

TEST(GatewayRules, extractsTheServerErrorMessage)
{
    // Both shapes of a message are read in the client tests; here, what falls back.
    for (const QByteArray &body : {QByteArray(R"({"error":"","message":"ignored"})"), QByteArray(R"({"error":42})"),
                                   QByteArray("{\"error\":\"\xff\"}"), QByteArray(100, '[') + QByteArray(100, ']')})
        EXPECT_EQ(serverErrorMessage(body), "Request failed") << body.constData();
    EXPECT_EQ(serverErrorMessage(R"({"error":"Доступ запрещён"})"), u"Доступ запрещён"_qs);
}

TEST(VisionGatewayError, showsTheServersWordsOnlyWhereTheyAreMeantForTheOwner)
{
    using E = VisionGatewayError;
    // Statuses are covered against the server in the client tests.
    const QString generic = E::server(500, "Boom").description();
    EXPECT_EQ(E::agentUnavailable("runtime crashed").description(), generic);
    EXPECT_EQ(E::skillDisabled("Screen help is off.").description(), "Screen help is off.");
}

TEST(TextRules, countsAndCutsGraphemeClusters)
{
    const QString family = u"\U0001F468\u200D\U0001F469\u200D\U0001F467"_qs; // one emoji of five code points
    const QString accented = u"e\u0301"_qs;                                    // e + combining acute
    EXPECT_EQ(graphemeCount(family), 1);
    EXPECT_EQ(graphemeCount(accented + family + u"a"_qs), 3);

    const QString text = accented + family + u"xyz"_qs;
    EXPECT_EQ(leadingGraphemes(text, 2), accented + family);
    EXPECT_EQ(leadingGraphemes(text, 99), text);
    EXPECT_EQ(trailingGraphemes(text, 4), family + u"xyz"_qs);
    EXPECT_EQ(trailingGraphemes(text, 99), text);
}
