// The recorder and the player on a real PulseAudio server. Run through
// scripts/with-sound-server.sh, which starts a private server whose default input is the
// monitor of the null sink "micsink" and whose default output is the null sink "spk":
// what is played into micsink is what the recorder hears, and what the player plays can
// be heard on spk's monitor. Without PULSE_SERVER these tests are skipped, except those
// that need no server or start their own.

#include <gtest/gtest.h>
#include <pulse/error.h>
#include <pulse/simple.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <regex>
#include <sstream>
#include <thread>

#include "../support/ServerRequired.h"
#include "AudioTestSupport.h"
#include "audio/M_stack.h"
#include "audio/Wav_func.h"
#include "cli/ConvertCommand.h"
#include "platform/PulseWaveDriver.h"
#include "platform/WindowMessages.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kChunk = 1236;
const pa_sample_spec kSpec{PA_SAMPLE_S16LE, 22050, 1};

#define SKIP_WITHOUT_SERVER()                                                                                        \
    if (getenv("PULSE_SERVER") == nullptr) {                                                                      \
        SKIP_WITHOUT_SERVER_BECAUSE("no sound server (PULSE_SERVER is not set); run through scripts/with-sound-server.sh"); \
    }

std::vector<int16_t> samplesOf(const std::vector<uint8_t>& bytes)
{
    std::vector<int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

std::vector<int16_t> loadMelody()
{
    WAVEFORMATEX format{};
    SampleStore store;
    EXPECT_TRUE(LoadWaveFile(LIRROSA_SOURCE_DIR "/examples/melody.wav", format, store));
    EXPECT_EQ(format.nSamplesPerSec, 22050u);
    return samplesOf(std::vector<uint8_t>(store.data, store.data + store.validCount));
}

// The part of `samples` from the first sound on. A monitor may miss the first moments of
// what is played into its sink, so the silence before the melody is not looked for.
std::vector<int16_t> fromFirstSound(const std::vector<int16_t>& samples)
{
    const auto sound = std::find_if(samples.begin(), samples.end(), [](int16_t s) { return std::abs(s) > 100; });
    return std::vector<int16_t>(sound, samples.end());
}

// Plays `samples` into the sink named `sink` and waits until they have been played.
void playInto(const char* sink, const std::vector<int16_t>& samples)
{
    int error = 0;
    pa_simple* stream =
        pa_simple_new(nullptr, "lirrosa-test", PA_STREAM_PLAYBACK, sink, "feed", &kSpec, nullptr, nullptr, &error);
    ASSERT_NE(stream, nullptr) << "cannot play into " << sink << ": " << pa_strerror(error);
    EXPECT_EQ(pa_simple_write(stream, samples.data(), samples.size() * 2, &error), 0) << pa_strerror(error);
    EXPECT_EQ(pa_simple_drain(stream, &error), 0) << pa_strerror(error);
    pa_simple_free(stream);
}

// Records `count` samples from the source named `source`.
std::vector<int16_t> recordFrom(const char* source, size_t count)
{
    int error = 0;
    std::vector<int16_t> samples(count);
    pa_simple* stream =
        pa_simple_new(nullptr, "lirrosa-test", PA_STREAM_RECORD, source, "listen", &kSpec, nullptr, nullptr, &error);
    EXPECT_NE(stream, nullptr) << "cannot record from " << source << ": " << pa_strerror(error);
    if (stream == nullptr)
        return {};
    EXPECT_EQ(pa_simple_read(stream, samples.data(), samples.size() * 2, &error), 0) << pa_strerror(error);
    pa_simple_free(stream);
    return samples;
}

double correlationAt(const std::vector<int16_t>& signal, size_t offset, const std::vector<int16_t>& pattern)
{
    double product = 0, signalEnergy = 0, patternEnergy = 0;
    for (size_t i = 0; i < pattern.size(); ++i) {
        const double s = signal[offset + i];
        const double p = pattern[i];
        product += s * p;
        signalEnergy += s * s;
        patternEnergy += p * p;
    }
    return signalEnergy > 0 && patternEnergy > 0 ? product / std::sqrt(signalEnergy * patternEnergy) : 0;
}

struct Match {
    size_t offset = 0;
    double correlation = 0;
};

// Where `pattern` lies in `signal`: first by the correlation of their loudness envelopes
// (blocks of 32 samples), then sample by sample around the best block.
Match findByCorrelation(const std::vector<int16_t>& signal, const std::vector<int16_t>& pattern)
{
    if (signal.size() < pattern.size())
        return {};
    constexpr size_t kBlock = 32;
    auto envelope = [](const std::vector<int16_t>& samples) {
        std::vector<int16_t> blocks(samples.size() / kBlock);
        for (size_t b = 0; b < blocks.size(); ++b) {
            int32_t sum = 0;
            for (size_t i = 0; i < kBlock; ++i)
                sum += std::abs(samples[b * kBlock + i]);
            blocks[b] = static_cast<int16_t>(sum / kBlock);
        }
        return blocks;
    };
    const std::vector<int16_t> signalBlocks = envelope(signal);
    const std::vector<int16_t> patternBlocks = envelope(pattern);
    size_t bestBlock = 0;
    double best = -1;
    for (size_t b = 0; b + patternBlocks.size() <= signalBlocks.size(); ++b) {
        const double c = correlationAt(signalBlocks, b, patternBlocks);
        if (c > best) {
            best = c;
            bestBlock = b;
        }
    }
    Match match;
    const size_t from = bestBlock * kBlock > 2 * kBlock ? bestBlock * kBlock - 2 * kBlock : 0;
    const size_t to = std::min(bestBlock * kBlock + 2 * kBlock, signal.size() - pattern.size());
    for (size_t offset = from; offset <= to; ++offset) {
        const double c = correlationAt(signal, offset, pattern);
        if (c > match.correlation)
            match = {offset, c};
    }
    return match;
}

// A take on the real server: the recorder's buffer cycle, keeping every byte with the
// time it arrived.
class Take {
public:
    explicit Take(uint32_t deviceId = WAVE_MAPPER) : recorder_(systemWaveDriver())
    {
        current_ = this;
        recorder_.dataCallback = keep;
        opened_ = recorder_.open(kMicrophoneFormat, deviceId);
    }
    ~Take() { current_ = nullptr; }

    bool opened() const { return opened_; }
    WaveRecorder& recorder() { return recorder_; }

    bool start()
    {
        if (!recorder_.start(nullptr, &window_))
            return false;
        for (int i = 0; i < 5; ++i)
            recorder_.queueBuffer(newAudioBuffer(kChunk), kChunk, 1);
        return true;
    }

    // Runs the window thread's part until `done` holds or `timeout` passes.
    void pump(const std::function<bool()>& done, std::chrono::milliseconds timeout)
    {
        pumpUntil(window_, [this](const WindowMessage& m) { handle(m); }, done, timeout);
    }

    // Stops and closes the recorder and releases every buffer that comes back.
    void finish()
    {
        recorder_.close();
        pump([this] { return recorder_.preparedCount == 0; }, 5000ms);
    }

    std::vector<int16_t> samples()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return samplesOf(bytes_);
    }

    // When the buffer holding sample `index` reached the callback.
    Clock::time_point arrivalOf(size_t index)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return arrivals_[std::min(index * 2 / kChunk, arrivals_.size() - 1)];
    }

    int returned = 0;

