// The pitch analyser on whole signals: synthesised tones in every input format, silence,
// runs broken by unvoiced frames, and a real sung excerpt against its f0 annotation.

#include "analysis/Tv2m.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

WAVEFORMATEX pcm(uint16_t channels, uint32_t rate, uint16_t bits)
{
    const uint16_t align = static_cast<uint16_t>(channels * bits / 8);
    return WAVEFORMATEX{WAVE_FORMAT_PCM, channels, rate, rate * align, align, bits, 0};
}

// Bytes of one 28 ms buffer, as the program sizes its audio buffers.
uint32_t chunkBytes(const WAVEFORMATEX& f)
{
    const uint32_t raw = f.wBitsPerSample / 8 * f.nSamplesPerSec * f.nChannels * 28 / 1000;
    return f.nBlockAlign * (raw / f.nBlockAlign + 1);
}

// A voice-like tone: phase follows the frequency curve; harmonic h has amplitude 1 / h.
std::vector<double> tone(uint32_t rate, double seconds, const std::function<double(double)>& hertzAt,
                         int harmonics = 1)
{
    std::vector<double> out(static_cast<size_t>(rate * seconds));
    double phase = 0;
    double norm = 0;
    for (int h = 1; h <= harmonics; ++h)
        norm += 1.0 / h;
    for (size_t i = 0; i < out.size(); ++i) {
        phase += 2 * M_PI * hertzAt(static_cast<double>(i) / rate) / rate;
        double v = 0;
        for (int h = 1; h <= harmonics; ++h)
            v += std::sin(h * phase) / h;
        out[i] = v / norm;
    }
    return out;
}

std::vector<double> steady(uint32_t rate, double seconds, double hertz, int harmonics = 1)
{
    return tone(rate, seconds, [hertz](double) { return hertz; }, harmonics);
}

// Encodes [-1, 1] signals at 0.4 of full scale; `second` fills any further channel.
std::vector<uint8_t> encode(const WAVEFORMATEX& f, const std::vector<double>& first,
                            const std::vector<double>& second = {})
{
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < first.size(); ++i) {
        for (uint16_t c = 0; c < f.nChannels; ++c) {
            const double v = 0.4 * (c == 0 ? first[i] : (i < second.size() ? second[i] : 0.0));
            if (f.wBitsPerSample == 8) {
                bytes.push_back(static_cast<uint8_t>(std::lround(128 + 127 * v)));
            } else {
                const auto s = static_cast<int16_t>(std::lround(32767 * v));
                bytes.push_back(static_cast<uint8_t>(s & 0xff));
                bytes.push_back(static_cast<uint8_t>((s >> 8) & 0xff));
            }
        }
    }
    return bytes;
}

struct Take {
    WAVEFORMATEX format;
    NoteSequence sequence;
    PitchAnalyser analyser;

    explicit Take(WAVEFORMATEX f = kMicrophoneFormat) : format(f)
    {
        analyser.setupParams(sequence, &format);
        analyser.begin(&sequence, true);
    }

    // Feeds whole buffers; returns the number fed.
    int32_t feed(const std::vector<uint8_t>& bytes)
    {
        const uint32_t chunk = chunkBytes(format);
        int32_t fed = 0;
        for (size_t at = 0; at + chunk <= bytes.size(); at += chunk, ++fed)
            analyser.feed(bytes.data() + at, chunk);
        return fed;
    }

    void feedSilence(int32_t frames)
    {
        const std::vector<uint8_t> quiet(chunkBytes(format), format.wBitsPerSample == 8 ? 128 : 0);
        for (int32_t i = 0; i < frames; ++i)
            analyser.feed(quiet.data(), static_cast<uint32_t>(quiet.size()));
    }

    const RawTrack& raw() const { return *sequence.raw; }

    // Voiced frames whose pitch lies within `tolerance` of the expected one.
    int32_t framesNear(float pitch, float tolerance) const
    {
        int32_t near = 0;
        for (int32_t i = 0; i < raw().count; ++i)
            near += std::fabs(raw()[i].pitch - pitch) <= tolerance ? 1 : 0;
        return near;
    }
};

} // namespace

