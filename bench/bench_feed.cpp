// Cost of analysing one 28 ms buffer (618 samples, 22050 Hz mono 16-bit): a sung-like
// voiced frame, a silent frame and a noise frame. A buffer must be analysed well within
// the 28 ms before the next one arrives.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "analysis/Tv2m.h"

namespace {

constexpr int kChunkSamples = 618;
constexpr int kChunkCount = 64;    // distinct buffers, cycled
constexpr int kFramesPerTake = 2048; // the raw track is restarted after this many frames

using Chunks = std::vector<std::vector<uint8_t>>;

std::vector<uint8_t> encode(const std::vector<double>& signal, size_t from)
{
    std::vector<uint8_t> bytes(kChunkSamples * 2);
    for (int i = 0; i < kChunkSamples; ++i) {
        const auto s = static_cast<int16_t>(std::lround(12000 * signal[from + static_cast<size_t>(i)]));
        bytes[2 * static_cast<size_t>(i)] = static_cast<uint8_t>(s & 0xff);
        bytes[2 * static_cast<size_t>(i) + 1] = static_cast<uint8_t>((s >> 8) & 0xff);
    }
    return bytes;
}

Chunks chunksOf(const std::vector<double>& signal)
{
    Chunks chunks;
    for (int c = 0; c < kChunkCount; ++c)
        chunks.push_back(encode(signal, static_cast<size_t>(c) * kChunkSamples));
    return chunks;
}

// 196 Hz with five harmonics and a vibrato of half a semitone.
Chunks sungChunks()
{
    std::vector<double> signal(kChunkSamples * kChunkCount);
    double phase = 0;
    for (size_t i = 0; i < signal.size(); ++i) {
        const double t = static_cast<double>(i) / 22050;
        phase += 2 * M_PI * 196.0 * std::pow(2.0, 0.5 / 12 * std::sin(2 * M_PI * 5.5 * t)) / 22050;
        double v = 0;
        for (int h = 1; h <= 5; ++h)
            v += std::sin(h * phase) / (h * 2.3);
        signal[i] = v;
    }
    return chunksOf(signal);
}

Chunks silentChunks()
{
    return chunksOf(std::vector<double>(kChunkSamples * kChunkCount, 0.0));
}

Chunks noiseChunks()
{
    std::mt19937 random(11);
    std::uniform_real_distribution<double> noise(-1.0, 1.0);
    std::vector<double> signal(kChunkSamples * kChunkCount);
    for (double& v : signal)
        v = noise(random);
    return chunksOf(signal);
}

void feedChunks(benchmark::State& state, const Chunks& chunks)
{
    const WAVEFORMATEX format = kMicrophoneFormat;
    NoteSequence sequence;
    PitchAnalyser analyser;
    analyser.setupParams(sequence, &format);
    analyser.begin(&sequence, false);
    int64_t rawFrames = 0;
    int64_t fed = 0;
    for (auto _ : state) {
        if (analyser.frameCounter == kFramesPerTake) {
            state.PauseTiming();
            rawFrames += sequence.raw->count;
            analyser.setupParams(sequence, &format);
            analyser.begin(&sequence, false);
            state.ResumeTiming();
        }
        const std::vector<uint8_t>& chunk = chunks[static_cast<size_t>(fed++ % kChunkCount)];
        analyser.feed(chunk.data(), static_cast<uint32_t>(chunk.size()));
    }
    rawFrames += sequence.raw->count;
    state.counters["raw_frames_per_feed"] = fed > 0 ? static_cast<double>(rawFrames) / static_cast<double>(fed) : 0.0;
}

void BM_FeedVoiced(benchmark::State& state)
{
    feedChunks(state, sungChunks());
}

void BM_FeedSilence(benchmark::State& state)
{
    feedChunks(state, silentChunks());
}

void BM_FeedNoise(benchmark::State& state)
{
    feedChunks(state, noiseChunks());
}

} // namespace

BENCHMARK(BM_FeedVoiced);
BENCHMARK(BM_FeedSilence);
BENCHMARK(BM_FeedNoise);