private:
    static void keep(WaveRecorder* recorder, uint8_t* data, uint32_t length, uint32_t, uint32_t)
    {
        if (!recorder->started)
            return;
        std::lock_guard<std::mutex> lock(current_->mutex_);
        current_->bytes_.insert(current_->bytes_.end(), data, data + length);
        current_->arrivals_.push_back(Clock::now());
    }

    void handle(const WindowMessage& message)
    {
        if (message.msg != UM_IN_BUFFER_DONE)
            return;
        ++returned;
        recorder_.releaseHeader(reinterpret_cast<WAVEHDR*>(message.wParam), true);
        if (recorder_.started)
            recorder_.queueBuffer(newAudioBuffer(kChunk), kChunk, 1);
    }

    static inline Take* current_ = nullptr;
    WaveRecorder recorder_;
    MessageQueue window_;
    bool opened_ = false;
    std::mutex mutex_;
    std::vector<uint8_t> bytes_;
    std::vector<Clock::time_point> arrivals_;
};

// The notes that the conversion of a take finds, read from its JSON report.
std::vector<int> notesOfTake(const std::vector<int16_t>& samples, const std::string& name)
{
    const std::string base = std::string(LIRROSA_TEST_OUTPUT_DIR) + "/" + name;
    const std::string jsonPath = base + ".json";
    EXPECT_TRUE(WriteWaveFile(base + ".wav", kMicrophoneFormat, static_cast<uint32_t>(samples.size() * 2),
                              reinterpret_cast<const uint8_t*>(samples.data())));
    EXPECT_EQ(runConvertCommand({base + ".wav", "-o", base + ".mid", "--json", jsonPath, "--force", "--quiet"}), 0);
    std::ifstream file(jsonPath);
    std::stringstream text;
    text << file.rdbuf();
    const std::string report = text.str();
    std::vector<int> notes;
    const size_t list = report.find("\"notes\"");
    const std::regex note("\"note\": (\\d+)");
    for (auto it = std::sregex_iterator(report.begin() + static_cast<std::ptrdiff_t>(std::min(list, report.size())),
                                        report.end(), note);
         it != std::sregex_iterator(); ++it)
        notes.push_back(std::stoi((*it)[1]));
    return notes;
}

