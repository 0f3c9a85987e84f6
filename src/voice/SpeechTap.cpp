#include "voice/SpeechTap.h"

#include "voice/AudioInput.h"

namespace nimbel {

SpeechTap::SpeechTap(SpeechActivityMonitor &monitor, SpeechAudioPreRollBuffer &preRoll,
                     std::unique_ptr<SpeechAudioDownsampler> downsampler, std::size_t channels, QString path,
                     LiveDraftSession *draft)
    : m_monitor(monitor)
    , m_preRoll(preRoll)
    , m_downsampler(std::move(downsampler))
    , m_channels(channels)
    , m_path(std::move(path))
    , m_draft(draft)
{
    // One buffer of 1024 frames at up to 192 kHz converts to well under this.
    m_converted.reserve(8192);
}

SpeechTap::Outcome SpeechTap::process(const float *samples, std::size_t frames, double time)
{
    Outcome outcome;
    if (m_failed)
        return outcome;
    outcome.level = speechLevel(samples, frames, m_channels);
    outcome.event = outcome.level ? m_monitor.observeLevel(*outcome.level, time) : SpeechActivityEvent::none;

    if (!m_writer.isOpen())
        m_preRoll.append(samples, frames, m_channels);

    bool ok = true;
    if (outcome.event == SpeechActivityEvent::speechStarted && !m_writer.isOpen()) {
        ok = m_writer.open(m_path);
        if (ok) {
            m_wroteFile = true;
            // The pre-roll now ends with this very buffer.
            for (const AudioBuffer &buffer : m_preRoll.drain()) {
                if (!(ok = writeConverted(buffer.samples.data(), buffer.frames())))
                    break;
            }
        }
    } else if (m_writer.isOpen()) {
        ok = writeConverted(samples, frames);
    }
    if (!ok) {
        m_failed = true;
        outcome.failed = true;
        outcome.event = SpeechActivityEvent::none;
    }
    return outcome;
}

bool SpeechTap::writeConverted(const float *samples, std::size_t frames)
{
    m_converted.clear();
    if (!m_downsampler->convert(samples, frames, m_converted).ok())
        return false;
    if (m_converted.empty())
        return true;
    if (m_draft)
        m_draft->append(m_converted.data(), m_converted.size());
    return m_writer.write(m_converted.data(), m_converted.size());
}

bool SpeechTap::close()
{
    if (!m_writer.isOpen())
        return !m_failed;
    bool ok = !m_failed;
    if (ok) {
        m_converted.clear();
        ok = m_downsampler->flush(m_converted).ok() && m_writer.write(m_converted.data(), m_converted.size());
    }
    return m_writer.close() && ok;
}

} // namespace nimbel
