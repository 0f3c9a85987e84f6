#include "voice/RecordingFiles.h"
#include "voice/SpeechAudioDownsampler.h"
#include "voice/WavFile.h"

#include <QDir>
#include <QRegularExpression>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <sys/stat.h>

using namespace nimbel;
using namespace Qt::StringLiterals;

namespace {

TEST(WavFile, WriterProducesAFileTheReaderReadsBackOwnerOnly)
{
    // The header the platform receives: 16 kHz mono 16-bit PCM.
    EXPECT_EQ(wav::recordingHeader(32000).toHex(), QByteArray("52494646247d000057415645666d7420100000000100010080"
                                                              "3e0000007d00000200100064617461007d0000"));
    QTemporaryDir dir;
    const QString path = dir.filePath(u"take.wav"_s);
    WavWriter writer;
    ASSERT_TRUE(writer.open(path));
    // A second writer never takes over an existing file.
    WavWriter intruder;
    EXPECT_FALSE(intruder.open(path));
    const std::vector<std::int16_t> samples{0, 16384, -16384, 32767, -32768};
    ASSERT_TRUE(writer.write(samples.data(), samples.size()));
    ASSERT_TRUE(writer.write(samples.data(), 2));
    ASSERT_TRUE(writer.close());

    struct stat info{};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    ASSERT_EQ(bytes.size(), 44 + 14);
    EXPECT_EQ(bytes.left(44), wav::recordingHeader(14));
    const auto decoded = wav::decode(bytes);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->sampleRate, 16000.0);
    EXPECT_EQ(decoded->audio.frames(), 7u);
    EXPECT_FLOAT_EQ(decoded->audio.samples[1], 0.5f);
    EXPECT_FLOAT_EQ(decoded->audio.samples[4], -1.0f);
}

TEST(WavFile, DecodeRejectsWhatIsNotPlayableWave)
{
    const std::vector<std::int16_t> samples(100, 1000);
    const QByteArray good = wav::encodeRecording(samples.data(), samples.size());
    ASSERT_TRUE(wav::decode(good));
    EXPECT_FALSE(wav::decode(good.left(30)));
    QByteArray adpcm = good;
    adpcm[20] = 2;
    EXPECT_FALSE(wav::decode(adpcm));
    // Cut short: what is there is read.
    const auto cut = wav::decode(good.left(44 + 50));
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->audio.frames(), 25u);
}

TEST(SpeechAudioDownsampler, RefusesFormatsItCannotConvert)
{
    EXPECT_FALSE(SpeechAudioDownsampler::create(std::nan(""), 1));
    EXPECT_FALSE(SpeechAudioDownsampler::create(48000.0, 0));
}

TEST(RecordingFiles, NamesAndStaleRemoval)
{
    QTemporaryDir dir;
    const QString path = recordingFiles::newRecordingPath(dir.path());
    EXPECT_TRUE(QFileInfo(path).fileName().contains(
        QRegularExpression(u"^zelm-voice-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\.wav$"_s)));
    for (const char *name : {"zelm-voice-OLD.wav", "zelm-lead-OLD.mp3", "zelm-voice-keep.txt", "other.wav"}) {
        QFile file(dir.filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    EXPECT_EQ(recordingFiles::removeStale(dir.path()), 2);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), (QStringList{"other.wav", "zelm-voice-keep.txt"}));
}

} // namespace
