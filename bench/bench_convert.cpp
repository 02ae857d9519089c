// End-to-end conversion cost: load a WAV file, analyse it chunk by chunk, recognise the
// notes with either engine and write the MIDI file, for takes of growing length.

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <string>

#include "../tests/support/Synth.h"
#include "audio/Wav_func.h"
#include "cli/ConvertJob.h"

namespace {

std::string writeTake(int seconds)
{
    const std::vector<int16_t> samples = synth::longMelody(seconds, 22050);
    const std::string path = "/tmp/lirrosa-bench-" + std::to_string(::getpid()) + "-" + std::to_string(seconds) + ".wav";
    WriteWaveFile(path, kMicrophoneFormat, static_cast<uint32_t>(samples.size() * 2),
                  reinterpret_cast<const uint8_t*>(samples.data()));
    return path;
}

void convertFile(benchmark::State& state, RecognitionEngine engine)
{
    const int seconds = static_cast<int>(state.range(0));
    const std::string input = writeTake(seconds);
    ConvertOptions options;
    options.engine = engine;
    options.midiPath = input + ".mid";
    options.force = true;
    options.showProgress = false;
    for (auto _ : state) {
        WAVEFORMATEX format;
        SampleStore store;
        LoadWaveFile(input, format, store);
        if (convertTake(format, store, options) != 0)
            state.SkipWithError("conversion failed");
    }
    state.counters["audio_s"] = seconds;
    state.counters["x_realtime"] =
        benchmark::Counter(static_cast<double>(seconds) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
    ::unlink(input.c_str());
    ::unlink(options.midiPath.c_str());
}

void BM_ConvertFile(benchmark::State& state) { convertFile(state, RecognitionEngine::Classic); }

// The precise engine analyses the whole take again after the classic analysis has run.
void BM_ConvertFilePrecise(benchmark::State& state) { convertFile(state, RecognitionEngine::Precise); }

} // namespace

BENCHMARK(BM_ConvertFile)->Arg(10)->Arg(60)->Arg(120)->Arg(300)->Arg(600)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertFilePrecise)->Arg(10)->Arg(60)->Arg(600)->Unit(benchmark::kMillisecond);