TEST(PitchTracking, SteadyTonesAtTheMicrophoneFormat)
{
    const std::pair<double, float> tones[] = {{220.0, 57.0f}, {440.0, 69.0f}};
    for (const auto& [hertz, pitch] : tones) {
        Take take;
        const int32_t fed = take.feed(encode(take.format, steady(22050, 1.0, hertz)));
        EXPECT_EQ(take.analyser.frameCounter, fed);
        EXPECT_EQ(take.raw().count, fed) << hertz;
        EXPECT_EQ(take.framesNear(pitch, 0.1f), take.raw().count) << hertz;
        for (int32_t i = 0; i < take.raw().count; ++i) {
            EXPECT_EQ(take.raw()[i].frame, i);
            EXPECT_GT(take.raw()[i].candidateCount, 0);
            EXPECT_GT(take.raw()[i].level, 10000);
        }
        EXPECT_GT(take.sequence.maxLevel, 10000);
    }
}

TEST(PitchTracking, EveryInputFormatTracksTheFirstChannel)
{
    for (uint32_t rate : {11025u, 22050u, 44100u}) {
        for (uint16_t bits : {uint16_t(8), uint16_t(16)}) {
            for (uint16_t channels : {uint16_t(1), uint16_t(2)}) {
                Take take(pcm(channels, rate, bits));
                // G3 with two harmonics; the second channel holds an E4.
                const auto bytes =
                    encode(take.format, steady(rate, 1.0, 196.0, 3), steady(rate, 1.0, 329.6));
                const int32_t fed = take.feed(bytes);
                const std::string where = std::to_string(rate) + " Hz " + std::to_string(bits) + " bit " +
                                          std::to_string(channels) + " ch";
                EXPECT_EQ(take.raw().count, fed) << where;
                EXPECT_EQ(take.framesNear(55.0f, 0.15f), fed) << where;
            }
        }
    }
}

TEST(PitchTracking, HarmonicToneWithVibratoIsFollowed)
{
    Take take;
    // 150 Hz, five harmonics, vibrato of half a semitone at 5.5 Hz.
    const auto hertzAt = [](double t) { return 150.0 * std::pow(2.0, 0.5 / 12 * std::sin(2 * M_PI * 5.5 * t)); };
    const int32_t fed = take.feed(encode(take.format, tone(22050, 2.0, hertzAt, 5)));
    EXPECT_EQ(take.raw().count, fed);

    const double frameSeconds = chunkBytes(take.format) / 2 / 22050.0;
    int32_t followed = 0;
    float lowest = 200, highest = 0;
    for (int32_t i = 0; i < take.raw().count; ++i) {
        const RawFrame& r = take.raw()[i];
        const double mid = (r.frame + 0.5) * frameSeconds;
        const double expected = 12 * std::log2(hertzAt(mid) / 440.0) + 69;
        followed += std::fabs(r.pitch - expected) <= 0.15 ? 1 : 0;
        lowest = std::min(lowest, r.pitch);
        highest = std::max(highest, r.pitch);
    }
    EXPECT_EQ(followed, take.raw().count);
    EXPECT_GT(highest - lowest, 0.6f); // the vibrato shows in the track
}

TEST(PitchTracking, SilenceAndQuietNoiseGiveNoFrames)
{
    Take take;
    take.feedSilence(20);
    EXPECT_EQ(take.analyser.frameCounter, 20);
    EXPECT_EQ(take.raw().count, 0);

    std::mt19937 random(7);
    std::uniform_real_distribution<double> hiss(-0.05, 0.05);
    std::vector<double> noise(22050);
    for (double& v : noise)
        v = hiss(random);
    const int32_t fed = take.feed(encode(take.format, noise));
    EXPECT_EQ(take.analyser.frameCounter, 20 + fed);
    EXPECT_EQ(take.raw().count, 0);
}

