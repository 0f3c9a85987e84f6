#include "WavAudio.h"

#include <optional>

namespace nimbel::localplatform {

namespace {

std::uint32_t u32(std::string_view b, std::size_t at)
{
    return static_cast<std::uint32_t>(static_cast<unsigned char>(b[at]))
        | static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8
        | static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16
        | static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24;
}

std::uint16_t u16(std::string_view b, std::size_t at)
{
    return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at])
                                      | static_cast<unsigned char>(b[at + 1]) << 8);
}

constexpr std::uint16_t formatPCM = 1;
constexpr std::uint16_t formatExtensible = 0xFFFE;

struct Format
{
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint16_t bitsPerSample = 0;
};

} // namespace

Result<PcmAudio, Failure> parseWav(std::string_view bytes)
{
    if (bytes.size() < 12 || bytes.substr(0, 4) != "RIFF" || bytes.substr(8, 4) != "WAVE")
        return Failure{"not a RIFF WAVE file"};

    std::optional<Format> format;
    std::size_t at = 12;
    while (at + 8 <= bytes.size()) {
        const std::string_view id = bytes.substr(at, 4);
        const std::uint32_t size = u32(bytes, at + 4);
        const std::size_t body = at + 8;
        if (id == "fmt ") {
            if (size < 16 || body + size > bytes.size())
                return Failure{"the \"fmt \" chunk is truncated"};
            const std::uint16_t tag = u16(bytes, body);
            Format f{u16(bytes, body + 2), u32(bytes, body + 4), u16(bytes, body + 14)};
            bool pcm = tag == formatPCM;
            if (tag == formatExtensible) {
                // The sub-format GUID starts with the plain format tag.
                if (size < 40)
                    return Failure{"the extensible \"fmt \" chunk is truncated"};
                pcm = u16(bytes, body + 24) == formatPCM;
            }
            if (!pcm)
                return Failure{"only PCM audio is accepted"};
            if (f.bitsPerSample != 16)
                return Failure{"only 16-bit samples are accepted"};
            if (f.channels < 1 || f.channels > 2)
                return Failure{"only mono or stereo audio is accepted"};
            if (f.sampleRate == 0)
                return Failure{"the sample rate is zero"};
            format = f;
        } else if (id == "data") {
            if (!format)
                return Failure{"the \"data\" chunk comes before \"fmt \""};
            std::size_t available = bytes.size() - body;
            std::size_t length = size <= available ? size : available;
            const std::size_t frame = 2u * format->channels;
            length -= length % frame;
            PcmAudio audio;
            audio.sampleRate = static_cast<int>(format->sampleRate);
            audio.channels = format->channels;
            audio.samples.reserve(length / frame);
            for (std::size_t i = body; i + frame <= body + length; i += frame) {
                int sum = 0;
                for (std::size_t c = 0; c < format->channels; ++c)
                    sum += static_cast<std::int16_t>(u16(bytes, i + 2 * c));
                audio.samples.push_back(static_cast<std::int16_t>(sum / format->channels));
            }
            return audio;
        }
        // Chunks are padded to an even size.
        const std::size_t next = body + static_cast<std::size_t>(size) + (size & 1u);
        if (next <= at || next > bytes.size())
            break;
        at = next;
    }
    return format ? Failure{"there is no \"data\" chunk"} : Failure{"there is no \"fmt \" chunk"};
}

} // namespace nimbel::localplatform
