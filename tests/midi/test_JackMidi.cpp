// The program's JACK MIDI port on a private JACK server with the dummy driver: a client
// standing in for a DAW receives the live echo of the example melody and the playback of
// its recognised notes, each message in its frame; a server that stops mid-take ends the
// echo and keeps the take.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include <cstdlib>
#include <cstring>

#include "../app/ControllerTestSupport.h"
#include "JackTestClient.h"
#include "midi/Tv2m_treads.h"
#include "platform/JackMidiSink.h"

extern char** environ;

// The tests run beside the private server of scripts/with-jack-server.sh: without it
// they skip, and under CI=true they fail, since CI must run them.
#define REQUIRE_JACK_SERVER()                                                                     \
    do {                                                                                          \
        if (std::getenv("LIRROSA_JACK_SERVER") == nullptr) {                                      \
            const char* ci = std::getenv("CI");                                                   \
            if (ci != nullptr && std::strcmp(ci, "true") == 0)                                    \
                FAIL() << "no JACK server: CI runs the tests inside scripts/with-jack-server.sh"; \
            GTEST_SKIP() << "no JACK server (run the tests inside scripts/with-jack-server.sh)";   \
        }                                                                                         \
    } while (0)

namespace {

constexpr const char* kJackPort = "lirrosa:midi_out";
// The timing within a period is checked in normal builds; a sanitizer's slowdown of every
// thread (several periods at a time) says nothing about it, so those builds check the
// messages and their order only.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kTimingChecked = false;
#else
constexpr bool kTimingChecked = true;
#endif
constexpr const char* kTestInput = "lirrosa-test:midi_in";

// A device that sends to the JACK port and logs what it sent with the frame that the time
// the stream meant it for had on the JACK clock then (`frameOf`, when set): what the test
// client must receive, and where. The frame is taken at once, as the port takes it, since
// the server's estimate of its clock is good for the moment, not for a time seconds back.
struct LoggedJackMidi {
    std::function<jack_nframes_t(int64_t)> frameOf;
    PrivateMidiDevice device{[this](std::unique_ptr<MidiSink>& sink) {
                                 std::unique_ptr<MidiSink> jack;
                                 const MidiResult result = JackMidiSink::open(jack);
                                 if (result == kMidiOk)
                                     sink = std::make_unique<LoggingSink>(std::move(jack), *this);
                                 return result;
                             },
                             steadyMidiClock()};

    int32_t listEntry() const { return static_cast<int32_t>(device.id()) + 1; }

    std::vector<ReceivedMidi> sent()
    {
        std::lock_guard<std::mutex> guard(mutex);
        return log;
    }

    class LoggingSink : public MidiSink {
    public:
        LoggingSink(std::unique_ptr<MidiSink> jack, LoggedJackMidi& owner) : jack(std::move(jack)), owner(owner) {}
        MidiResult send(uint32_t message, int64_t timeUs) override
        {
            const MidiResult result = jack->send(message, timeUs);
            if (result == kMidiOk) {
                std::lock_guard<std::mutex> guard(owner.mutex);
                owner.log.push_back({owner.frameOf ? owner.frameOf(timeUs) : 0, message});
            }
            return result;
        }
        int64_t leadUs() const override { return jack->leadUs(); }

