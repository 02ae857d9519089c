#include "audio/AudioFile.h"

#include <gtest/gtest.h>
#include <samplerate.h>
#include <sndfile.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::string kMelody = std::string(LIRROSA_SOURCE_DIR) + "/examples/melody.wav";
// The plain reader keeps the data chunk's first 16 bytes out of the take.
constexpr size_t kSkippedSamples = 8;

std::vector<int16_t> storeSamples(const SampleStore& store)
{
    std::vector<int16_t> samples(store.validCount / 2);
    std::memcpy(samples.data(), store.data, samples.size() * 2);
    return samples;
}

// The example melody's samples, all of them, as 16-bit mono at 22050 Hz.
std::vector<int16_t> melodySamples()
{
    SF_INFO info{};
    SNDFILE* file = sf_open(kMelody.c_str(), SFM_READ, &info);
    EXPECT_NE(file, nullptr);
    std::vector<int16_t> samples(static_cast<size_t>(info.frames));
    sf_readf_short(file, samples.data(), info.frames);
    sf_close(file);
    return samples;
}

// Writes `samples` (interleaved in `channels`) at `rate` in the given libsndfile format.
void writeSound(const std::string& path, int format, int rate, int channels, const std::vector<float>& samples)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    sf_writef_float(file, samples.data(), static_cast<sf_count_t>(samples.size()) / channels);
    sf_close(file);
}

std::vector<float> asFloats(const std::vector<int16_t>& samples)
{
    std::vector<float> out;
    for (int16_t s : samples)
        out.push_back(static_cast<float>(s) / 32768.0f);
    return out;
}

// Root mean square of the difference over the signal's own, aligned at the start.
double relativeError(const std::vector<int16_t>& expected, const std::vector<int16_t>& got)
{
    const size_t n = std::min(expected.size(), got.size());
    double diff = 0, power = 0;
    for (size_t i = 0; i < n; ++i) {
        diff += std::pow(expected[i] - got[i], 2);
        power += std::pow(expected[i], 2);
    }
    return std::sqrt(diff / power);
}

class AudioFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("lirrosa-audio-" + std::to_string(::getpid()));
        fs::create_directories(dir);
        melody = melodySamples();
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string path(const std::string& name) const { return (dir / name).string(); }

    fs::path dir;
    std::vector<int16_t> melody;
};

TEST_F(AudioFiles, FileThePlainReaderTakesIsReadByItUnchanged)
{
    WAVEFORMATEX plainFormat, format;
    SampleStore plain, store;
    ASSERT_TRUE(LoadWaveFile(kMelody, plainFormat, plain));
    AudioLoad load;
    ASSERT_TRUE(LoadAudioFile(kMelody, format, store, nullptr, &load));
    EXPECT_FALSE(load.decoded);
    EXPECT_EQ(std::memcmp(&format, &plainFormat, sizeof format), 0);
    ASSERT_EQ(store.capacity, plain.capacity);
    ASSERT_EQ(store.validCount, plain.validCount);
    EXPECT_EQ(std::memcmp(store.data, plain.data, store.validCount), 0);
}

