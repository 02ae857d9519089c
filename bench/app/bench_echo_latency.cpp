// Echo latency of a microphone take: from the moment the first sample of a sung note
// enters the input to the moment the echo's note-on reaches the MIDI output: the
// synthesiser's input, or (BM_EchoLatencyAtJackPort) the frame of the program's JACK
// port at which a connected program receives it, read by a client on the server that
// scripts/with-jack-server.sh starts (256-frame periods). The input is the virtual wave
// device paced in real time by the steady clock, so the figure holds the program's own
// part: waiting for the 28 ms buffer to fill, the analysis until the frame is voiced, the
// echo, and the MIDI output (at the JACK port: its one period of latency). The sound
// server's recording latency and the synthesiser's output buffer come on top.
//
// When a buffer's UM_POSITION is posted is stamped as it happens; the earliest posting
// relative to each buffer's last sample gives the time the input started, and with it
// the time the note's first sample came in.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "../../tests/midi/JackTestClient.h"
#include "app/ControlPanel.h"
#include "app/ConversionController.h"
#include "platform/CaptureMidiSink.h"
#include "platform/JackMidiSink.h"
#include "platform/MidiDevices.h"
#include "platform/VirtualWaveDriver.h"
#include "platform/WaveClock.h"
#include "platform/WindowMessages.h"

namespace {

using namespace std::chrono_literals;

constexpr uint32_t kRate = 22050;
constexpr uint32_t kChunkSamples = 618;
constexpr uint32_t kSilenceSamples = kRate / 2;
constexpr uint32_t kToneSamples = kRate;
constexpr int kTakes = 10;

int64_t steadyMicroseconds()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// About half a second of silence, then a second of a hummed G3 (196 Hz, five harmonics).
std::vector<uint8_t> silenceThenNote(uint32_t silence)
{
    std::vector<uint8_t> bytes((silence + kToneSamples) * 2, 0);
    const double harmonics[] = {1.0, 0.55, 0.3, 0.18, 0.1};
    for (uint32_t i = 0; i < kToneSamples; ++i) {
        const double t = static_cast<double>(i) / kRate;
        double value = 0;
        for (int k = 0; k < 5; ++k)
            value += harmonics[k] * std::sin(2 * M_PI * 196.0 * (k + 1) * t);
        const auto sample = static_cast<int16_t>(std::lround(9000.0 * value / 2.13 * std::min(1.0, t / 0.01)));
        const size_t at = (silence + i) * 2;
        bytes[at] = static_cast<uint8_t>(sample & 0xFF);
        bytes[at + 1] = static_cast<uint8_t>((sample >> 8) & 0xFF);
    }
    return bytes;
}

// Stamps each buffer's UM_POSITION with the time it was posted.
class StampingTarget : public MessageTarget {
public:
    explicit StampingTarget(MessageTarget& inner) : inner_(inner) {}

    bool post(uint32_t msg, WPARAM wParam, LPARAM lParam) override
    {
        if (msg == UM_POSITION && wParam > 0) {
            std::lock_guard<std::mutex> guard(mutex_);
            stamps_.emplace_back(static_cast<int64_t>(wParam), steadyMicroseconds());
        }
        return inner_.post(msg, wParam, lParam);
    }

    // When the input's first sample came in: the earliest posting, less the time the
    // buffer it reports took to fill.
    int64_t inputStartUs()
    {
        std::lock_guard<std::mutex> guard(mutex_);
        int64_t start = INT64_MAX;
        for (const auto& [frames, at] : stamps_)
            start = std::min(start, at - frames * kChunkSamples * 1000000 / kRate);
        return start;
    }

private:
    MessageTarget& inner_;
    std::mutex mutex_;
    std::vector<std::pair<int64_t, int64_t>> stamps_;
};

class StampingLoop : public MessageLoop {
public:
    explicit StampingLoop(PumpedMessageLoop& inner) : inner_(inner), target_(inner.target()) {}

