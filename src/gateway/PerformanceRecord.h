#pragma once

#include "core/Clock.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace nimbel {

// The timing and failure records written to the "GatewayPerformance" category.
namespace performance {

// "vision total_ms=… request_bytes=… response_bytes=… server_timing=…";
// server_timing is "-" when the response had no "Server-Timing" header.
QString visionRecord(Milliseconds total, qint64 requestBytes, qint64 responseBytes,
                     const std::optional<QByteArray> &serverTiming);
// "stt total_ms=… audio_bytes=… response_bytes=…"
QString transcriptionRecord(Milliseconds total, qint64 audioBytes, qint64 responseBytes);
// "tts total_ms=… text_chars=… audio_bytes=…"
QString synthesisRecord(Milliseconds total, qint64 textChars, qint64 audioBytes);
// "chat_stream_error reported=… question_chars=… sentences_before=…";
// reported is "(empty)" for an empty text.
QString chatStreamErrorRecord(const QString &reported, qint64 questionChars, bool sentencesBefore);

} // namespace performance
} // namespace nimbel