TEST(PitchTracking, OneUnvoicedFrameIsFilledAndTwoEndTheRun)
{
    Take take;
    const auto voiced = encode(take.format, steady(22050, 5 * 0.028, 220.0));
    take.feed(voiced);
    ASSERT_EQ(take.raw().count, 4);
    EXPECT_EQ(take.analyser.runCounter, 4);

    take.feedSilence(1);
    EXPECT_EQ(take.analyser.runCounter, 4);
    take.feed(voiced);
    ASSERT_EQ(take.raw().count, 9);
    for (int32_t i = 0; i < take.raw().count; ++i)
        EXPECT_EQ(take.raw()[i].frame, i);
    EXPECT_EQ(take.raw()[4].candidateCount, 0); // the filled frame
    EXPECT_EQ(take.analyser.runCounter, 9);

    take.feedSilence(2);
    EXPECT_EQ(take.analyser.runCounter, 0);
    take.feed(voiced);
    EXPECT_EQ(take.raw().count, 13);
    EXPECT_EQ(take.raw()[9].frame, 11);
}

namespace {

// Samples of a PCM 16-bit mono WAV file, or nothing when it cannot be read.
std::vector<int16_t> readMonoWav(const std::string& path, uint32_t& rate)
{
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto u32 = [&](size_t at) {
        uint32_t v;
        std::memcpy(&v, file.data() + at, 4);
        return v;
    };
    if (file.size() < 12 || std::memcmp(file.data(), "RIFF", 4) != 0)
        return {};
    std::vector<int16_t> samples;
    for (size_t at = 12; at + 8 <= file.size(); at += 8 + u32(at + 4) + (u32(at + 4) & 1)) {
        const uint32_t size = u32(at + 4);
        if (std::memcmp(file.data() + at, "fmt ", 4) == 0)
            rate = u32(at + 12);
        if (std::memcmp(file.data() + at, "data", 4) == 0) {
            const size_t count = std::min<size_t>(size, file.size() - at - 8) / 2;
            samples.resize(count);
            std::memcpy(samples.data(), file.data() + at + 8, count * 2);
            break;
        }
    }
    return samples;
}

} // namespace

TEST(PitchTracking, SungExcerptAgreesWithItsAnnotation)
{
    const std::string dir = std::string(LIRROSA_SHARED_DATA_DIR) + "/vocadito_1/";
    uint32_t rate = 0;
    const std::vector<int16_t> samples = readMonoWav(dir + "vocadito_1.wav", rate);
    std::ifstream annotation(dir + "vocadito_1_f0.csv");
    if (samples.empty() || rate == 0 || !annotation)
        GTEST_SKIP() << "sung excerpt not available";

    Take take(pcm(1, rate, 16));
    std::vector<uint8_t> bytes(samples.size() * 2);
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    take.feed(bytes);

    std::vector<const RawFrame*> byFrame(static_cast<size_t>(take.analyser.frameCounter), nullptr);
    for (int32_t i = 0; i < take.raw().count; ++i)
        byFrame[static_cast<size_t>(take.raw()[i].frame)] = &take.raw()[i];

    const double samplesPerFrame = chunkBytes(take.format) / 2.0;
    int32_t voiced = 0, tracked = 0, within = 0;
    std::string line;
    while (std::getline(annotation, line)) {
        std::istringstream fields(line);
        double seconds = 0, hertz = 0;
        char comma = 0;
        if (!(fields >> seconds >> comma >> hertz) || hertz <= 0)
            continue;
        const auto frame = static_cast<size_t>(seconds * rate / samplesPerFrame);
        if (frame >= byFrame.size())
            continue;
        ++voiced;
        if (byFrame[frame] == nullptr)
            continue;
        ++tracked;
        const double expected = 12 * std::log2(hertz / 440.0) + 69;
        within += std::fabs(byFrame[frame]->pitch - expected) <= 0.5 ? 1 : 0;
    }
    ASSERT_GT(voiced, 1000);
    const double withinShare = static_cast<double>(within) / voiced;
    std::cout << "sung excerpt: " << voiced << " voiced annotated points, " << tracked << " with a raw frame, "
              << within << " within 50 cents (" << 100 * withinShare << " %)\n";
    EXPECT_GT(withinShare, 0.5);
}
