#pragma once
// A MIDI output stream: buffers of timed events are queued and played in order by a
// scheduler thread, which turns tick deltas into time with the tempo in force and hands
// each message to the device's sink; short messages go to the sink at once.
//
// Each event is three 32-bit words: the delta in ticks since the previous event, a
// stream id (0), and the event word, whose top byte is its kind (0: a short message in
// the low three bytes; other kinds are skipped). A stream opens paused; restart() starts
// the clock of the stream. Buffers are returned (done) when their last event has been
// played, or by reset(); the notification callback hears of open, every returned buffer
// and close.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/MidiClock.h"
#include "platform/MidiResult.h"
#include "platform/MidiSink.h"

constexpr uint32_t kMidiHeaderDone = 0x1;
constexpr uint32_t kMidiHeaderPrepared = 0x2;
constexpr uint32_t kMidiHeaderInQueue = 0x4;

constexpr uint32_t kMidiEventBytes = 12;

// Describes one buffer of stream events.
struct MidiHeader {
    uint32_t* data;         // the events
    uint32_t bufferLength;  // bytes of room at data
    uint32_t bytesRecorded; // bytes of events at data, a multiple of 12
    uint32_t flags;         // kMidiHeader*
    MidiHeader* next;       // the queue link, used by the stream
};

enum class MidiNotification { Open, Close, Done };

// Called on the thread that caused the notification (the scheduler for Done of a played
// buffer); header is null for Open and Close.
using MidiNotify = std::function<void(MidiNotification, MidiHeader*)>;

class MidiStream : private MidiClockClient {
public:
    // Opens device `deviceId` (kMidiMapper: the built-in synthesiser). `notify` may be empty.
    static MidiResult open(uint32_t deviceId, MidiNotify notify, std::unique_ptr<MidiStream>& stream);
    // Closing returns any queued buffer, stops the scheduler and notifies Close.
    ~MidiStream() override;
    MidiStream(const MidiStream&) = delete;
    MidiStream& operator=(const MidiStream&) = delete;

    // Ticks per quarter note (default 96) and microseconds per quarter note (default
    // 500000). A change applies at once to the events not yet played.
    MidiResult setTimeDivision(uint32_t ticksPerQuarter);
    MidiResult setTempo(uint32_t microsecondsPerQuarter);

    MidiResult prepareHeader(MidiHeader& header);
    MidiResult unprepareHeader(MidiHeader& header);
    // Queues a prepared buffer behind those already queued.
    MidiResult out(MidiHeader& header);
    // Starts the stream's clock if it is paused; nothing if it runs.
    MidiResult restart();
    // Ticks played since the stream started (or since the last reset).
    MidiResult position(uint32_t& ticks);
    // Silences every channel (all notes off, all sound off), returns every queued buffer
    // and pauses the stream at tick 0.
    MidiResult reset();
    MidiResult shortMessage(uint32_t message);
    // Waits until `us` of the stream's time after its last event, or until a reset() ends
    // the wait early.
    void linger(int64_t us);

private:
    MidiStream(std::unique_ptr<MidiSink> sink, MidiClock& clock, MidiNotify notify);

    void schedule();
    // With `mutex` held: plays every event due by `now` (the clock's time plus the sink's
    // lead); returns the time the next one is due, or kNoDeadline. Collects the buffers it finished in `finished`.
    int64_t playDue(int64_t now, MidiHeader*& finished);
    // With `mutex` held: the stream's tick time at `now`.
    double tickAt(int64_t now) const;
    int64_t dueTime(uint64_t tick) const;
    // With `mutex` held: the tick of the next event of the head buffer, if there is one.
    bool nextEventTick(uint64_t& tick) const;
    // With `mutex` held: moves the anchor of the tick time to `now`.
    void reanchor(int64_t now);
    void notifyDone(MidiHeader* finished);
    void catchUp(int64_t timeUs) override;

    std::unique_ptr<MidiSink> sink;
    MidiClock& clock;
    MidiNotify notify;

    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable caughtUp;
    MidiHeader* queueHead = nullptr;
    MidiHeader* queueTail = nullptr;
    uint32_t playedBytes = 0;     // of the head buffer
    uint64_t lastEventTick = 0;   // tick of the last event played
    uint32_t ticksPerQuarter = 96;
    uint32_t usPerQuarter = 500000;
    bool running = false;
    double anchorTick = 0;        // the tick time was anchorTick at anchorUs
    int64_t anchorUs = 0;
    int64_t evaluatedUs = -1;     // the scheduler has played everything due by this time
    bool quit = false;
    uint64_t resets = 0;          // counts reset(), so that linger() sees one
    std::thread scheduler;
};
