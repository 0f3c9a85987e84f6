#pragma once

#include "voice/AudioOutput.h"

namespace nimbel {

class PulseAudioServer;

// Plays decoded clips through PulseAudio playback streams on the default sink.
class PulseAudioPlayback final : public AudioOutput
{
public:
    explicit PulseAudioPlayback(PulseAudioServer &server);

    std::unique_ptr<AudioPlayer> play(std::shared_ptr<const DecodedAudio> audio, std::size_t startFrame,
                                      float volume) override;

private:
    PulseAudioServer &m_server;
};

} // namespace nimbel
