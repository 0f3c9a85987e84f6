#include "voice/AudioClipDecoder.h"

#include "voice/WavFile.h"

#include <mpg123.h>

#include <memory>

namespace nimbel::audioClip {

namespace {

struct HandleDeleter
{
    void operator()(mpg123_handle *handle) const
    {
        mpg123_close(handle);
        mpg123_delete(handle);
    }
};

std::optional<DecodedAudio> decodeMpeg(const QByteArray &data, std::size_t maxFrames)
{
    static const bool initialised = mpg123_init() == MPG123_OK;
    if (!initialised)
        return std::nullopt;
    int error = MPG123_OK;
    std::unique_ptr<mpg123_handle, HandleDeleter> handle(mpg123_new(nullptr, &error));
    if (!handle)
        return std::nullopt;
    mpg123_handle *mh = handle.get();
    mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_GAPLESS, 0.0);
    mpg123_format_none(mh);
    const long *rates = nullptr;
    std::size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    for (std::size_t i = 0; i < rateCount; ++i)
        mpg123_format(mh, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_FLOAT_32);
    if (mpg123_open_feed(mh) != MPG123_OK
        || mpg123_feed(mh, reinterpret_cast<const unsigned char *>(data.constData()), std::size_t(data.size()))
               != MPG123_OK)
        return std::nullopt;

    DecodedAudio decoded;
    long rate = 0;
    int channels = 0;
    std::vector<unsigned char> chunk(64 * 1024);
    for (;;) {
        std::size_t done = 0;
        const int status = mpg123_read(mh, chunk.data(), chunk.size(), &done);
        if (status == MPG123_NEW_FORMAT) {
            int encoding = 0;
            long newRate = 0;
            int newChannels = 0;
            mpg123_getformat(mh, &newRate, &newChannels, &encoding);
            // A clip that changes its format midway is not one we play.
            if (channels != 0 && (newRate != rate || newChannels != channels))
                return std::nullopt;
            rate = newRate;
            channels = newChannels;
            continue;
        }
        if (done > 0 && channels > 0) {
            const auto *samples = reinterpret_cast<const float *>(chunk.data());
            decoded.audio.samples.insert(decoded.audio.samples.end(), samples, samples + done / sizeof(float));
            if (decoded.audio.samples.size() / std::size_t(channels) >= maxFrames)
                break;
        }
        if (status == MPG123_OK)
            continue;
        if (status == MPG123_NEED_MORE || status == MPG123_DONE)
            break;
        // A damaged frame ends the clip; what came before it stands.
        if (decoded.audio.samples.empty())
            return std::nullopt;
        break;
    }
    if (channels <= 0 || rate <= 0 || decoded.audio.samples.empty())
        return std::nullopt;
    decoded.audio.channels = std::size_t(channels);
    decoded.sampleRate = double(rate);
    decoded.audio.samples.resize(std::min(decoded.audio.frames(), maxFrames) * decoded.audio.channels);
    // A clip whose own header promises much more than arrived was cut short.
    const off_t expected = mpg123_length(mh);
    if (maxFrames >= maximumFrames && expected > 0
        && double(decoded.audio.frames()) < double(expected) * 0.9 - 2304.0)
        return std::nullopt;
    return decoded;
}

} // namespace

std::optional<DecodedAudio> decode(const QByteArray &data, std::size_t maxFrames)
{
    if (data.isEmpty() || maxFrames == 0)
        return std::nullopt;
    if (data.startsWith("RIFF")) {
        std::optional<DecodedAudio> decoded = wav::decode(data);
        if (!decoded || decoded->audio.frames() == 0)
            return std::nullopt;
        if (decoded->audio.frames() > maxFrames)
            decoded->audio.samples.resize(maxFrames * decoded->audio.channels);
        return decoded;
    }
    return decodeMpeg(data, maxFrames);
}

} // namespace nimbel::audioClip
