#include "audio/Wav_func.h"
#include "platform/SystemCall.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

void putLe(Bytes& out, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void putTag(Bytes& out, const char* tag)
{
    out.insert(out.end(), tag, tag + std::strlen(tag));
}

struct WaveLayout {
    uint32_t formatChunkBytes = 16;
    uint16_t tag = 1;
    uint16_t channels = 1;
    uint32_t rate = 22050;
    uint16_t bits = 16;
    uint16_t blockAlign = 2;
    Bytes between;  // a chunk placed between "fmt " and "data"
    Bytes samples;
};

// A wave file as other programs write it: RIFF header, format chunk, data chunk.
Bytes waveFile(const WaveLayout& layout)
{
    Bytes format;
    putLe(format, layout.tag, 2);
    putLe(format, layout.channels, 2);
    putLe(format, layout.rate, 4);
    putLe(format, layout.rate * layout.blockAlign, 4);
    putLe(format, layout.blockAlign, 2);
    putLe(format, layout.bits, 2);
    format.resize(layout.formatChunkBytes, 0);

    Bytes file;
    putTag(file, "RIFF");
    putLe(file, 0, 4); // not examined
    putTag(file, "WAVEfmt ");
    putLe(file, layout.formatChunkBytes, 4);
    file.insert(file.end(), format.begin(), format.end());
    file.insert(file.end(), layout.between.begin(), layout.between.end());
    putTag(file, "data");
    putLe(file, static_cast<uint32_t>(layout.samples.size()), 4);
    file.insert(file.end(), layout.samples.begin(), layout.samples.end());
    const uint32_t riffSize = static_cast<uint32_t>(file.size() - 8);
    std::memcpy(file.data() + 4, &riffSize, 4);
    return file;
}

Bytes counting(size_t n)
{
    Bytes bytes(n);
    for (size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<uint8_t>(i * 7 + 1);
    return bytes;
}

Bytes readAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

class WavFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/lirrosa-wav-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string write(const std::string& name, const Bytes& bytes)
    {
        const fs::path path = dir / name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                     static_cast<std::streamsize>(bytes.size()));
        return path.string();
    }

    size_t entriesInDir() const { return static_cast<size_t>(std::distance(fs::directory_iterator(dir), {})); }

    fs::path dir;
};

// --- reading --------------------------------------------------------------------------

TEST_F(WavFiles, CanonicalFileLoadsAllButTheFirstSixteenDataBytes)
{
    WaveLayout layout;
    layout.samples = counting(1000);
    const std::string path = write("canonical.wav", waveFile(layout));

    WAVEFORMATEX format;
    SampleStore store;
    WaveRefusal why = WaveRefusal::ReadFailed;
    ASSERT_TRUE(LoadWaveFile(path, format, store, &why));
    EXPECT_EQ(why, WaveRefusal::None);
    EXPECT_EQ(store.capacity, 1000u);
    EXPECT_EQ(store.validCount, 984u);
    EXPECT_EQ(Bytes(store.data, store.data + store.validCount), Bytes(layout.samples.begin() + 16, layout.samples.end()));
    for (uint32_t i = store.validCount; i < store.capacity; ++i)
        EXPECT_EQ(store.data[i], 0) << "byte " << i << " beyond the valid count must be zero";
    EXPECT_EQ(format.wFormatTag, 1);
    EXPECT_EQ(format.nChannels, 1);
    EXPECT_EQ(format.nSamplesPerSec, 22050u);
    EXPECT_EQ(format.nAvgBytesPerSec, 44100u);
    EXPECT_EQ(format.nBlockAlign, 2);
    EXPECT_EQ(format.wBitsPerSample, 16);
    EXPECT_EQ(format.cbSize, 0);
}

TEST_F(WavFiles, OpenReportsTheFileSizeAndLeavesTheFileAtTheSeventeenthDataByte)
{
    WaveLayout layout;
    layout.samples = counting(100);
    const Bytes file = waveFile(layout);
    const std::string path = write("open.wav", file);

    WAVEFORMATEX format;
    int64_t status = 0;
    const int fd = OpenWaveFile(path, format, status);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(status, static_cast<int64_t>(file.size()));
    uint8_t next = 0;
    EXPECT_EQ(::read(fd, &next, 1), 1);
    EXPECT_EQ(next, layout.samples[16]);
    ::close(fd);
}