    private:
        std::unique_ptr<MidiSink> jack;
        LoggedJackMidi& owner;
    };

private:
    std::mutex mutex;
    std::vector<ReceivedMidi> log;
};

// The list index of the JACK output, or -1.
int32_t jackDeviceId()
{
    const uint32_t count = midiOutDeviceCount();
    for (uint32_t id = 0; id < count; ++id) {
        if (midiOutDeviceName(id) == kJackMidiOutputName)
            return static_cast<int32_t>(id);
    }
    return -1;
}

bool isNoteOn(uint32_t message)
{
    return (message & 0xF0) == 0x90 && ((message >> 16) & 0x7F) > 0;
}

bool isBend(uint32_t message)
{
    return (message & 0xF0) == 0xE0;
}

// Waits (real time) until the client has received `count` messages.
bool waitForReceived(JackTestClient& client, size_t count)
{
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (client.received().size() < count) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

// A JACK server of the test's own, which the test may stop; clients of this process
// reach it from its start on. It is stopped as a user stops it (SIGTERM): a server killed
// outright keeps its slot in libjack's registry of servers, and after a few such runs no
// server can start on the machine.
class OwnJackServer {
public:
    OwnJackServer() : name("lirrosa-own-" + std::to_string(getpid()))
    {
        std::vector<std::string> args = {"jackd", "--no-realtime", "-n", name, "-d", "dummy", "-r", "48000", "-p", "256"};
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
        if (posix_spawnp(&pid, "jackd", nullptr, nullptr, argv.data(), environ) != 0) {
            pid = -1;
            return;
        }
        setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
        for (int i = 0; i < 100 && !jackServerRunning(); ++i)
            std::this_thread::sleep_for(50ms);
    }
    ~OwnJackServer() { stop(); }

    void stop()
    {
        if (pid <= 0)
            return;
        ::kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        pid = -1;
        // The program's client outlives its server unclosed (see JackMidiSink.cpp); its
        // semaphore files in /dev/shm are removed here.
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", error)) {
            if (entry.path().filename().string().find("_" + name + "_") != std::string::npos)
                std::filesystem::remove(entry.path(), error);
        }
    }

    const std::string name;
    pid_t pid = -1;
};

} // namespace

TEST(JackMidiOutput, IsListedWhileAServerRunsAndOpensAsLirrosaMidiOutWithOnePeriodOfLatency)
{
    REQUIRE_JACK_SERVER();
    const int32_t id = jackDeviceId();
    ASSERT_GE(id, 1) << "the JACK output is not listed";
    std::unique_ptr<MidiStream> stream;
    ASSERT_EQ(MidiStream::open(static_cast<uint32_t>(id), {}, stream), kMidiOk);
    EXPECT_EQ(jackMidiPortName(), kJackPort);

    JackTestClient daw;
    ASSERT_TRUE(daw.ready());
    EXPECT_EQ(connectJackMidiOutput(kTestInput), kMidiOk);
    EXPECT_EQ(connectJackMidiOutput(kTestInput), kMidiOk) << "connecting twice";
    EXPECT_EQ(jackMidiConnections(), std::vector<std::string>{kTestInput});
    EXPECT_EQ(connectJackMidiOutput("nobody:midi_in"), kMidiErrNoSuchJackPort);
    EXPECT_EQ(daw.captureLatency(kJackPort), daw.period());

    // Program change (two bytes) and a note-on arrive as sent.
    ASSERT_EQ(stream->shortMessage(0x05C0), kMidiOk);
    ASSERT_EQ(stream->shortMessage(0x643C90), kMidiOk);
    ASSERT_TRUE(waitForReceived(daw, 2));
    const std::vector<ReceivedMidi> received = daw.received();
    EXPECT_EQ(received[0].message, 0x05C0u);
    EXPECT_EQ(received[1].message, 0x643C90u);
    EXPECT_EQ(stream->shortMessage(0xF8), kMidiErrInvalidParam);
}

TEST(JackMidiOutput, EchoOfTheSungMelodyArrivesInOrderEachMessageWithinOnePeriodOfItsTime)
{
    REQUIRE_JACK_SERVER();
    JackTestClient daw;
    ASSERT_TRUE(daw.ready());
    ASSERT_EQ(connectJackMidiOutput(kTestInput), kMidiOk);
    LoggedJackMidi jack;
    jack.frameOf = [&daw](int64_t timeUs) { return daw.frameAtSteadyUs(timeUs); };
    // The file take feeds the melody at its own pace, 28 ms a chunk, as a singer would.
    Bench<> bench({}, false);
    bench.panel.midiOutList = jack.listEntry();
    bench.chooseFile(kMelodyPath);
    bench.controller->ibtn_ConvertClick();
    ASSERT_EQ(noteNumbers(bench.controller->notes()), kMelodyNotes);
    const std::vector<ReceivedMidi> sent = jack.sent();
    ASSERT_TRUE(waitForReceived(daw, sent.size()));
    const std::vector<ReceivedMidi> received = daw.received();

    // The echo sang the melody: its note-ons and bends are all there.
    std::vector<int> notes;
    size_t bends = 0;
    for (const ReceivedMidi& m : sent) {
        const int note = (m.message >> 8) & 0x7F;
        if (isNoteOn(m.message) && ((m.message >> 16) & 0x7F) == kEchoVelocity && (notes.empty() || notes.back() != note))
            notes.push_back(note);
        bends += isBend(m.message) ? 1 : 0;
    }
    EXPECT_GE(notes.size(), 7u);
    EXPECT_GT(bends, 50u);

    // Every message arrives, in order, in the frame of its time plus the port's latency.
    ASSERT_EQ(received.size(), sent.size());
    const jack_nframes_t latency = daw.captureLatency(kJackPort);
    const auto period = static_cast<int32_t>(daw.period());
    int32_t worst = 0;
    for (size_t i = 0; i < sent.size(); ++i) {
        ASSERT_EQ(received[i].message, sent[i].message) << "message " << i;
        const jack_nframes_t meant = sent[i].frame + latency;
        const auto late = static_cast<int32_t>(received[i].frame - meant);
        if (kTimingChecked) {
            EXPECT_LE(std::abs(late), period) << "message " << i << " is " << late << " frames late";
        }
        worst = std::max(worst, std::abs(late));
    }
    std::printf("%zu messages, worst placement %d frames (period %d)\n", sent.size(), worst, period);
}

