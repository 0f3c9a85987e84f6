#pragma once

#include "voice/AudioOutput.h"

namespace nimbel {

class EchoCanceller;
class PulseAudioServer;

// Plays decoded clips through PulseAudio playback streams on the default sink.
class PulseAudioPlayback final : public AudioOutput
{
public:
    explicit PulseAudioPlayback(PulseAudioServer &server);

    // Players started from now on hand what they write to `canceller` as its
    // reference; it must outlive them.
    void setEchoCanceller(EchoCanceller *canceller) { m_echoCanceller = canceller; }

    std::unique_ptr<AudioPlayer> play(std::shared_ptr<const DecodedAudio> audio, std::size_t startFrame,
                                      float volume, bool held) override;

private:
    PulseAudioServer &m_server;
    EchoCanceller *m_echoCanceller = nullptr;
};

} // namespace nimbel