TEST_F(WavFiles, OwnFileReloadsWithTwoBytesMoreCapacity)
{
    const Bytes samples = counting(500);
    const std::string path = (dir / "own.wav").string();
    ASSERT_TRUE(WriteWaveFile(path, kMicrophoneFormat, static_cast<uint32_t>(samples.size()), samples.data()));

    WAVEFORMATEX format;
    SampleStore store;
    ASSERT_TRUE(LoadWaveFile(path, format, store));
    EXPECT_EQ(store.capacity, 502u);
    EXPECT_EQ(store.validCount, 484u);
    EXPECT_EQ(Bytes(store.data, store.data + store.validCount), Bytes(samples.begin() + 16, samples.end()));
    EXPECT_EQ(std::memcmp(&format, &kMicrophoneFormat, sizeof format), 0);
}

TEST_F(WavFiles, SizeLimitsAndHeaderChecks)
{
    WaveLayout layout;
    layout.samples = counting(4);
    Bytes shortest = waveFile(layout); // 48 bytes
    ASSERT_EQ(shortest.size(), 48u);
    WAVEFORMATEX format;
    SampleStore store;
    WaveRefusal why = WaveRefusal::None;
    ASSERT_TRUE(LoadWaveFile(write("48.wav", shortest), format, store, &why));
    EXPECT_EQ(store.capacity, 4u);
    EXPECT_EQ(store.validCount, 0u);

    shortest.pop_back();
    EXPECT_FALSE(LoadWaveFile(write("47.wav", shortest), format, store, &why));
    EXPECT_EQ(why, WaveRefusal::TooShort);

    WaveLayout longFormat = layout;
    longFormat.formatChunkBytes = 22;
    longFormat.samples = counting(100);
    EXPECT_FALSE(LoadWaveFile(write("fmt22.wav", waveFile(longFormat)), format, store, &why));
    EXPECT_EQ(why, WaveRefusal::FormatChunkTooLong);

    WaveLayout listChunk = layout;
    listChunk.samples = counting(100);
    putTag(listChunk.between, "LIST");
    putLe(listChunk.between, 4, 4);
    putTag(listChunk.between, "INFO");
    EXPECT_FALSE(LoadWaveFile(write("list.wav", waveFile(listChunk)), format, store, &why));
    EXPECT_EQ(why, WaveRefusal::NoDataTag);

    WaveLayout noAlign = layout;
    noAlign.blockAlign = 0;
    noAlign.samples = counting(100);
    EXPECT_FALSE(LoadWaveFile(write("align0.wav", waveFile(noAlign)), format, store, &why));
    EXPECT_EQ(why, WaveRefusal::ZeroBlockAlign);
    // Chunks and playback go by the block align, the analyser by channels and sample size:
    // a file where they disagree could never be played or analysed to its end.
    WaveLayout oddAlign = layout;
    oddAlign.blockAlign = 3;
    oddAlign.samples = counting(100);
    EXPECT_FALSE(LoadWaveFile(write("align3.wav", waveFile(oddAlign)), format, store, &why));
    EXPECT_EQ(why, WaveRefusal::BlockAlignMismatch);

    Bytes notWave = waveFile(listChunk);
    std::memcpy(notWave.data() + 8, "AVI LIST", 8);
    EXPECT_FALSE(LoadWaveFile(write("avi.wav", notWave), format, store, &why));
    EXPECT_EQ(why, WaveRefusal::NotWaveFmt);

    EXPECT_FALSE(LoadWaveFile((dir / "missing.wav").string(), format, store, &why));
    EXPECT_EQ(why, WaveRefusal::CannotOpen);
    EXPECT_FALSE(LoadWaveFile(dir.string(), format, store, &why));
    EXPECT_EQ(why, WaveRefusal::CannotOpen);
    for (WaveRefusal refusal : {WaveRefusal::CannotOpen, WaveRefusal::TooShort, WaveRefusal::NoDataTag,
                                WaveRefusal::ReadFailed})
        EXPECT_GT(std::strlen(describeWaveRefusal(refusal)), 20u);
}

