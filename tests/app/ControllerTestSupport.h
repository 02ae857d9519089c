#pragma once
// The controller on a bench: virtual wave devices fed from samples, a capture MIDI
// device, a pumped message loop, and the controls as plain values that also count what
// the controller did to the window.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/ControlPanel.h"
#include "app/ConversionController.h"
#include "audio/Wav_func.h"
#include "platform/CaptureMidiSink.h"
#include "platform/MidiDevices.h"
#include "platform/UserNotifier.h"
#include "platform/VirtualWaveDriver.h"
#include "platform/WindowMessages.h"

using namespace std::chrono_literals;

constexpr uint32_t kChunk = 1236; // one 28 ms chunk of the microphone format
const std::string kMelodyPath = LIRROSA_SOURCE_DIR "/examples/melody.wav";
// The example tune's notes.
const std::vector<int> kMelodyNotes = {55, 55, 62, 62, 64, 64, 62, 60, 60, 59, 59, 57, 57, 55};

// The samples of examples/melody.wav (microphone format), `times` over.
inline std::vector<uint8_t> melodySamples(int times = 1)
{
    WAVEFORMATEX format{};
    SampleStore store;
    EXPECT_TRUE(LoadWaveFile(kMelodyPath, format, store));
    std::vector<uint8_t> once(store.data, store.data + store.validCount);
    std::vector<uint8_t> all;
    for (int i = 0; i < times; ++i)
        all.insert(all.end(), once.begin(), once.end());
    return all;
}

// 16-bit samples counting up: every byte shows where it came from.
inline std::vector<uint8_t> countingSamples(uint32_t chunks)
{
    std::vector<uint8_t> bytes(chunks * kChunk);
    for (size_t i = 0; i < bytes.size() / 2; ++i) {
        bytes[2 * i] = static_cast<uint8_t>(i & 0xFF);
        bytes[2 * i + 1] = static_cast<uint8_t>((i >> 8) & 0xFF);
    }
    return bytes;
}

// The controls, counting the calls that a test looks for.
class RecordingPanel : public ControlPanel {
public:
    int analysedTakes = 0;
    std::vector<std::string> noteLabels; // every sung-note label shown, in order
    std::vector<std::string> timeLabels;

    void takeAnalysed(const NoteSequence&) override { ++analysedTakes; }
    void setNoteLabel(const std::string& text) override
    {
        ControlPanel::setNoteLabel(text);
        noteLabels.push_back(text);
    }
    void setTimeLabel(const std::string& text) override
    {
        ControlPanel::setTimeLabel(text);
        timeLabels.push_back(text);
    }
};

// Records the boxes shown and answers questions as told.
class ScriptedNotifier : public UserNotifier {
public:
    ScriptedNotifier() { setUserNotifier(this); }
    ~ScriptedNotifier() override { setUserNotifier(nullptr); }

    MessageAnswer answer = MessageAnswer::Yes;

    MessageAnswer show(const std::string& text, const std::string& caption, MessageIcon, MessageButtons buttons) override
    {
        std::lock_guard<std::mutex> guard(mutex_);
        shown_.emplace_back(caption, text);
        return buttons == MessageButtons::YesNo ? answer : MessageAnswer::Ok;
    }
    std::vector<std::pair<std::string, std::string>> boxes()
    {
        std::lock_guard<std::mutex> guard(mutex_);
        return shown_;
    }

private:
    std::mutex mutex_;
    std::vector<std::pair<std::string, std::string>> shown_;
};

// Hands the loop's messages to the controller, counting them; a test may act before a
// message is handled, as a user clicking while the window processes its messages.
class MessageSpy : public MessageHandler {
public:
    ConversionController* controller = nullptr;
    std::function<void(const WindowMessage&)> before;
    std::map<uint32_t, int> counts;
    int timerFirings = 0;

    void handleMessage(const WindowMessage& message) override
    {
        ++counts[message.msg];
        if (before)
            before(message);
        controller->handleMessage(message);
    }
    void handleTimer(TimerId timer) override
    {
        ++timerFirings;
        controller->handleTimer(timer);
    }
    int count(uint32_t msg) { return counts.count(msg) != 0 ? counts[msg] : 0; }
};

// A capture MIDI device whose streams run on `Clock`.
template <typename Clock>
struct CaptureMidi {
    Clock clock;
    CaptureMidiLog log;
    PrivateMidiDevice device{[this](std::unique_ptr<MidiSink>& sink) {
                                 sink = std::make_unique<CaptureMidiSink>(log);
                                 return kMidiOk;
                             },
                             clock};

    // The entry of the device list that chooses this device.
    int32_t listEntry() const { return static_cast<int32_t>(device.id()) + 1; }
};

// The controller with its loop, controls, wave devices (fed by `samples`) and MIDI
// device; the loop runs on `LoopClockType`.
template <typename LoopClockType = SteadyLoopClock>
struct Bench {
    explicit Bench(std::vector<uint8_t> samples = {}, bool withSource = true)
        : sourceBytes(samples.size()), source(kMicrophoneFormat, std::move(samples)),
          driver(withSource ? &source : nullptr)
    {
        songSettings = SongSettings{};
        storedSongSettings = SongSettings{};
        ringtoneSettings = RingtoneSettings{};
        panel.midiOutList = midi.listEntry();
        loop.setHandler(&spy);
        controller = std::make_unique<ConversionController>(panel, panel, loop, driver);
        spy.controller = controller.get();
    }
    ~Bench() { controller.reset(); }

    // Pumps until `done` holds; false when `limit` (real time) passed first.
    bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 30s)
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            loop.pumpOnce(10ms);
        }
        return true;
    }

    // Pumps whatever arrives within `quiet` of the last message.
    void settle(std::chrono::milliseconds quiet = 300ms)
    {
        while (loop.pumpOnce(quiet)) {
        }
    }

    void chooseFile(const std::string& path)
    {
        if (panel.lampLook(Lamp::File) != kLampOn)
            controller->ibtn_MicClick();
        panel.takeFile = path;
    }

    // No echo: MIDI deselected, WAVE not selected.
    void chooseNoEcho()
    {
        if (panel.lampLook(Lamp::Midi) == kLampOn)
            controller->ibtn_MIDIClick();
        if (panel.lampLook(Lamp::Wave) == kLampOn)
            controller->ibtn_WAVEClick();
    }

    void chooseWave()
    {
        if (panel.lampLook(Lamp::Wave) != kLampOn)
            controller->ibtn_WAVEClick();
    }

    // A microphone take of everything the source holds, stopped once it has all arrived.
    void recordWholeSource()
    {
        const int positionsBefore = spy.count(UM_POSITION);
        controller->ibtn_ConvertClick();
        const int chunks = static_cast<int>(sourceBytes / kChunk);
        EXPECT_TRUE(pumpUntil([&] { return spy.count(UM_POSITION) - positionsBefore >= chunks; }));
        controller->ibtn_StopClick();
        settle();
    }

    ScriptedNotifier notifier;
    LoopClockType clock;
    size_t sourceBytes = 0;
    SampleSource source;
    VirtualWaveDriver driver;
    CaptureMidi<ManualMidiClock> midi;
    PumpedMessageLoop loop{clock};
    RecordingPanel panel;
    MessageSpy spy;
    std::unique_ptr<ConversionController> controller;
};

// The notes of a sequence, in order.
inline std::vector<int> noteNumbers(const NoteSequence& notes)
{
    std::vector<int> numbers;
    for (int32_t i = 0; i < notes.count; ++i)
        numbers.push_back(notes[i].note);
    return numbers;
}
