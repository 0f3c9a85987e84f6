#include "screen/CaptureDateCodec.h"
#include "screen/CaptureMetadata.h"

#include <gtest/gtest.h>

#include <QTimeZone>

using namespace nimbel;
using json = nlohmann::ordered_json;

namespace {
QDateTime utc(int y, int mo, int d, int h, int mi, int s, int ms)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), Qt::UTC);
}

CaptureMetadata windowCapture()
{
    CaptureMetadata m;
    m.kind = CaptureKind::window;
    m.applicationName = QStringLiteral("Текстовый редактор");
    m.bundleIdentifier = QStringLiteral("org.example.Editor");
    m.windowTitle = QStringLiteral("notes.txt — Editor");
    m.logicalWidth = 1280.5;
    m.logicalHeight = 800;
    m.pixelWidth = 2048;
    m.pixelHeight = 1279;
    m.capturedAt = utc(2026, 12, 5, 15, 9, 25, 123);
    return m;
}
} // namespace

TEST(CaptureDateCodec, WritesUtcWithMillisecondsAndReadsOnlyThat)
{
    EXPECT_EQ(CaptureDateCodec::encode(utc(2026, 12, 5, 15, 9, 25, 123)), u"2026-12-05T15:09:25.123Z");
    // Other zones are written in UTC.
    const QDateTime moscow(QDate(2026, 12, 5), QTime(18, 9, 25, 450), QTimeZone("Europe/Moscow"));
    EXPECT_EQ(CaptureDateCodec::encode(moscow), u"2026-12-05T15:09:25.450Z");

    EXPECT_EQ(CaptureDateCodec::decode(u"2026-12-05T15:09:25.123Z"), utc(2026, 12, 5, 15, 9, 25, 123));
    EXPECT_EQ(CaptureDateCodec::decode(u"2026-12-05T15:09:25.123987Z"), utc(2026, 12, 5, 15, 9, 25, 123));
    const auto roundTrip = CaptureDateCodec::decode(CaptureDateCodec::encode(moscow));
    ASSERT_TRUE(roundTrip);
    EXPECT_EQ(*roundTrip, moscow);

    // No other form is read.
    for (const char16_t *text : {u"2026-12-05T15:09:25Z", u"2026-12-05T15:09:25.123+03:00", u"2026-02-30T15:09:25.123Z",
                                 u""})
        EXPECT_FALSE(CaptureDateCodec::decode(QStringView(text))) << QString::fromUtf16(text).toStdString();
}

TEST(CaptureMetadata, DecodesWhatItEncodesAndRejectsBrokenRecords)
{
    const CaptureMetadata original = windowCapture();
    EXPECT_EQ(CaptureMetadata::fromJson(json::parse(original.toJson().dump())), original);

    // Key order does not matter when reading; null reads as absent; integral
    // logical sizes are numbers too.
    const json reordered = json::parse(R"({"captured_at":"2026-12-05T15:09:25.123Z","pixel_height":600,
        "pixel_width":1000,"logical_height":300,"logical_width":500,"window_title":null,"kind":"display"})");
    const auto decoded = CaptureMetadata::fromJson(reordered);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->kind, CaptureKind::display);
    EXPECT_EQ(decoded->windowTitle, std::nullopt);
    EXPECT_EQ(decoded->logicalWidth, 500);

    const auto broken = [&](const char *key, json value) {
        json j = original.toJson();
        if (value.is_discarded())
            j.erase(key);
        else
            j[key] = value;
        return !CaptureMetadata::fromJson(j).has_value();
    };
    const json missing = json(json::value_t::discarded);
    for (const char *key : {"kind", "logical_width", "logical_height", "pixel_width", "pixel_height", "captured_at"})
        EXPECT_TRUE(broken(key, missing)) << key;
    EXPECT_TRUE(broken("kind", "screen"));
    EXPECT_TRUE(broken("pixel_width", 12.5));
    EXPECT_TRUE(broken("pixel_height", 1LL << 40));
    EXPECT_FALSE(CaptureMetadata::fromJson(json::array()).has_value());
}