    MessageTarget& target() override { return target_; }
    void setTimer(TimerId timer, std::chrono::milliseconds interval) override { inner_.setTimer(timer, interval); }
    void killTimer(TimerId timer) override { inner_.killTimer(timer); }
    void processMessages() override { inner_.processMessages(); }
    StampingTarget& stamps() { return target_; }

private:
    PumpedMessageLoop& inner_;
    StampingTarget target_;
};

// Where the echo goes, and when its first note-on came out there.
class EchoOutput {
public:
    virtual ~EchoOutput() = default;
    // The output's entry in the device list.
    virtual int32_t listEntry() const = 0;
    // Steady-clock microseconds; -1 when no echo note came.
    virtual int64_t noteOnUs() = 0;
};

bool isEchoNoteOn(uint32_t message)
{
    return (message & 0xFF) == 0x90 && ((message >> 16) & 0xFF) == kEchoVelocity;
}

// A capture device: the moment the stream hands the note-on to its sink.
class CapturedEcho : public EchoOutput {
public:
    int32_t listEntry() const override { return static_cast<int32_t>(capture.id()) + 1; }
    int64_t noteOnUs() override
    {
        for (const CapturedMidiMessage& m : log.messages()) {
            if (isEchoNoteOn(m.message))
                return m.timeUs;
        }
        return -1;
    }

private:
    CaptureMidiLog log;
    SteadyMidiClock midiClock;
    PrivateMidiDevice capture{[this](std::unique_ptr<MidiSink>& sink) {
                                  sink = std::make_unique<CaptureMidiSink>(log);
                                  return kMidiOk;
                              },
                              midiClock};
};

// The JACK port: the time of the frame at which a connected client receives the note-on.
class JackPortEcho : public EchoOutput {
public:
    explicit JackPortEcho(int32_t deviceId) : entry(deviceId + 1)
    {
        connected = daw.ready() && connectJackMidiOutput("lirrosa-test:midi_in") == kMidiOk;
    }
    bool ready() const { return connected; }
    int32_t listEntry() const override { return entry; }
    int64_t noteOnUs() override
    {
        // The note-on may still be in the port's last period.
        std::this_thread::sleep_for(50ms);
        for (const ReceivedMidi& m : daw.received()) {
            if (isEchoNoteOn(m.message))
                return daw.steadyUsAtFrame(m.frame);
        }
        return -1;
    }

private:
    int32_t entry;
    JackTestClient daw;
    bool connected = false;
};

// One take of a note that starts after `silence` samples; returns the latency in
// microseconds, or -1 when no echo came.
double measureOnce(uint32_t silence, EchoOutput& output)
{
    const std::vector<uint8_t> samples = silenceThenNote(silence);
    SteadyWaveClock waveClock;
    SampleSource source(kMicrophoneFormat, samples);
    VirtualWaveDriver driver(&source, &waveClock);
    PumpedMessageLoop pumped;
    StampingLoop loop(pumped);
    ControlPanel panel; // microphone, MIDI echo
    panel.midiOutList = output.listEntry();
    ConversionController controller(panel, panel, loop, driver);
    pumped.setHandler(&controller);

    controller.ibtn_ConvertClick();
    const auto until = std::chrono::steady_clock::now() + 1800ms;
    while (std::chrono::steady_clock::now() < until)
        pumped.pumpOnce(5ms);
    controller.ibtn_StopClick();

    const int64_t noteInUs = loop.stamps().inputStartUs() + int64_t{silence} * 1000000 / kRate;
    const int64_t noteOutUs = output.noteOnUs();
    return noteOutUs < 0 ? -1 : static_cast<double>(noteOutUs - noteInUs);
}

void reportLatencies(benchmark::State& state, std::vector<double> latencies)
{
    std::sort(latencies.begin(), latencies.end());
    state.counters["median_ms"] = latencies[latencies.size() / 2] / 1000;
    state.counters["worst_ms"] = latencies.back() / 1000;
    state.counters["best_ms"] = latencies.front() / 1000;
}

// The takes put the note's start at evenly spread places within a 28 ms buffer.
void BM_EchoLatency(benchmark::State& state)
{
    std::vector<double> latencies;
    uint32_t take = 0;
    for (auto _ : state) {
        CapturedEcho output;
        const double us = measureOnce(kSilenceSamples + take++ * kChunkSamples / kTakes, output);
        if (us < 0) {
            state.SkipWithError("no echo note came");
            return;
        }
        latencies.push_back(us);
        state.SetIterationTime(us / 1e6);
    }
    reportLatencies(state, latencies);
}
BENCHMARK(BM_EchoLatency)->UseManualTime()->Iterations(kTakes)->Unit(benchmark::kMillisecond);

void BM_EchoLatencyAtJackPort(benchmark::State& state)
{
    int32_t deviceId = -1;
    for (uint32_t id = 0; id < midiOutDeviceCount(); ++id) {
        if (midiOutDeviceName(id) == kJackMidiOutputName)
            deviceId = static_cast<int32_t>(id);
    }
    if (deviceId < 0) {
        state.SkipWithError("no JACK server; run the benchmark inside scripts/with-jack-server.sh");
        return;
    }
    std::vector<double> latencies;
    uint32_t take = 0;
    for (auto _ : state) {
        JackPortEcho output(deviceId);
        if (!output.ready()) {
            state.SkipWithError("the receiving JACK client could not be connected");
            return;
        }
        const double us = measureOnce(kSilenceSamples + take++ * kChunkSamples / kTakes, output);
        if (us < 0) {
            state.SkipWithError("no echo note came");
            return;
        }
        latencies.push_back(us);
        state.SetIterationTime(us / 1e6);
    }
    reportLatencies(state, latencies);
}
BENCHMARK(BM_EchoLatencyAtJackPort)->UseManualTime()->Iterations(kTakes)->Unit(benchmark::kMillisecond);

} // namespace