TEST(JackMidiOutput, PlaybackOfTheRecognisedNotesKeepsTheTimingOfTheNotes)
{
    REQUIRE_JACK_SERVER();
    JackTestClient daw;
    ASSERT_TRUE(daw.ready());
    const int32_t id = jackDeviceId();
    ASSERT_GE(id, 1);
    ASSERT_EQ(connectJackMidiOutput(kTestInput), kMidiOk);
    Bench<> bench({}, false);
    bench.panel.midiOutList = id + 1;
    bench.chooseNoEcho();
    bench.chooseFile(kMelodyPath);
    bench.controller->ibtn_ConvertClick();
    bench.controller->ibtn_MIDIClick();
    bench.controller->ibtn_PlayNTClick();
    bench.controller->ibtn_PlayClick();
    ASSERT_TRUE(bench.pumpUntil([&] { return bench.controller->isStopped() && TPlayThread::running() == 0; }, 60s));
    bench.settle(100ms);

    std::vector<ReceivedMidi> noteOns;
    for (const ReceivedMidi& m : daw.received()) {
        if (isNoteOn(m.message))
            noteOns.push_back(m);
    }
    const NoteSequence& notes = bench.controller->notes();
    ASSERT_EQ(noteOns.size(), static_cast<size_t>(notes.count));
    const double framesPerTick = bench.controller->midiOut().usPerQuarter.load() / 1e6 * daw.sampleRate() /
                                 songSettings.tpqn;
    const auto period = static_cast<int32_t>(daw.period());
    for (int32_t i = 0; i < notes.count; ++i) {
        EXPECT_EQ(static_cast<int>((noteOns[i].message >> 8) & 0x7F), notes[i].note);
        const auto meant = static_cast<int32_t>(std::lround((notes[i].start - notes[0].start) * framesPerTick));
        const auto arrived = static_cast<int32_t>(noteOns[i].frame - noteOns[0].frame);
        if (kTimingChecked) {
            EXPECT_LE(std::abs(arrived - meant), period) << "note " << i;
        }
    }
}

TEST(JackMidiOutput, ServerStoppingMidTakeEndsTheEchoWithAMessageAndKeepsTheTake)
{
    REQUIRE_JACK_SERVER();
    if (!jackMidiPortName().empty())
        GTEST_SKIP() << "the port is open on the shared server already; ctest runs this test in a process of its own";
    OwnJackServer server;
    ASSERT_GT(server.pid, 0) << "jackd could not be started";
    ASSERT_TRUE(jackServerRunning());
    LoggedJackMidi jack;
    Bench<> bench({}, false);
    bench.panel.midiOutList = jack.listEntry();
    bench.chooseFile(kMelodyPath);
    // The take runs for about nine seconds; the server stops after three.
    std::thread stopper([&] {
        std::this_thread::sleep_for(3s);
        server.stop();
    });
    bench.controller->ibtn_ConvertClick();
    stopper.join();
    bench.settle();

    const auto boxes = bench.notifier.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].second,
              kEchoEndedText + midiErrorText(kMidiErrJackStopped) + kTakeGoesOnText);
    // The echo reached the port until the server stopped, and the whole take was kept.
    EXPECT_GT(jack.sent().size(), 20u);
    EXPECT_EQ(noteNumbers(bench.controller->notes()), kMelodyNotes);
    EXPECT_FALSE(jackServerRunning());
}