TEST_F(WavFiles, StatusTellsUnreadableFromNotPcm)
{
    WaveLayout floating;
    floating.tag = 3;
    floating.bits = 32;
    floating.blockAlign = 4;
    floating.samples = counting(100);
    WAVEFORMATEX format;
    int64_t status = 0;
    WaveRefusal why = WaveRefusal::None;
    EXPECT_EQ(OpenWaveFile(write("float.wav", waveFile(floating)), format, status, &why), -1);
    EXPECT_EQ(status, -2);
    EXPECT_EQ(why, WaveRefusal::NotPcm);

    EXPECT_EQ(OpenWaveFile((dir / "missing.wav").string(), format, status, &why), -1);
    EXPECT_EQ(status, -1);
    EXPECT_EQ(OpenWaveFile(write("tiny.wav", Bytes(47, 0)), format, status, &why), -1);
    EXPECT_EQ(status, -1);
}

TEST_F(WavFiles, RefusedFileKeepsThePreviousTake)
{
    WaveLayout layout;
    layout.samples = counting(200);
    WAVEFORMATEX format;
    SampleStore store;
    ASSERT_TRUE(LoadWaveFile(write("good.wav", waveFile(layout)), format, store));
    const uint8_t* before = store.data;

    WaveLayout floating = layout;
    floating.tag = 3;
    floating.rate = 48000;
    EXPECT_FALSE(LoadWaveFile(write("float.wav", waveFile(floating)), format, store));
    EXPECT_EQ(store.data, before);
    EXPECT_EQ(store.validCount, 184u);
    EXPECT_EQ(format.nSamplesPerSec, 22050u);
}

TEST_F(WavFiles, AnyPcmFormatIsTakenAsItIsAndTrailingChunksBecomeSamples)
{
    WaveLayout layout;
    layout.channels = 2;
    layout.rate = 8000;
    layout.bits = 8;
    layout.blockAlign = 2;
    layout.samples = counting(64);
    Bytes file = waveFile(layout);
    const Bytes trailer = {'L', 'I', 'S', 'T', 4, 0, 0, 0, 'I', 'N', 'F', 'O'};
    file.insert(file.end(), trailer.begin(), trailer.end());

    WAVEFORMATEX format;
    SampleStore store;
    ASSERT_TRUE(LoadWaveFile(write("8k.wav", file), format, store));
    EXPECT_EQ(format.nChannels, 2);
    EXPECT_EQ(format.nSamplesPerSec, 8000u);
    EXPECT_EQ(format.nAvgBytesPerSec, 16000u);
    EXPECT_EQ(format.wBitsPerSample, 8);
    EXPECT_EQ(store.validCount, 64u - 16 + trailer.size());
    EXPECT_EQ(Bytes(store.data + 48, store.data + store.validCount), trailer);
}

// --- writing --------------------------------------------------------------------------

TEST_F(WavFiles, WrittenHeaderIsTheFortySixByteLayout)
{
    const std::string empty = (dir / "empty.wav").string();
    ASSERT_TRUE(WriteWaveFile(empty, kMicrophoneFormat, 0, nullptr));
    const Bytes expected = {'R', 'I', 'F', 'F', 38, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
                            18,  0,   0,   0,   1,  0, 1, 0, 0x22, 0x56, 0, 0, 0x44, 0xAC, 0, 0,
                            2,   0,   16,  0,   0,  0, 'd', 'a', 't', 'a', 0, 0, 0, 0};
    EXPECT_EQ(readAll(empty), expected);

    WAVEFORMATEX stereo{1, 2, 44100, 176400, 4, 16, 7};
    const Bytes samples = counting(300);
    const std::string path = (dir / "stereo.wav").string();
    ASSERT_TRUE(WriteWaveFile(path, stereo, 300, samples.data()));
    const Bytes file = readAll(path);
    ASSERT_EQ(file.size(), 346u);
    EXPECT_EQ(file[4] | file[5] << 8, 338);
    EXPECT_EQ(file[36] | file[37] << 8, 0) << "the extra size is always written as 0";
    EXPECT_EQ(file[42] | file[43] << 8, 300);
    EXPECT_EQ(Bytes(file.begin() + 46, file.end()), samples);
}

