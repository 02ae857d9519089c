// The controller on a real PulseAudio server, with the built-in synthesiser. Run through
// scripts/with-sound-server.sh, which starts a private server whose default input is the
// monitor of the null sink "micsink" and whose default output is the null sink "spk":
// the melody played into micsink is what the take hears, and the echo the synthesiser
// plays can be heard on spk's monitor. Without PULSE_SERVER the test is skipped.

#include <gtest/gtest.h>
#include <pulse/error.h>
#include <pulse/simple.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <thread>

#include "../support/ServerRequired.h"
#include "ControllerTestSupport.h"

namespace {

const pa_sample_spec kSpec{PA_SAMPLE_S16LE, 22050, 1};
constexpr size_t kBlockSamples = 2205; // 100 ms

#define SKIP_WITHOUT_SERVER()                                                                                        \
    if (std::getenv("PULSE_SERVER") == nullptr) {                                                                      \
        SKIP_WITHOUT_SERVER_BECAUSE("no sound server (PULSE_SERVER is not set); run through scripts/with-sound-server.sh"); \
    }

// Plays `samples` into the sink `sink` and waits until they have been played.
bool playInto(const char* sink, const std::vector<uint8_t>& samples, std::string& error)
{
    int code = 0;
    pa_simple* stream =
        pa_simple_new(nullptr, "lirrosa-test", PA_STREAM_PLAYBACK, sink, "singer", &kSpec, nullptr, nullptr, &code);
    if (stream == nullptr) {
        error = pa_strerror(code);
        return false;
    }
    const bool ok = pa_simple_write(stream, samples.data(), samples.size(), &code) == 0 &&
                    pa_simple_drain(stream, &code) == 0;
    if (!ok)
        error = pa_strerror(code);
    pa_simple_free(stream);
    return ok;
}

// Records the source `source` in 100 ms blocks until told to stop.
class Listener {
public:
    explicit Listener(const char* source)
    {
        int code = 0;
        stream_ = pa_simple_new(nullptr, "lirrosa-test", PA_STREAM_RECORD, source, "listener", &kSpec, nullptr,
                                nullptr, &code);
        if (stream_ == nullptr) {
            error = pa_strerror(code);
            return;
        }
        thread_ = std::thread([this] {
            std::vector<int16_t> block(kBlockSamples);
            int readCode = 0;
            // A monitor delivers a block every 100 ms; a minute is the most a test waits.
            for (int i = 0; i < 600 && !stop_; ++i) {
                if (pa_simple_read(stream_, block.data(), block.size() * 2, &readCode) != 0)
                    break;
                std::lock_guard<std::mutex> guard(mutex_);
                heard_.insert(heard_.end(), block.begin(), block.end());
            }
        });
    }
    ~Listener()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        if (stream_ != nullptr)
            pa_simple_free(stream_);
    }

    bool listening() const { return stream_ != nullptr; }
    std::vector<int16_t> heard()
    {
        std::lock_guard<std::mutex> guard(mutex_);
        return heard_;
    }

    std::string error;

private:
    pa_simple* stream_ = nullptr;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<int16_t> heard_;
};

double rms(const std::vector<int16_t>& samples)
{
    double sum = 0;
    for (int16_t s : samples)
        sum += static_cast<double>(s) * s;
    return samples.empty() ? 0 : std::sqrt(sum / static_cast<double>(samples.size()));
}

TEST(ControllerOnPulseAudio, MicrophoneTakeWithMidiEchoGivesTheMelodyAndTheEchoIsHeard)
{
    SKIP_WITHOUT_SERVER();
    songSettings = SongSettings{};
    storedSongSettings = SongSettings{};
    ScriptedNotifier notifier;
    PumpedMessageLoop loop;
    RecordingPanel panel; // microphone, MIDI echo, default devices: the server and the synthesiser
    MessageSpy spy;
    loop.setHandler(&spy);
    auto controller = std::make_unique<ConversionController>(panel, panel, loop, systemWaveDriver());
    spy.controller = controller.get();
    auto pumpFor = [&](std::chrono::milliseconds span) {
        const auto until = std::chrono::steady_clock::now() + span;
        while (std::chrono::steady_clock::now() < until)
            loop.pumpOnce(10ms);
    };

    Listener speaker("spk.monitor");
    ASSERT_TRUE(speaker.listening()) << speaker.error;
    controller->ibtn_ConvertClick();
    ASSERT_FALSE(controller->isStopped()) << "the take did not start (no input, or the synthesiser failed)";
    ASSERT_TRUE(controller->midiOut().isOpen.load());
    pumpFor(1000ms); // the record stream starts

    std::atomic<bool> sung{false};
    std::string singError;
    std::thread singer([&] {
        playInto("micsink", melodySamples(), singError);
        sung = true;
    });
    const auto giveUp = std::chrono::steady_clock::now() + 30s;
    while (!sung && std::chrono::steady_clock::now() < giveUp)
        loop.pumpOnce(10ms);
    singer.join();
    ASSERT_TRUE(singError.empty()) << singError;
    pumpFor(1000ms); // the monitor's last blocks
    controller->ibtn_StopClick();
    pumpFor(300ms);
    const std::vector<int16_t> heard = speaker.heard();

    EXPECT_EQ(noteNumbers(controller->notes()), kMelodyNotes);
    EXPECT_GT(spy.count(UM_POSITION), 300); // 8.8 s of 28 ms chunks, and the wait around them
    // The synthesiser's echo reached the output: the speaker's monitor is far from silent.
    ASSERT_GT(heard.size(), 5 * 22050u);
    int loudBlocks = 0;
    for (size_t b = 0; b + kBlockSamples <= heard.size(); b += kBlockSamples)
        loudBlocks += rms(std::vector<int16_t>(heard.begin() + b, heard.begin() + b + kBlockSamples)) > 50 ? 1 : 0;
    std::printf("echo heard on spk in %d of %zu blocks of 100 ms\n", loudBlocks, heard.size() / kBlockSamples);
    // The melody is sung for 8.8 s, with a breath between the notes.
    EXPECT_GE(loudBlocks, 50);
    controller.reset();
}

} // namespace
