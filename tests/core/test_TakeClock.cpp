// The take's clock: a long file of tone bursts comes back from analysis and recognition
// with every note where it was sung, at the microphone's rate and at 8000 Hz, where a
// frame is furthest from 28 ms.

#include "analysis/Tv2m.h"
#include "audio/Wav_func.h"
#include "notes/Tksds.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

struct Burst {
    double startSeconds;
    double hertz;
};

// Feeds `seconds` of 16-bit mono audio at `rate`: a 0.4 s harmonic tone starting every
// 1.5 s on a whole frame, alternating between two pitches a fifth apart, silence between.
std::vector<Burst> feedBursts(PitchAnalyser& analyser, const WAVEFORMATEX& format, double seconds)
{
    const uint32_t chunkSamples = frameDuration(format).samples;
    const auto rate = static_cast<double>(format.nSamplesPerSec);
    const auto frames = static_cast<int64_t>(seconds * rate / chunkSamples);
    std::vector<Burst> bursts;
    std::vector<uint8_t> chunk(chunkSamples * 2);
    int64_t burstStart = -1;
    double phase = 0;
    for (int64_t f = 0; f < frames; ++f) {
        const int64_t first = f * chunkSamples;
        const auto expected = static_cast<int64_t>(std::llround(bursts.size() * 1.5 * rate / chunkSamples));
        if (f == expected) {
            burstStart = first;
            bursts.push_back({static_cast<double>(first) / rate, bursts.size() % 2 == 0 ? 220.0 : 330.0});
            phase = 0;
        }
        for (uint32_t i = 0; i < chunkSamples; ++i) {
            const int64_t n = first + i;
            double v = 0;
            if (burstStart >= 0 && n - burstStart < static_cast<int64_t>(0.4 * rate)) {
                phase += 2 * M_PI * bursts.back().hertz / rate;
                v = 0.4 * (std::sin(phase) + 0.5 * std::sin(2 * phase) + 0.25 * std::sin(3 * phase)) / 1.75;
            }
            const auto s = static_cast<int16_t>(std::lround(32767 * v));
            chunk[2 * i] = static_cast<uint8_t>(s & 0xff);
            chunk[2 * i + 1] = static_cast<uint8_t>((s >> 8) & 0xff);
        }
        analyser.feed(chunk.data(), static_cast<uint32_t>(chunk.size()));
    }
    analyser.stop();
    return bursts;
}

void expectNotesOnTheBursts(uint32_t rate)
{
    const WAVEFORMATEX format{WAVE_FORMAT_PCM, 1, rate, rate * 2, 2, 16, 0};
    const SongSettings saved = songSettings;
    NoteSequence notes;
    PitchAnalyser analyser;
    analyser.setupParams(notes, &format);
    analyser.begin(&notes, true);
    const std::vector<Burst> bursts = feedBursts(analyser, format, 600.0);
    cleanRawTrack(notes);
    ASSERT_TRUE(recognise(notes, true));
    ASSERT_EQ(static_cast<size_t>(notes.count), bursts.size());

    const double secondsPerTick = 60.0 / (songSettings.recordTempo * songSettings.tpqn);
    double worst = 0;
    for (int32_t i = 0; i < notes.count; ++i) {
        const double error = std::fabs(notes[i].start * secondsPerTick - bursts[i].startSeconds);
        worst = std::max(worst, error);
        EXPECT_LE(error, 0.010) << "note " << i << " at " << bursts[i].startSeconds << " s";
        EXPECT_NEAR(notes[i].duration * secondsPerTick, 0.4, 0.03) << "note " << i;
        EXPECT_EQ(notes[i].note, bursts[i].hertz < 300 ? 57 : 64) << "note " << i;
    }
    ::testing::Test::RecordProperty("worst_onset_error_ms", static_cast<int>(worst * 1000));
    songSettings = saved;
}

TEST(TakeClock, TenMinutesOfBurstsKeepTheirOnsetsAtTheMicrophoneRate) { expectNotesOnTheBursts(22050); }

TEST(TakeClock, TenMinutesOfBurstsKeepTheirOnsetsAt8000Hz) { expectNotesOnTheBursts(8000); }

} // namespace
