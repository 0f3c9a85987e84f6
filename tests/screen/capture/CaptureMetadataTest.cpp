#include "screen/CaptureDateCodec.h"
#include "screen/CaptureMetadata.h"

#include <gtest/gtest.h>

#include <QTimeZone>

using namespace nimbel;

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

TEST(CaptureMetadata, WritesItsFieldsInOrderWithUtcDatesToTheMillisecond)
{
    EXPECT_EQ(CaptureDateCodec::encode(utc(2026, 12, 5, 15, 9, 25, 123)), u"2026-12-05T15:09:25.123Z");
    // Other zones are written in UTC.
    const QDateTime moscow(QDate(2026, 12, 5), QTime(18, 9, 25, 450), QTimeZone("Europe/Moscow"));
    EXPECT_EQ(CaptureDateCodec::encode(moscow), u"2026-12-05T15:09:25.450Z");

    EXPECT_EQ(windowCapture().toJson().dump(),
              R"({"kind":"window","application_name":"Текстовый редактор","bundle_identifier":"org.example.Editor",)"
              R"("window_title":"notes.txt — Editor","logical_width":1280.5,"logical_height":800.0,)"
              R"("pixel_width":2048,"pixel_height":1279,"captured_at":"2026-12-05T15:09:25.123Z"})");
    // A display capture names no application or window: those keys are left out, not null.
    CaptureMetadata display = windowCapture();
    display.kind = CaptureKind::display;
    display.applicationName.reset();
    display.bundleIdentifier.reset();
    display.windowTitle.reset();
    EXPECT_EQ(display.toJson().dump(),
              R"({"kind":"display","logical_width":1280.5,"logical_height":800.0,"pixel_width":2048,)"
              R"("pixel_height":1279,"captured_at":"2026-12-05T15:09:25.123Z"})");
}