TEST(PulseWave, DeviceListsNameTheServersDevicesInAStableOrder)
{
    SKIP_WITHOUT_SERVER();
    WaveDriver& driver = systemWaveDriver();
    const uint32_t inputs = driver.inputCount();
    const uint32_t outputs = driver.outputCount();
    EXPECT_GE(inputs, 2u);  // the monitors of spk and micsink
    EXPECT_GE(outputs, 2u);
    std::vector<std::string> names;
    for (uint32_t i = 0; i < inputs; ++i)
        names.push_back(driver.inputName(i));
    for (const std::string& name : names)
        EXPECT_FALSE(name.empty());
    EXPECT_EQ(driver.inputCount(), inputs);
    for (uint32_t i = 0; i < inputs; ++i)
        EXPECT_EQ(driver.inputName(i), names[i]);
    EXPECT_EQ(driver.inputName(inputs), "");
}

TEST(PulseWave, RecordedTakeHoldsTheFedMelodyAndConvertsToItsNotes)
{
    SKIP_WITHOUT_SERVER();
    const std::vector<int16_t> melody = loadMelody();
    Take take;
    ASSERT_TRUE(take.opened()) << take.recorder().lastTrace.text;
    ASSERT_TRUE(take.start());

    std::atomic<bool> fed{false};
    std::thread feeder([&] {
        std::this_thread::sleep_for(300ms);
        playInto("micsink", melody);
        fed = true;
    });
    const auto fedAt = [&] { return fed.load(); };
    take.pump(fedAt, 30000ms);
    take.pump([] { return false; }, 1000ms);  // the monitor's last blocks
    feeder.join();
    take.finish();

    const std::vector<int16_t> recorded = take.samples();
    ASSERT_GT(recorded.size(), melody.size()) << "the take is shorter than the melody";
    const Match match = findByCorrelation(recorded, fromFirstSound(melody));
    std::printf("melody found at sample %zu of the take, correlation %.4f\n", match.offset, match.correlation);
    EXPECT_GT(match.correlation, 0.95);

    const std::vector<int> expected = notesOfTake(melody, "pulse_melody");
    const std::vector<int> found = notesOfTake(recorded, "pulse_take");
    EXPECT_FALSE(expected.empty());
    EXPECT_EQ(found, expected);
}

