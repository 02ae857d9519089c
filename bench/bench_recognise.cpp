// Cost of the raw-track clean-up and melody recognition on synthetic takes of 10 s, 60 s
// and 10 min: phrases of legato scale notes with pitch jitter, candidate frequencies,
// occasional octave errors and stray isolated frames between phrases.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>

#include "notes/Tksds.h"

namespace {

constexpr double kFramesPerSecond = 1000.0 / 28.0;

// Small deterministic generator so every run sees the same take.
class Lcg {
public:
    uint32_t next()
    {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
    int32_t between(int32_t lo, int32_t hi) { return lo + static_cast<int32_t>(next() % static_cast<uint32_t>(hi - lo + 1)); }
    float jitter(float amount) { return (static_cast<float>(next() % 2001u) / 1000.0f - 1.0f) * amount; }

private:
    uint32_t state = 12345u;
};

void appendFrame(NoteSequence& notes, int32_t frame, float pitch, int16_t level, Lcg& rng)
{
    const float frequency = 440.0f * std::pow(2.0f, (pitch - 69.0f) / 12.0f);
    constexpr int32_t kCandidates = 6;
    RawFrame raw{frame, kCandidates, frequency, pitch, level, new int16_t[kCandidates]};
    raw.candidates[0] = static_cast<int16_t>(frequency);
    raw.candidates[1] = static_cast<int16_t>(frequency * 2.0f);
    raw.candidates[2] = static_cast<int16_t>(frequency * 1.5f);
    for (int32_t c = 3; c < kCandidates; ++c)
        raw.candidates[c] = static_cast<int16_t>(frequency + rng.jitter(6.0f));
    notes.raw->append(raw);
    if (level > notes.maxLevel)
        notes.maxLevel = level;
}

void fillTake(NoteSequence& notes, int32_t seconds)
{
    static const int32_t kScale[] = {0, 2, 4, 5, 7, 9, 11, 12};
    notes.beginRecording(false);
    Lcg rng;
    const int32_t totalFrames = static_cast<int32_t>(seconds * kFramesPerSecond);
    int32_t frame = 0;
    while (frame < totalFrames) {
        const int32_t phraseNotes = rng.between(3, 8);
        for (int32_t n = 0; n < phraseNotes && frame < totalFrames; ++n) {
            const float pitch = static_cast<float>(57 + kScale[rng.between(0, 7)]);
            const int32_t length = rng.between(4, 24);
            const int16_t level = static_cast<int16_t>(rng.between(800, 6000));
            for (int32_t i = 0; i < length && frame < totalFrames; ++i, ++frame) {
                const bool octaveError = rng.between(0, 60) == 0;
                appendFrame(notes, frame, pitch + rng.jitter(0.2f) - (octaveError ? 12.0f : 0.0f), level, rng);
            }
        }
        const int32_t gap = rng.between(3, 12);
        if (rng.between(0, 2) == 0 && frame + gap / 2 < totalFrames)
            appendFrame(notes, frame + gap / 2, 60.0f, 400, rng);
        frame += gap;
    }
}

void BM_CleanAndRecognise(benchmark::State& state)
{
    const int32_t seconds = static_cast<int32_t>(state.range(0));
    NoteSequence notes;
    for (auto _ : state) {
        state.PauseTiming();
        fillTake(notes, seconds);
        state.ResumeTiming();
        cleanRawTrack(notes);
        benchmark::DoNotOptimize(recognise(notes, true));
    }
    state.counters["rawFrames"] = notes.raw->count;
    state.counters["notes"] = notes.count;
}
BENCHMARK(BM_CleanAndRecognise)->Arg(10)->Arg(60)->Arg(600)->Unit(benchmark::kMillisecond);

void BM_Recognise(benchmark::State& state)
{
    const int32_t seconds = static_cast<int32_t>(state.range(0));
    NoteSequence notes;
    fillTake(notes, seconds);
    cleanRawTrack(notes);
    for (auto _ : state)
        benchmark::DoNotOptimize(recognise(notes, true));
    state.counters["rawFrames"] = notes.raw->count;
    state.counters["notes"] = notes.count;
}
BENCHMARK(BM_Recognise)->Arg(10)->Arg(60)->Arg(600)->Unit(benchmark::kMillisecond);

} // namespace
