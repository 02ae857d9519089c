#pragma once
// Time for MIDI streams, in microseconds. A stream's scheduler reads the time and sleeps
// through its clock, so the same stream runs in real time (SteadyMidiClock), in virtual
// time that a test advances step by step (ManualMidiClock), or as fast as it can for
// offline rendering (FastForwardMidiClock).

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <limits>
#include <mutex>
#include <vector>

constexpr int64_t kNoDeadline = std::numeric_limits<int64_t>::max();

// A stream that runs on a ManualMidiClock; the clock lets it catch up after each step.
class MidiClockClient {
public:
    virtual ~MidiClockClient() = default;
    // Returns once everything due at or before `timeUs` has been played.
    virtual void catchUp(int64_t timeUs) = 0;
};

class MidiClock {
public:
    virtual ~MidiClock() = default;
    virtual int64_t nowUs() const = 0;
    // Called with `lock` held; returns with it held once the time has reached
    // `deadlineUs` or `wake` was notified (or spuriously: the caller re-checks).
    virtual void waitUntil(std::condition_variable& wake, std::unique_lock<std::mutex>& lock,
                           int64_t deadlineUs) = 0;
    virtual void attach(MidiClockClient*) {}
    virtual void detach(MidiClockClient*) {}
};

class SteadyMidiClock : public MidiClock {
public:
    int64_t nowUs() const override;
    void waitUntil(std::condition_variable& wake, std::unique_lock<std::mutex>& lock, int64_t deadlineUs) override;
};

// The process's real-time clock for every device that plays in real time.
MidiClock& steadyMidiClock();

// Virtual time that moves only when the owner calls advance(). Each advance returns
// after every attached stream has played what fell due, so a test sees the state of
// the streams at exactly that time.
class ManualMidiClock : public MidiClock {
public:
    int64_t nowUs() const override { return now.load(); }
    void waitUntil(std::condition_variable& wake, std::unique_lock<std::mutex>& lock, int64_t deadlineUs) override;
    void attach(MidiClockClient* client) override;
    void detach(MidiClockClient* client) override;

    void advance(int64_t us);

private:
    std::atomic<int64_t> now{0};
    std::mutex clientsMutex;
    std::vector<MidiClockClient*> clients;
};

// Virtual time that jumps to each deadline as soon as a stream waits for it: a stream
// plays its whole queue at once, with every event stamped with its exact time.
class FastForwardMidiClock : public MidiClock {
public:
    int64_t nowUs() const override { return now.load(); }
    void waitUntil(std::condition_variable& wake, std::unique_lock<std::mutex>& lock, int64_t deadlineUs) override;

private:
    std::atomic<int64_t> now{0};
};
