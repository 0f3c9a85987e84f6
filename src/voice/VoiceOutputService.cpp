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
    m_player = m_output.play(std::move(audio), startFrame, 1.0f, isHeld());
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
    auto wait = std::chrono::duration_cast<Milliseconds>(
        std::chrono::duration<double>(std::max(remaining.value(), 0.05)));
    // The clip plays on after a hold: each hold found at the end of a wait
    // adds its length to the wait.
    Milliseconds heldCounted = heldTime();
    for (;;) {
        const bool waited = co_await m_clock.sleep(std::max(wait, Milliseconds(50)), token);
        if (!waited || token.stop_requested()) {
            if (serial == m_playerSerial)
                stop();
            co_return PlaybackFailure{};
        }
        if (serial != m_playerSerial)
            break;
        const Milliseconds held = heldTime();
        if (held == heldCounted && !isHeld())
            break;
        wait = held - heldCounted;
        heldCounted = held;
    }
    if (serial == m_playerSerial)
        stop();
    co_return Done{};
}

void VoiceOutputService::setHeld(bool held)
{
    if (held == isHeld())
        return;
    const Milliseconds now = m_clock.uptime();
    if (held) {
        m_heldSince = now;
    } else {
        m_heldBefore += now - *m_heldSince;
        m_heldSince.reset();
    }
    if (m_player)
        m_player->setHeld(held);
}

Milliseconds VoiceOutputService::heldTime() const
{
    return m_heldBefore + (m_heldSince ? m_clock.uptime() - *m_heldSince : Milliseconds(0));
}

void VoiceOutputService::stop()
{
    if (!m_player)
        return;
    m_player->stop();
    m_player.reset();
}

} // namespace nimbel
