#pragma once
// Shared pieces of the MIDI tests: a capture device on a virtual clock, the player
// thread started as the controller starts it, a recording notifier, and views of what
// the capture saw (streamed events in ticks, notes left sounding).

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "midi/Midi_func.h"
#include "midi/Tv2m_treads.h"
#include "platform/CaptureMidiSink.h"
#include "platform/MidiDevices.h"
#include "platform/UserNotifier.h"
#include "platform/WindowMessages.h"

// A capture device whose streams run on `Clock`.
template <typename Clock>
struct CaptureDevice {
    Clock clock;
    CaptureMidiLog log;
    PrivateMidiDevice device{[this](std::unique_ptr<MidiSink>& sink) {
                                 sink = std::make_unique<CaptureMidiSink>(log);
                                 return kMidiOk;
                             },
                             clock};

    uint32_t id() const { return device.id(); }
};

// Records the boxes shown instead of printing them.
class RecordingNotifier : public UserNotifier {
public:
    RecordingNotifier() { setUserNotifier(this); }
    ~RecordingNotifier() override { setUserNotifier(nullptr); }

    MessageAnswer show(const std::string& text, const std::string& caption, MessageIcon, MessageButtons) override
    {
        std::lock_guard<std::mutex> guard(mutex);
        shown.emplace_back(caption, text);
        return MessageAnswer::Ok;
    }
    std::vector<std::pair<std::string, std::string>> boxes()
    {
        std::lock_guard<std::mutex> guard(mutex);
        return shown;
    }

private:
    std::mutex mutex;
    std::vector<std::pair<std::string, std::string>> shown;
};

// Starts a playback as the controller does: a suspended player thread, recorded in
// MidiOut.playerThread, filled and resumed.
inline void startPlayer(MidiOut& midi, const PlayList& list, PlayKind kind)
{
    auto* thread = new TPlayerThread();
    thread->midiOut = &midi;
    thread->list = list;
    thread->kind = kind;
    midi.beginPlayback(thread, kind);
    thread->resume();
}

inline bool isEndMessage(const WindowMessage& m)
{
    return m.msg == UM_MIDI_POSITION && m.wParam == static_cast<WPARAM>(-1) && m.lParam == -1;
}

// Waits (real time) for the end of a playback and for its thread to be gone.
inline bool waitForEnd(MessageQueue& window, std::chrono::milliseconds limit = std::chrono::seconds(20))
{
    WindowMessage message;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (window.waitNext(message, std::chrono::milliseconds(20)) && isEndMessage(message)) {
            while (TPlayThread::running() > 0 && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return TPlayThread::running() == 0;
        }
    }
    return false;
}

// Counts the end messages that arrive within `settle` (real time).
inline int countEndMessages(MessageQueue& window, std::chrono::milliseconds settle)
{
    int ends = 0;
    WindowMessage message;
    while (window.waitNext(message, settle))
        ends += isEndMessage(message) ? 1 : 0;
    return ends;
}

// Channel set-up messages sent after a playback opens: program, volume, centre, four
// bend-range controllers (and for the ringtone the second channel's program, centre and
// bend range).
constexpr size_t kSetupMessages = 7;
constexpr size_t kRingtoneSetupMessages = 13;

inline bool isAllNotesOff(const CapturedMidiMessage& m)
{
    return (m.status() & 0xF0) == 0xB0 && m.data1() == 123;
}

// An event of a playback, with its time converted back to ticks of the stream.
struct TickedEvent {
    int64_t tick;
    uint8_t status;
    uint8_t data1;
    uint8_t data2;
};

// The streamed events: after the set-up, up to the reset at the end.
inline std::vector<TickedEvent> streamedEvents(const std::vector<CapturedMidiMessage>& log, size_t setup,
                                               int64_t usPerQuarter, int64_t tpqn)
{
    std::vector<TickedEvent> events;
    for (size_t i = setup; i < log.size() && !isAllNotesOff(log[i]); ++i) {
        const int64_t tick = std::llround(static_cast<double>(log[i].timeUs) * tpqn / usPerQuarter);
        events.push_back({tick, log[i].status(), log[i].data1(), log[i].data2()});
    }
    return events;
}

// Notes still sounding after everything in the log: note on adds, note off (or velocity
// 0) and all-notes-off remove.
inline std::set<std::pair<int, int>> soundingNotes(const std::vector<CapturedMidiMessage>& log)
{
    std::set<std::pair<int, int>> sounding;
    for (const CapturedMidiMessage& m : log) {
        const int channel = m.status() & 0x0F;
        const int kind = m.status() & 0xF0;
        if (kind == 0x90 && m.data2() > 0) {
            sounding.insert({channel, m.data1()});
        } else if (kind == 0x80 || kind == 0x90) {
            sounding.erase({channel, m.data1()});
        } else if (isAllNotesOff(m)) {
            for (auto it = sounding.begin(); it != sounding.end();)
                it = it->first == channel ? sounding.erase(it) : std::next(it);
        }
    }
    return sounding;
}

// Resets the process-wide song and ringtone records for each test.
class MidiTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        songSettings = SongSettings{};
        ringtoneSettings = RingtoneSettings{};
    }
};
