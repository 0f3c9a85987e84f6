#pragma once

#include "voice/SpeechActivity.h"
#include "voice/SpeechAudioDownsampler.h"
#include "voice/SpeechAudioPreRollBuffer.h"
#include "voice/WavFile.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace nimbel {

class LiveDraftSession;

// What one recording does with each input buffer: measure it, keep it in the
// pre-roll until speech starts, then convert and write it to the recording.
// Runs on the input's thread; the owner closes it after the input has stopped.
class SpeechTap
{
public:
    struct Outcome
    {
        SpeechActivityEvent event = SpeechActivityEvent::none;
        std::optional<float> level;
        // Opening, converting or writing failed; later buffers are ignored.
        bool failed = false;
    };

    SpeechTap(SpeechActivityMonitor &monitor, SpeechAudioPreRollBuffer &preRoll,
              std::unique_ptr<SpeechAudioDownsampler> downsampler, std::size_t channels, QString path,
              LiveDraftSession *draft = nullptr);

    Outcome process(const float *samples, std::size_t frames, double time);
    // Writes what the converter still holds and closes the file; true when a
    // file was written completely (or none was ever opened).
    bool close();
    bool hasFile() const { return m_writer.isOpen() || m_wroteFile; }

private:
    bool writeConverted(const float *samples, std::size_t frames);

    SpeechActivityMonitor &m_monitor;
    SpeechAudioPreRollBuffer &m_preRoll;
    std::unique_ptr<SpeechAudioDownsampler> m_downsampler;
    std::size_t m_channels;
    QString m_path;
    LiveDraftSession *m_draft;
    WavWriter m_writer;
    std::vector<std::int16_t> m_converted;
    bool m_failed = false;
    bool m_wroteFile = false;
};

} // namespace nimbel