TEST(PulseWave, PlaybackThroughThePlayerReachesTheSink)
{
    SKIP_WITHOUT_SERVER();
    std::vector<int16_t> melody = loadMelody();
    melody.resize(3 * 22050);  // three seconds are enough to find
    const size_t chunkSamples = kChunk / 2;
    melody.resize(melody.size() / chunkSamples * chunkSamples);

    std::vector<int16_t> heard;
    std::thread listener([&] { heard = recordFrom("spk.monitor", 6 * 22050); });
    std::this_thread::sleep_for(500ms);

    WavePlayer player(systemWaveDriver());
    MessageQueue window;
    ASSERT_TRUE(player.open(kMicrophoneFormat, WAVE_MAPPER)) << player.lastTrace.text;
    ASSERT_TRUE(player.start(nullptr, &window));
    size_t next = 0;
    auto writeNext = [&] {
        if (next >= melody.size())
            return;
        auto* chunk = newAudioBuffer(kChunk);
        std::memcpy(chunk, melody.data() + next, kChunk);
        next += chunkSamples;
        ASSERT_TRUE(player.queueChunk(chunk, kChunk, 0)) << player.lastTrace.text;
    };
    for (int i = 0; i < 3; ++i)
        writeNext();
    int returned = 0;
    const int chunks = static_cast<int>(melody.size() / chunkSamples);
    const auto started = Clock::now();
    pumpUntil(
        window,
        [&](const WindowMessage& message) {
            ASSERT_EQ(message.msg, UM_OUT_BUFFER_DONE);
            player.releaseHeader(reinterpret_cast<WAVEHDR*>(message.wParam), true);
            ++returned;
            writeNext();
        },
        [&] { return returned == chunks; }, 20000ms);
    const auto playing = Clock::now() - started;
    std::printf("three seconds played in %lld ms\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(playing).count()));
    EXPECT_EQ(returned, chunks);
    // Played in real time: three seconds of sound take about three seconds.
    EXPECT_GT(playing, 2500ms);
    EXPECT_LT(playing, 15000ms);
    player.stop();
    EXPECT_TRUE(player.close());
    listener.join();

    const Match match = findByCorrelation(heard, fromFirstSound(melody));
    std::printf("played melody found at sample %zu of spk's monitor, correlation %.4f\n", match.offset,
                match.correlation);
#if defined(__SANITIZE_THREAD__)
    // Under ThreadSanitizer the test's window thread is too slow to keep the player's 84 ms
    // of sound queued: the melody arrives with gaps, so only its arrival is checked there.
    EXPECT_GT(match.correlation, 0.3);
#else
    EXPECT_GT(match.correlation, 0.95);
#endif
}

TEST(PulseWave, RecordedBufferReachesTheCallbackSoonAfterItsSoundEntersTheSource)
{
    SKIP_WITHOUT_SERVER();
    Take take;
    ASSERT_TRUE(take.opened()) << take.recorder().lastTrace.text;
    ASSERT_TRUE(take.start());
    take.pump([] { return false; }, 1500ms);  // the server settles

    // A click after silence, played into micsink: the moment it enters the sink (and so
    // the monitor source) is when it was written plus what was still queued before it.
    std::vector<int16_t> feed(22050 / 2, 0);
    feed.insert(feed.end(), 64, 20000);
    feed.insert(feed.end(), 22050 / 2, 0);
    Clock::time_point clickEnters;
    std::atomic<bool> fed{false};
    std::thread feeder([&] {
        int error = 0;
        pa_simple* stream = pa_simple_new(nullptr, "lirrosa-test", PA_STREAM_PLAYBACK, "micsink", "click", &kSpec,
                                          nullptr, nullptr, &error);
        ASSERT_NE(stream, nullptr) << pa_strerror(error);
        const size_t before = 22050 / 2;
        pa_simple_write(stream, feed.data(), before * 2, &error);
        const pa_usec_t queued = pa_simple_get_latency(stream, &error);
        clickEnters = Clock::now() + std::chrono::microseconds(queued);
        pa_simple_write(stream, feed.data() + before, (feed.size() - before) * 2, &error);
        pa_simple_drain(stream, &error);
        pa_simple_free(stream);
        fed = true;
    });
    take.pump([&] { return fed.load(); }, 10000ms);
    feeder.join();
    take.pump([] { return false; }, 500ms);
    take.finish();

    const std::vector<int16_t> recorded = take.samples();
    const auto click = std::find_if(recorded.begin(), recorded.end(), [](int16_t s) { return s > 10000; });
    ASSERT_NE(click, recorded.end()) << "the click was not recorded";
    const auto latency = std::chrono::duration_cast<std::chrono::milliseconds>(
        take.arrivalOf(static_cast<size_t>(click - recorded.begin())) - clickEnters);
    std::printf("latency from the click entering the source to its buffer's callback: %lld ms\n",
                static_cast<long long>(latency.count()));
    EXPECT_LT(latency, 500ms);
}

TEST(PulseWave, NoServerFailsAtOnceWithTheServersText)
{
    const char* previous = getenv("PULSE_SERVER");
    const std::string saved = previous != nullptr ? previous : "";
    setenv("PULSE_SERVER", "unix:/nonexistent/lirrosa/native", 1);
    PulseWaveDriver driver;
    WaveRecorder recorder(driver);
    WavePlayer player(driver);
    const auto before = Clock::now();
    EXPECT_FALSE(recorder.open(kMicrophoneFormat, WAVE_MAPPER));
    EXPECT_FALSE(player.open(kMicrophoneFormat, WAVE_MAPPER));
    EXPECT_EQ(driver.inputCount(), 0u);
    EXPECT_LT(Clock::now() - before, 5000ms);
    EXPECT_STREQ(recorder.lastTrace.step, "open()");
    EXPECT_NE(std::string(recorder.lastTrace.text).find("Sound server"), std::string::npos) << recorder.lastTrace.text;
    EXPECT_EQ(recorder.device.load(), nullptr);
    EXPECT_FALSE(recorder.close());
    if (previous != nullptr)
        setenv("PULSE_SERVER", saved.c_str(), 1);
    else
        unsetenv("PULSE_SERVER");
}

// A server of the test's own, which it can take away.
class PrivateServer {
public:
    PrivateServer()
    {
        char folder[] = "/tmp/lirrosa-test-pulse.XXXXXX";
        if (mkdtemp(folder) == nullptr)
            return;
        folder_ = folder;
        const std::string environment = "env XDG_RUNTIME_DIR=" + folder_ + " HOME=" + folder_ + " ";
        const std::string command =
            environment + "pulseaudio --daemonize=yes -n --exit-idle-time=-1 --disallow-exit --system=false" +
            " --use-pid-file=yes --log-target=file:" + folder_ + "/pa.log" +
            " -L 'module-native-protocol-unix auth-anonymous=1 socket=" + folder_ + "/native'" +
            " -L 'module-null-sink sink_name=gone rate=22050 channels=1 format=s16le'" + " 2>/dev/null";
        if (std::system(command.c_str()) != 0)
            return;
        std::ifstream pidFile(folder_ + "/pulse/pid");
        pidFile >> pid_;
        previous_ = getenv("PULSE_SERVER") != nullptr ? getenv("PULSE_SERVER") : "";
        setenv("PULSE_SERVER", ("unix:" + folder_ + "/native").c_str(), 1);
    }

    ~PrivateServer()
    {
        vanish();
        if (previous_.empty())
            unsetenv("PULSE_SERVER");
        else
            setenv("PULSE_SERVER", previous_.c_str(), 1);
        if (!folder_.empty())
            std::system(("rm -rf '" + folder_ + "'").c_str());
    }

    bool running() const { return pid_ > 0; }

    // Takes the null sink "gone", and with it its monitor, away.
    bool removeSink() { return std::system("pactl unload-module module-null-sink") == 0; }

    void vanish()
    {
        if (pid_ <= 0)
            return;
        kill(pid_, SIGKILL);
        for (int i = 0; i < 100 && kill(pid_, 0) == 0; ++i)
            std::this_thread::sleep_for(20ms);
        pid_ = 0;
    }

private:
    std::string folder_;
    std::string previous_;
    pid_t pid_ = 0;
};

TEST(PulseWave, VanishedServerReturnsEveryBufferAndFailsWithoutHanging)
{
    PrivateServer server;
    if (!server.running()) {
        SKIP_WITHOUT_SERVER_BECAUSE("cannot start a PulseAudio server of the test's own");
    }
    Take take;
    ASSERT_TRUE(take.opened()) << take.recorder().lastTrace.text;
    ASSERT_TRUE(take.start());
    WavePlayer player(systemWaveDriver());
    MessageQueue playerWindow;
    ASSERT_TRUE(player.open(kMicrophoneFormat, WAVE_MAPPER)) << player.lastTrace.text;
    ASSERT_TRUE(player.start(nullptr, &playerWindow));
    constexpr int kChunks = 100;  // 2.8 s of sound, far from played when the server goes
    for (int i = 0; i < kChunks; ++i)
        ASSERT_TRUE(player.queueChunk(newAudioBuffer(kChunk), kChunk, 0));
    take.pump([] { return false; }, 500ms);

    server.vanish();
    const auto vanished = Clock::now();
    // The queued buffers come back; their replacements are refused and freed.
    const int before = take.returned;
    take.pump([&] { return take.recorder().preparedCount == 0; }, 10000ms);
    EXPECT_EQ(take.recorder().preparedCount, 0);
    EXPECT_GE(take.returned - before, 1);
    EXPECT_NE(std::string(take.recorder().lastTrace.text).find("Sound server"), std::string::npos)
        << take.recorder().lastTrace.text;
    int played = 0;
    pumpUntil(
        playerWindow,
        [&](const WindowMessage& message) {
            player.releaseHeader(reinterpret_cast<WAVEHDR*>(message.wParam), true);
            ++played;
        },
        [&] { return played == kChunks; }, 5000ms);
    EXPECT_EQ(played, kChunks);
    EXPECT_LT(Clock::now() - vanished, 2000ms) << "the chunks were played, not returned";

    const auto closing = Clock::now();
    take.finish();
    EXPECT_EQ(take.recorder().device.load(), nullptr);
    uint8_t* refused = newAudioBuffer(kChunk);
    EXPECT_FALSE(player.queueChunk(refused, kChunk, 0));
    EXPECT_NE(std::string(player.lastTrace.text).find("Sound server"), std::string::npos) << player.lastTrace.text;
    deleteAudioBuffer(refused);
    EXPECT_TRUE(player.close());
    EXPECT_LT(Clock::now() - closing, 3000ms);
    EXPECT_EQ(player.preparedCount, 0);
}

TEST(PulseWave, RemovedDeviceGivesAClearErrorAndReturnsEveryBuffer)
{
    PrivateServer server;
    if (!server.running()) {
        SKIP_WITHOUT_SERVER_BECAUSE("cannot start a PulseAudio server of the test's own");
    }
    Take take(0);  // the monitor of "gone", chosen by its number
    ASSERT_TRUE(take.opened()) << take.recorder().lastTrace.text;
    ASSERT_TRUE(take.start());
    WavePlayer player(systemWaveDriver());
    MessageQueue playerWindow;
    ASSERT_TRUE(player.open(kMicrophoneFormat, 0)) << player.lastTrace.text;
    ASSERT_TRUE(player.start(nullptr, &playerWindow));
    constexpr int kChunks = 100;  // 2.8 s of sound, far from played when the sink goes
    for (int i = 0; i < kChunks; ++i)
        ASSERT_TRUE(player.queueChunk(newAudioBuffer(kChunk), kChunk, 0));
    take.pump([] { return false; }, 300ms);

    ASSERT_TRUE(server.removeSink());
    const auto removed = Clock::now();
    take.pump([&] { return take.recorder().preparedCount == 0; }, 10000ms);
    EXPECT_EQ(take.recorder().preparedCount, 0);
    EXPECT_STREQ(take.recorder().lastTrace.text, "Sound server: the device was removed.");

    int returned = 0;
    pumpUntil(
        playerWindow,
        [&](const WindowMessage& message) {
            player.releaseHeader(reinterpret_cast<WAVEHDR*>(message.wParam), true);
            ++returned;
        },
        [&] { return returned == kChunks; }, 5000ms);
    EXPECT_EQ(returned, kChunks);
    EXPECT_LT(Clock::now() - removed, 2000ms) << "the chunks were played, not returned";
    uint8_t* refused = newAudioBuffer(kChunk);
    EXPECT_FALSE(player.queueChunk(refused, kChunk, 0));
    EXPECT_STREQ(player.lastTrace.text, "Sound server: the device was removed.");
    deleteAudioBuffer(refused);
    take.finish();
    EXPECT_TRUE(player.close());
    EXPECT_EQ(player.preparedCount, 0);
}

}  // namespace