TEST_F(AudioFiles, LosslessFormatsDecodeToTheSameSixteenBitSamples)
{
    const std::vector<float> floats = asFloats(melody);
    const struct {
        const char* name;
        int format;
    } kinds[] = {
        {"pcm24.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24},
        {"float.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT},
        {"extensible.wav", SF_FORMAT_WAVEX | SF_FORMAT_PCM_16},
        {"melody.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
        {"melody.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
    };
    for (const auto& kind : kinds) {
        SCOPED_TRACE(kind.name);
        writeSound(path(kind.name), kind.format, 22050, 1, floats);
        WAVEFORMATEX format;
        SampleStore store;
        AudioLoad load;
        WaveRefusal why = WaveRefusal::ReadFailed;
        ASSERT_TRUE(LoadAudioFile(path(kind.name), format, store, &why, &load));
        EXPECT_EQ(why, WaveRefusal::None);
        EXPECT_TRUE(load.decoded);
        EXPECT_FALSE(load.cut);
        EXPECT_EQ(format.wFormatTag, WAVE_FORMAT_PCM);
        EXPECT_EQ(format.nChannels, 1);
        EXPECT_EQ(format.nSamplesPerSec, 22050u);
        EXPECT_EQ(format.wBitsPerSample, 16);
        EXPECT_EQ(format.nBlockAlign, 2);
        EXPECT_EQ(format.nAvgBytesPerSec, 44100u);
        EXPECT_EQ(storeSamples(store), melody);
    }
}

TEST_F(AudioFiles, MetadataChunkBeforeTheDataIsSkipped)
{
    std::ifstream in(kMelody, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    // A LIST chunk as ffmpeg writes it, between the 16-byte format chunk and "data".
    const char list[] = "LIST\x1a\0\0\0INFOISFT\x0e\0\0\0Lavf59.27.100\0";
    bytes.insert(bytes.begin() + 36, list, list + sizeof list - 1);
    const uint32_t riffSize = static_cast<uint32_t>(bytes.size() - 8);
    std::memcpy(bytes.data() + 4, &riffSize, 4);
    std::ofstream(path("list.wav"), std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));

    WAVEFORMATEX format;
    SampleStore store;
    ASSERT_TRUE(LoadAudioFile(path("list.wav"), format, store));
    EXPECT_EQ(storeSamples(store), melody);
}

TEST_F(AudioFiles, StereoStaysStereoAndMoreChannelsAreMixedToMono)
{
    std::vector<float> stereo, surround;
    for (int16_t s : melody) {
        const float v = static_cast<float>(s) / 32768.0f;
        stereo.insert(stereo.end(), {v, -v});
        surround.insert(surround.end(), {v, v, v, v});
    }
    writeSound(path("stereo.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 22050, 2, stereo);
    writeSound(path("four.wav"), SF_FORMAT_WAVEX | SF_FORMAT_FLOAT, 22050, 4, surround);

    WAVEFORMATEX format;
    SampleStore store;
    ASSERT_TRUE(LoadAudioFile(path("stereo.flac"), format, store));
    EXPECT_EQ(format.nChannels, 2);
    EXPECT_EQ(format.nBlockAlign, 4);
    const std::vector<int16_t> both = storeSamples(store);
    ASSERT_EQ(both.size(), melody.size() * 2);
    EXPECT_EQ(both[2000], melody[1000]);
    EXPECT_EQ(both[2001], static_cast<int16_t>(-melody[1000]));

    ASSERT_TRUE(LoadAudioFile(path("four.wav"), format, store));
    EXPECT_EQ(format.nChannels, 1);
    EXPECT_EQ(storeSamples(store), melody);
}

TEST_F(AudioFiles, RatesTheAnalysisTakesAreKeptOthersResampled)
{
    const std::vector<float> floats = asFloats(melody);
    writeSound(path("rate8000.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 8000, 1, floats);
    WAVEFORMATEX format;
    SampleStore store;
    ASSERT_TRUE(LoadAudioFile(path("rate8000.wav"), format, store));
    EXPECT_EQ(format.nSamplesPerSec, 8000u);
    EXPECT_EQ(storeSamples(store), melody);

    // The melody at 352800 Hz (16 times its rate) comes back at 22050 Hz.
    std::vector<float> fast(floats.size() * 16);
    SRC_DATA data{};
    data.data_in = floats.data();
    data.data_out = fast.data();
    data.input_frames = static_cast<long>(floats.size());
    data.output_frames = static_cast<long>(fast.size());
    data.src_ratio = 16;
    ASSERT_EQ(src_simple(&data, SRC_SINC_FASTEST, 1), 0);
    fast.resize(static_cast<size_t>(data.output_frames_gen));
    writeSound(path("rate352800.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 352800, 1, fast);
    ASSERT_TRUE(LoadAudioFile(path("rate352800.wav"), format, store));
    EXPECT_EQ(format.nSamplesPerSec, 22050u);
    const std::vector<int16_t> back = storeSamples(store);
    EXPECT_NEAR(static_cast<double>(back.size()), static_cast<double>(melody.size()), 2.0);
    EXPECT_LT(relativeError(melody, back), 0.05);
}

TEST_F(AudioFiles, LossyFormatsDecodeCloseToTheOriginal)
{
    const std::vector<float> floats = asFloats(melody);
    writeSound(path("melody.ogg"), SF_FORMAT_OGG | SF_FORMAT_VORBIS, 22050, 1, floats);
    writeSound(path("melody.opus"), SF_FORMAT_OGG | SF_FORMAT_OPUS, 48000, 1, floats);
    for (const char* name : {"melody.ogg", "melody.opus"}) {
        SCOPED_TRACE(name);
        WAVEFORMATEX format;
        SampleStore store;
        AudioLoad load;
        ASSERT_TRUE(LoadAudioFile(path(name), format, store, nullptr, &load));
        EXPECT_TRUE(load.decoded);
        EXPECT_EQ(format.wBitsPerSample, 16);
        EXPECT_GT(store.validCount, 0u);
    }
    WAVEFORMATEX format;
    SampleStore store;
    ASSERT_TRUE(LoadAudioFile(path("melody.ogg"), format, store));
    EXPECT_LT(relativeError(melody, storeSamples(store)), 0.3);
}

TEST_F(AudioFiles, FileIsLoadedInAWantedFormatMixedAndResampled)
{
    // The melody at 44100 Hz in stereo, both channels alike.
    const std::vector<float> floats = asFloats(melody);
    std::vector<float> twice(floats.size() * 2);
    SRC_DATA data{};
    data.data_in = floats.data();
    data.data_out = twice.data();
    data.input_frames = static_cast<long>(floats.size());
    data.output_frames = static_cast<long>(twice.size());
    data.src_ratio = 2;
    ASSERT_EQ(src_simple(&data, SRC_SINC_FASTEST, 1), 0);
    std::vector<float> stereo;
    for (long i = 0; i < data.output_frames_gen; ++i)
        stereo.insert(stereo.end(), {twice[static_cast<size_t>(i)], twice[static_cast<size_t>(i)]});
    writeSound(path("stereo44.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 2, stereo);

    SampleStore store;
    AudioLoad load;
    ASSERT_TRUE(LoadAudioFileInFormat(path("stereo44.flac"), kMicrophoneFormat, store, nullptr, &load));
    EXPECT_TRUE(load.decoded);
    EXPECT_LT(relativeError(melody, storeSamples(store)), 0.05);

    // A file already in the format is read as LoadAudioFile reads it.
    SampleStore plain;
    ASSERT_TRUE(LoadAudioFileInFormat(kMelody, kMicrophoneFormat, plain, nullptr, &load));
    EXPECT_FALSE(load.decoded);
    WaveRefusal why = WaveRefusal::None;
    EXPECT_FALSE(LoadAudioFileInFormat(path("missing.ogg"), kMicrophoneFormat, store, &why));
    EXPECT_EQ(why, WaveRefusal::CannotOpen);
}

TEST_F(AudioFiles, FloatValuesBeyondFullScaleClipAndNanIsSilence)
{
    writeSound(path("wild.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 22050, 1, {0.5f, 3.0f, -3.0f, NAN, INFINITY});
    WAVEFORMATEX format;
    SampleStore store;
    ASSERT_TRUE(LoadAudioFile(path("wild.wav"), format, store));
    EXPECT_EQ(storeSamples(store), (std::vector<int16_t>{16384, 32767, -32768, 0, 32767}));
}

TEST_F(AudioFiles, DamagedFilesAreRefusedAndKeepThePreviousTake)
{
    const std::vector<float> floats = asFloats(melody);
    writeSound(path("whole.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 22050, 1, floats);
    std::ifstream in(path("whole.flac"), std::ios::binary);
    std::vector<char> flac((std::istreambuf_iterator<char>(in)), {});
    auto save = [&](const std::string& name, const std::vector<char>& bytes) {
        std::ofstream(path(name), std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return path(name);
    };
    std::vector<char> headerOnly(flac.begin(), flac.begin() + 30);
    std::vector<char> noise(5000);
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<char>(i * 131 + 7);

    WAVEFORMATEX format = kMicrophoneFormat;
    SampleStore store;
    ASSERT_TRUE(store.allocate(100));
    for (const std::string& name : {save("head.flac", headerOnly), save("noise.mp3", noise)}) {
        SCOPED_TRACE(name);
        WaveRefusal why = WaveRefusal::None;
        EXPECT_FALSE(LoadAudioFile(name, format, store, &why));
        EXPECT_NE(why, WaveRefusal::None);
        EXPECT_EQ(store.capacity, 100u);
        EXPECT_EQ(format.nSamplesPerSec, kMicrophoneFormat.nSamplesPerSec);
    }
    WaveRefusal why = WaveRefusal::None;
    EXPECT_FALSE(LoadAudioFile(path("missing.flac"), format, store, &why));
    EXPECT_EQ(why, WaveRefusal::CannotOpen);
}

} // namespace
