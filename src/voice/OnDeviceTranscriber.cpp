#include "voice/OnDeviceTranscriber.h"

#include "core/Log.h"
#include "settings/Localized.h"
#include "voice/SpeechAudioDownsampler.h"
#include "voice/SpeechRecognizer.h"
#include "voice/WavFile.h"

#include <QCoro/QCoroFuture>
#include <QElapsedTimer>
#include <QtConcurrent/QtConcurrentRun>

namespace nimbel {

namespace {

// The recording as 16 kHz mono samples; nothing when it is not a readable WAVE file.
std::optional<std::vector<std::int16_t>> recordingSamples(const QByteArray &wavData)
{
    const std::optional<DecodedAudio> decoded = wav::decode(wavData);
    if (!decoded)
        return std::nullopt;
    auto downsampler = SpeechAudioDownsampler::create(decoded->sampleRate, decoded->audio.channels);
    if (!downsampler)
        return std::nullopt;
    std::vector<std::int16_t> samples;
    if (!downsampler.value()->convert(decoded->audio.samples.data(), decoded->audio.frames(), samples).ok()
        || !downsampler.value()->flush(samples).ok())
        return std::nullopt;
    return samples;
}

} // namespace

const char *OnDeviceTranscriber::TranscriberError::localizationKey() const
{
    switch (m_case) {
    case unavailable:
        return "error.localstt.unavailable";
    case notAuthorized:
        return "error.localstt.denied";
    case emptyTranscript:
        break;
    }
    return "error.localstt.empty";
}

QString OnDeviceTranscriber::TranscriberError::message() const
{
    return m_case == unavailable ? L::errorLocalSpeechUnavailable(m_locale) : L::text(localizationKey());
}

ZelmRecovery OnDeviceTranscriber::TranscriberError::recovery() const
{
    return m_case == notAuthorized ? ZelmRecovery::voicePrivacySettings : ZelmRecovery::none;
}

OnDeviceTranscriber::OnDeviceTranscriber(SpeechRecognizer &recognizer)
    : m_recognizer(recognizer)
{
}

QString OnDeviceTranscriber::locale(const QString &language)
{
    return language.toLower().startsWith(u"ru") ? QStringLiteral("ru-RU") : QStringLiteral("en-US");
}

QCoro::Task<Result<QString, OnDeviceTranscriber::TranscriberError>>
OnDeviceTranscriber::transcribe(QByteArray wavData, QString language)
{
    if (!requestAuthorization())
        co_return TranscriberError(TranscriberError::notAuthorized);
    const QString localeID = locale(language);
    if (!m_recognizer.supports(localeID))
        co_return TranscriberError::unavailableFor(localeID);

    QElapsedTimer elapsed;
    elapsed.start();
    SpeechRecognizer *recognizer = &m_recognizer;
    // The recording is recognised from memory: nothing of it is written to disk.
    // A named future: GCC 12 releases a temporary one awaited in place twice.
    auto future = QtConcurrent::run([recognizer, localeID, wavData = std::move(wavData)]() -> std::optional<QString> {
        const std::optional<std::vector<std::int16_t>> samples = recordingSamples(wavData);
        if (!samples)
            return std::nullopt;
        return recognizer->recognize(localeID, *samples);
    });
    const std::optional<QString> text = co_await future;
    const QString trimmed = text.value_or(QString()).trimmed();
    log::info(log::onDeviceStt(), QStringLiteral("on-device stt ") + log::Record()
                                                                      .add(u"total_ms", elapsed.elapsed())
                                                                      .add(u"on_device", true)
                                                                      .add(u"chars", trimmed.size())
                                                                      .text());
    if (trimmed.isEmpty())
        co_return TranscriberError(TranscriberError::emptyTranscript);
    co_return trimmed;
}

} // namespace nimbel
