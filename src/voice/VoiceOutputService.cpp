#include "voice/VoiceOutputService.h"

#include "settings/Localized.h"
#include "voice/AudioClipDecoder.h"
#include "voice/AudioOutput.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace nimbel {

const char *VoiceOutputError::localizationKey() const
{
    return m_case == invalidAudio ? "error.voice.audio" : "error.voice.playback";
}

QString VoiceOutputError::message() const
{
    return L::text(localizationKey());
}

VoiceOutputService::VoiceOutputService(AudioOutput &output, Clock &clock)
    : m_output(output)
    , m_clock(clock)
{
}

VoiceOutputService::~VoiceOutputService() = default;

Result<double, VoiceOutputError> VoiceOutputService::play(const QByteArray &data, double skipping)
{
    if (data.isEmpty())
        return VoiceOutputError(VoiceOutputError::invalidAudio);
    stop();
    std::optional<DecodedAudio> decoded = audioClip::decode(data);
    if (!decoded)
        return VoiceOutputError(VoiceOutputError::invalidAudio);
    const double duration = decoded->duration();
    if (!std::isfinite(skipping))
        skipping = 0.0;
    const double offset = std::max(0.0, std::min(skipping, std::max(duration - 0.05, 0.0)));
    const auto startFrame = std::size_t(offset * decoded->sampleRate);
    auto audio = std::make_shared<const DecodedAudio>(std::move(*decoded));
    m_player = m_output.play(std::move(audio), startFrame, 1.0f);
    if (!m_player)
        return VoiceOutputError(VoiceOutputError::playbackFailed);
    ++m_playerSerial;
    return std::max(duration - offset, 0.05);
}

QCoro::Task<Result<Done, PlaybackFailure>> VoiceOutputService::playAndWait(QByteArray data, double skipping,
                                                                            std::stop_token token)
{
    const Result<double, VoiceOutputError> remaining = play(data, skipping);
    if (!remaining)
        co_return PlaybackFailure{remaining.error()};
    if (!m_player)
        co_return PlaybackFailure{VoiceOutputError::playbackFailed};
    const std::uint64_t serial = m_playerSerial;
    const auto wait = std::chrono::duration_cast<Milliseconds>(
        std::chrono::duration<double>(std::max(remaining.value(), 0.05)));
    const bool waited = co_await m_clock.sleep(std::max(wait, Milliseconds(50)), token);
    if (serial == m_playerSerial)
        stop();
    if (!waited || token.stop_requested())
        co_return PlaybackFailure{};
    co_return Done{};
}

void VoiceOutputService::stop()
{
    if (!m_player)
        return;
    m_player->stop();
    m_player.reset();
}

} // namespace nimbel
