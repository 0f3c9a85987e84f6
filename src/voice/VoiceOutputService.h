#pragma once

#include "core/Clock.h"
#include "core/ErrorDescription.h"
#include "core/Result.h"

#include <QByteArray>
#include <QCoro/QCoroTask>

#include <cstdint>
#include <memory>
#include <optional>
#include <stop_token>

namespace nimbel {

class AudioOutput;
class AudioPlayer;

class VoiceOutputError
{
public:
    enum Case { invalidAudio, playbackFailed };

    VoiceOutputError(Case value)
        : m_case(value)
    {
    }

    Case value() const { return m_case; }
    const char *localizationKey() const;
    QString message() const;
    ErrorDescription toDescription() const { return {message(), ZelmRecovery::none, false}; }
    bool operator==(const VoiceOutputError &) const = default;

private:
    Case m_case;
};

// How a wait for a clip ended when it did not end by playing out.
struct PlaybackFailure
{
    // None: the wait was cancelled.
    std::optional<VoiceOutputError> error;

    bool cancelled() const { return !error; }
    bool operator==(const PlaybackFailure &) const = default;
};

// Plays one spoken clip at a time (MP3 or RIFF WAVE) from a start offset.
class VoiceOutputService
{
public:
    VoiceOutputService(AudioOutput &output, Clock &clock);
    ~VoiceOutputService();

    // Starts `data` from `skipping` seconds in, replacing whatever played;
    // returns the seconds left to play (at least 0.05).
    Result<double, VoiceOutputError> play(const QByteArray &data, double skipping);
    // Plays and waits for the clip's duration. A stop of `token` silences the
    // clip at once and ends the wait as cancelled.
    QCoro::Task<Result<Done, PlaybackFailure>> playAndWait(QByteArray data, double skipping,
                                                           std::stop_token token = {});
    // Silences the current clip at once.
    void stop();
    bool isPlaying() const { return m_player != nullptr; }
    // Pauses the current clip, and any clip started meanwhile, until released;
    // a wait for a clip lasts as much longer as it was held.
    void setHeld(bool held);
    bool isHeld() const { return m_heldSince.has_value(); }

private:
    // Time held so far, the current hold included.
    Milliseconds heldTime() const;

    AudioOutput &m_output;
    Clock &m_clock;
    std::unique_ptr<AudioPlayer> m_player;
    std::uint64_t m_playerSerial = 0;
    std::optional<Milliseconds> m_heldSince;
    Milliseconds m_heldBefore{0};
};

} // namespace nimbel