TEST_F(WavFiles, WriteIntoAMissingFolderFailsAndCreatesNothing)
{
    const Bytes samples = counting(10);
    EXPECT_FALSE(WriteWaveFile((dir / "no" / "such.wav").string(), kMicrophoneFormat, 10, samples.data()));
    EXPECT_FALSE(fs::exists(dir / "no"));
    EXPECT_FALSE(WriteWaveFile(dir.string(), kMicrophoneFormat, 10, samples.data())) << "a folder is no file";
    EXPECT_EQ(entriesInDir(), 0u);
}

TEST_F(WavFiles, FailedWriteLeavesTheOldFileAndNoPartialFile)
{
    const std::string path = write("take.wav", Bytes{'o', 'l', 'd'});
    const Bytes samples = counting(8000);

    // Files may grow to 1000 bytes only: the header goes out, the samples do not.
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 1000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string message;
    try {
        WriteWaveFile(path, kMicrophoneFormat, static_cast<uint32_t>(samples.size()), samples.data());
    } catch (const WaveWriteError& error) {
        message = error.what();
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_EQ(message, "Write Error");
    EXPECT_EQ(readAll(path), (Bytes{'o', 'l', 'd'}));
    EXPECT_EQ(entriesInDir(), 1u) << "the temporary file must be gone";
}

TEST_F(WavFiles, OverwriteKeepsThePermissionsAndLinksOfTheOldFile)
{
    const std::string path = write("take.wav", Bytes{'o', 'l', 'd'});
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    const Bytes samples = counting(20);
    ASSERT_TRUE(WriteWaveFile(path, kMicrophoneFormat, 20, samples.data()));
    EXPECT_EQ(readAll(path).size(), 66u);
    EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    const fs::path link = dir / "link.wav";
    fs::create_symlink("take.wav", link);
    ASSERT_TRUE(WriteWaveFile(link.string(), kMicrophoneFormat, 10, samples.data()));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(readAll(path).size(), 56u) << "the file behind the link is replaced";
    EXPECT_EQ(entriesInDir(), 2u);
}

// --- chunk size and system errors ----------------------------------------------------

TEST(AudioChunk, IsALittleOverTwentyEightMillisecondsInWholeFrames)
{
    EXPECT_EQ(audioChunkBytes(kMicrophoneFormat), 1236u);
    EXPECT_EQ(audioChunkBytes(WAVEFORMATEX{1, 2, 44100, 176400, 4, 16, 0}), 4940u);

    for (uint32_t rate : {8000u, 11025u, 16000u, 22050u, 32000u, 44100u, 48000u, 96000u}) {
        for (uint16_t channels : {1, 2, 6}) {
            for (uint16_t bits : {8, 16, 24, 32}) {
                const uint16_t align = static_cast<uint16_t>(channels * bits / 8);
                const WAVEFORMATEX format{1, channels, rate, rate * align, align, bits, 0};
                const uint32_t chunk = audioChunkBytes(format);
                EXPECT_EQ(chunk % align, 0u) << rate << " Hz " << channels << " ch " << bits << " bit";
                const uint64_t bytesIn28ms = static_cast<uint64_t>(rate) * align * 28 / 1000;
                EXPECT_GT(chunk, bytesIn28ms);
                EXPECT_LE(chunk, bytesIn28ms + align);
            }
        }
    }
}

TEST(AudioChunk, HostileFormatsGiveAUsableSize)
{
    EXPECT_EQ(audioChunkBytes(WAVEFORMATEX{1, 1, 22050, 0, 0, 16, 0}), 1235u);
    const WAVEFORMATEX huge{1, 65535, 0xFFFFFFFF, 0, 65535, 65535, 0};
    const uint32_t chunk = audioChunkBytes(huge);
    EXPECT_GT(chunk, 0u);
    EXPECT_EQ(chunk % 65535, 0u);
    EXPECT_EQ(audioChunkBytes(WAVEFORMATEX{1, 0, 0, 0, 3, 0, 0}), 3u);
}

TEST(SystemCall, FailureCarriesTheSystemText)
{
    EXPECT_NO_THROW(CheckSystemCall(true));
    errno = ENOENT;
    try {
        CheckSystemCall(false);
        FAIL() << "no error raised";
    } catch (const SystemCallError& error) {
        EXPECT_STREQ(error.what(), std::strerror(ENOENT));
    }
}

} // namespace
