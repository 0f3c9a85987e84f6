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

// CaptureMetadata::fromJson and CaptureDateCodec::decode serve only this round trip: what
// is sent is read by the local platform's payload check in the end-to-end tests.
TEST(CaptureMetadata, WritesUtcWithMillisecondsAndReadsBackWhatItWrites)
{
    EXPECT_EQ(CaptureDateCodec::encode(utc(2026, 12, 5, 15, 9, 25, 123)), u"2026-12-05T15:09:25.123Z");
    // Other zones are written in UTC.
    const QDateTime moscow(QDate(2026, 12, 5), QTime(18, 9, 25, 450), QTimeZone("Europe/Moscow"));
    EXPECT_EQ(CaptureDateCodec::encode(moscow), u"2026-12-05T15:09:25.450Z");
    EXPECT_EQ(CaptureDateCodec::decode(CaptureDateCodec::encode(moscow)), moscow);

    const CaptureMetadata original = windowCapture();
    EXPECT_EQ(CaptureMetadata::fromJson(json::parse(original.toJson().dump())), original);
    EXPECT_FALSE(CaptureMetadata::fromJson(json::array()).has_value());
}
