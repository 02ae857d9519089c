// Scheduling lateness of a MIDI stream playing in real time, and the speed of offline
// rendering through the built-in synthesiser.
//
//   bench_midi --benchmark_filter=Lateness   median and worst lateness in microseconds
//   bench_midi --benchmark_filter=Render     seconds of music rendered per second

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <vector>

#include "midi/MidiRender.h"
#include "platform/AutoResetEvent.h"
#include "platform/MidiDevices.h"
#include "platform/MidiStream.h"

namespace {

// Records how late each message arrives against the time it was due.
class LatenessSink : public MidiSink {
public:
    explicit LatenessSink(std::vector<int64_t>& lateness) : lateness(lateness) {}
    MidiResult send(uint32_t message, int64_t timeUs) override
    {
        if ((message & 0xF0) == 0x90)
            lateness.push_back(steadyMidiClock().nowUs() - timeUs);
        return kMidiOk;
    }

private:
    std::vector<int64_t>& lateness;
};

// Notes every `intervalTicks` at 480 ticks per quarter and 120 BPM (1.04 ms a tick).
std::vector<uint32_t> noteEvents(int count, uint32_t intervalTicks)
{
    std::vector<uint32_t> words;
    for (int i = 0; i < count; ++i) {
        const uint32_t note = 60 + i % 12;
        words.insert(words.end(), {intervalTicks, 0, 0x90 | note << 8 | 100u << 16});
        words.insert(words.end(), {intervalTicks, 0, 0x80 | note << 8});
    }
    return words;
}

void BM_StreamLateness(benchmark::State& state)
{
    std::vector<int64_t> lateness;
    lateness.reserve(4096);
    PrivateMidiDevice device(
        [&lateness](std::unique_ptr<MidiSink>& sink) {
            sink = std::make_unique<LatenessSink>(lateness);
            return kMidiOk;
        },
        steadyMidiClock());
    std::vector<uint32_t> words = noteEvents(static_cast<int>(state.range(0)), 5);

    for (auto _ : state) {
        lateness.clear();
        AutoResetEvent done;
        std::unique_ptr<MidiStream> stream;
        if (MidiStream::open(device.id(), [&done](MidiNotification, MidiHeader*) { done.set(); }, stream) != kMidiOk) {
            state.SkipWithError("cannot open the stream");
            return;
        }
        stream->setTimeDivision(480);
        stream->setTempo(500000);
        done.reset();
        const uint32_t bytes = static_cast<uint32_t>(words.size() * 4);
        MidiHeader header{words.data(), bytes, bytes, 0, nullptr};
        stream->prepareHeader(header);
        stream->out(header);
        stream->restart();
        done.wait();
        stream->unprepareHeader(header);
        stream.reset();
    }
    std::sort(lateness.begin(), lateness.end());
    state.counters["median_us"] = static_cast<double>(lateness[lateness.size() / 2]);
    state.counters["p99_us"] = static_cast<double>(lateness[lateness.size() * 99 / 100]);
    state.counters["worst_us"] = static_cast<double>(lateness.back());
}
BENCHMARK(BM_StreamLateness)->Arg(400)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_RenderNotes(benchmark::State& state)
{
    // One minute of quarter notes at 120 BPM.
    NoteSequence notes;
    for (int i = 0; i < 120; ++i)
        notes.append(NoteEvent{i * 480, 400, static_cast<uint8_t>(55 + i % 17), 100, 0});
    const double musicSeconds = 60.0;
    double renderSeconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        std::vector<int16_t> samples = renderPlayback(notes, PlayNotes, 22050);
        renderSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        benchmark::DoNotOptimize(samples.data());
    }
    state.counters["times_real_time"] = musicSeconds * static_cast<double>(state.iterations()) / renderSeconds;
}
BENCHMARK(BM_RenderNotes)->Unit(benchmark::kMillisecond);

} // namespace
