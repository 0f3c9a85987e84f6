#pragma once

#include "voice/AudioBuffer.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>

namespace nimbel {

// RIFF WAVE in the recording format: PCM, 16-bit signed little-endian, mono, 16 kHz.
namespace wav {

inline constexpr int recordingRate = 16000;
inline constexpr std::size_t headerSize = 44;

// The canonical 44-byte header of `dataBytes` bytes of recording samples.
QByteArray recordingHeader(std::uint32_t dataBytes);

// A whole file in the recording format.
QByteArray encodeRecording(const std::int16_t *samples, std::size_t count);

// Reads a RIFF WAVE file of 8/16/24/32-bit PCM or 32-bit float samples, any
// rate and channel count; nothing for anything else or a damaged file.
std::optional<DecodedAudio> decode(const QByteArray &data);

} // namespace wav

// Writes one recording as it is spoken. The file is created anew, readable
// and writable by the owner only; the header's sizes are filled in on close.
class WavWriter
{
public:
    WavWriter() = default;
    ~WavWriter();
    WavWriter(const WavWriter &) = delete;
    WavWriter &operator=(const WavWriter &) = delete;

    // False when the file exists already or cannot be created.
    bool open(const QString &path);
    bool write(const std::int16_t *samples, std::size_t count);
    // Completes the header and closes; false when that failed.
    bool close();
    bool isOpen() const { return m_fd >= 0; }
    std::uint64_t dataBytes() const { return m_dataBytes; }

private:
    int m_fd = -1;
    std::uint64_t m_dataBytes = 0;
};

} // namespace nimbel
