#include "voice/WavFile.h"

#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <unistd.h>

namespace nimbel {

namespace {

void putU32(char *at, std::uint32_t value)
{
    qToLittleEndian(value, at);
}

void putU16(char *at, std::uint16_t value)
{
    qToLittleEndian(value, at);
}

bool writeAll(int fd, const char *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= std::size_t(written);
    }
    return true;
}

// The largest data size a RIFF header can state.
constexpr std::uint64_t maximumDataBytes = std::numeric_limits<std::uint32_t>::max() - 36;

} // namespace

namespace wav {

QByteArray recordingHeader(std::uint32_t dataBytes)
{
    QByteArray header(int(headerSize), '\0');
    char *h = header.data();
    std::memcpy(h, "RIFF", 4);
    putU32(h + 4, 36 + dataBytes);
    std::memcpy(h + 8, "WAVE", 4);
    std::memcpy(h + 12, "fmt ", 4);
    putU32(h + 16, 16);
    putU16(h + 20, 1);                   // PCM
    putU16(h + 22, 1);                   // mono
    putU32(h + 24, recordingRate);
    putU32(h + 28, recordingRate * 2);   // byte rate
    putU16(h + 32, 2);                   // block align
    putU16(h + 34, 16);                  // bits per sample
    std::memcpy(h + 36, "data", 4);
    putU32(h + 40, dataBytes);
    return header;
}

QByteArray encodeRecording(const std::int16_t *samples, std::size_t count)
{
    QByteArray file = recordingHeader(std::uint32_t(count * 2));
    file.reserve(int(headerSize + count * 2));
    for (std::size_t i = 0; i < count; ++i) {
        char bytes[2];
        qToLittleEndian(samples[i], bytes);
        file.append(bytes, 2);
    }
    return file;
}

std::optional<DecodedAudio> decode(const QByteArray &data)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(data.constData());
    const std::size_t size = std::size_t(data.size());
    if (size < 12 || std::memcmp(bytes, "RIFF", 4) != 0 || std::memcmp(bytes + 8, "WAVE", 4) != 0)
        return std::nullopt;

    std::uint16_t format = 0, channels = 0, bits = 0;
    std::uint32_t rate = 0;
    bool haveFormat = false;
    std::size_t at = 12;
    while (at + 8 <= size) {
        const std::uint32_t chunkSize = qFromLittleEndian<std::uint32_t>(bytes + at + 4);
        const unsigned char *body = bytes + at + 8;
        const std::size_t available = size - (at + 8);
        if (std::memcmp(bytes + at, "fmt ", 4) == 0) {
            if (chunkSize < 16 || available < 16)
                return std::nullopt;
            format = qFromLittleEndian<std::uint16_t>(body);
            channels = qFromLittleEndian<std::uint16_t>(body + 2);
            rate = qFromLittleEndian<std::uint32_t>(body + 4);
            bits = qFromLittleEndian<std::uint16_t>(body + 14);
            // WAVE_FORMAT_EXTENSIBLE names the real format in its sub-format GUID.
            if (format == 0xFFFE && chunkSize >= 26 && available >= 26)
                format = qFromLittleEndian<std::uint16_t>(body + 24);
            haveFormat = true;
        } else if (std::memcmp(bytes + at, "data", 4) == 0) {
            if (!haveFormat || channels == 0 || rate == 0)
                return std::nullopt;
            const bool pcm = format == 1 && (bits == 8 || bits == 16 || bits == 24 || bits == 32);
            const bool floating = format == 3 && bits == 32;
            if (!pcm && !floating)
                return std::nullopt;
            // A streamed file may state a size beyond its end: read what is there.
            const std::size_t dataBytes = std::min<std::size_t>(chunkSize, available);
            const std::size_t width = bits / 8;
            const std::size_t count = dataBytes / width / channels * channels;
            DecodedAudio decoded;
            decoded.sampleRate = rate;
            decoded.audio.channels = channels;
            decoded.audio.samples.resize(count);
            float *out = decoded.audio.samples.data();
            for (std::size_t i = 0; i < count; ++i) {
                const unsigned char *s = body + i * width;
                if (floating) {
                    const std::uint32_t raw = qFromLittleEndian<std::uint32_t>(s);
                    float value;
                    std::memcpy(&value, &raw, 4);
                    // A damaged file must not reach the speakers as NaN or
                    // far beyond full scale.
                    out[i] = std::isfinite(value) ? std::clamp(value, -1.0f, 1.0f) : 0.0f;
                } else if (bits == 8) {
                    out[i] = (float(s[0]) - 128.0f) / 128.0f;
                } else if (bits == 16) {
                    out[i] = float(qFromLittleEndian<std::int16_t>(s)) / 32768.0f;
                } else if (bits == 24) {
                    const std::int32_t v = std::int32_t(std::uint32_t(s[0]) << 8 | std::uint32_t(s[1]) << 16
                                                        | std::uint32_t(s[2]) << 24)
                                           >> 8;
                    out[i] = float(v) / 8388608.0f;
                } else {
                    out[i] = float(double(qFromLittleEndian<std::int32_t>(s)) / 2147483648.0);
                }
            }
            return decoded;
        }
        const std::size_t next = at + 8 + std::size_t(chunkSize) + (chunkSize & 1);
        if (next <= at)
            return std::nullopt;
        at = next;
    }
    return std::nullopt;
}

} // namespace wav

WavWriter::~WavWriter()
{
    close();
}

bool WavWriter::open(const QString &path)
{
    close();
    const QByteArray native = path.toLocal8Bit();
    m_fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (m_fd < 0)
        return false;
    m_dataBytes = 0;
    const QByteArray header = wav::recordingHeader(0);
    if (!writeAll(m_fd, header.constData(), std::size_t(header.size()))) {
        ::close(m_fd);
        m_fd = -1;
        return false;
    }
    return true;
}

bool WavWriter::write(const std::int16_t *samples, std::size_t count)
{
    if (m_fd < 0)
        return false;
    if (count == 0)
        return true;
    if (m_dataBytes + count * 2 > maximumDataBytes)
        return false;
    static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "samples are written as they lie in memory");
    if (!writeAll(m_fd, reinterpret_cast<const char *>(samples), count * 2))
        return false;
    m_dataBytes += count * 2;
    return true;
}

bool WavWriter::close()
{
    if (m_fd < 0)
        return true;
    const QByteArray header = wav::recordingHeader(std::uint32_t(m_dataBytes));
    bool ok = ::pwrite(m_fd, header.constData(), std::size_t(header.size()), 0) == header.size();
    ok = ::close(m_fd) == 0 && ok;
    m_fd = -1;
    return ok;
}

} // namespace nimbel
