#include "gateway/PerformanceRecord.h"

#include "core/Log.h"

namespace nimbel::performance {

namespace {
QString line(QStringView name, const log::Record &record)
{
    return name.toString() + u' ' + record.text();
}
} // namespace

QString visionRecord(Milliseconds total, qint64 requestBytes, qint64 responseBytes,
                     const std::optional<QByteArray> &serverTiming)
{
    return line(u"vision", log::Record()
                               .add(u"total_ms", qint64(total.count()))
                               .add(u"request_bytes", requestBytes)
                               .add(u"response_bytes", responseBytes)
                               .add(u"server_timing", serverTiming ? QString::fromUtf8(*serverTiming) : QStringLiteral("-")));
}

QString transcriptionRecord(Milliseconds total, qint64 audioBytes, qint64 responseBytes)
{
    return line(u"stt", log::Record()
                            .add(u"total_ms", qint64(total.count()))
                            .add(u"audio_bytes", audioBytes)
                            .add(u"response_bytes", responseBytes));
}

QString synthesisRecord(Milliseconds total, qint64 textChars, qint64 audioBytes)
{
    return line(u"tts", log::Record()
                            .add(u"total_ms", qint64(total.count()))
                            .add(u"text_chars", textChars)
                            .add(u"audio_bytes", audioBytes));
}

QString chatStreamErrorRecord(const QString &reported, qint64 questionChars, bool sentencesBefore)
{
    return line(u"chat_stream_error", log::Record()
                                          .add(u"reported", reported.isEmpty() ? QStringLiteral("(empty)") : reported)
                                          .add(u"question_chars", questionChars)
                                          .add(u"sentences_before", sentencesBefore ? 1 : 0));
}

} // namespace nimbel::performance
