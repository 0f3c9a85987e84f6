#include "core/BuildInfo.h"
#include "core/Log.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

using namespace nimbel;

TEST(Log, RecordsAreKeyValueLinesInTheirCategory)
{
    test::LogCapture capture;
    log::info(log::requestRouting(),
              log::Record().add(u"requested_route", "screen").add(u"route", u"general").add(u"voice_session", false).add(u"total_ms", qint64(42)));
    log::error(log::gatewayPerformance(), QStringLiteral("vision failed"));

    ASSERT_EQ(capture.entries().size(), 2);
    EXPECT_EQ(capture.entries()[0].category, QString::fromUtf8(build::appId) + QStringLiteral(".RequestRouting"));
    EXPECT_EQ(capture.entries()[0].text, QStringLiteral("requested_route=screen route=general voice_session=false total_ms=42"));
    EXPECT_EQ(capture.entries()[0].type, QtInfoMsg);
    EXPECT_EQ(capture.entries()[1].type, QtCriticalMsg);
    EXPECT_EQ(capture.texts(QStringLiteral("GatewayPerformance")), QStringList{QStringLiteral("vision failed")});
}
