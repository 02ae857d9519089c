#pragma once
// A MIDI output that plays nothing and records every short message with its time: the
// device that tests open to see exactly what a stream sent and when.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/MidiSink.h"

struct CapturedMidiMessage {
    uint32_t message;
    int64_t timeUs;

    uint8_t status() const { return message & 0xFF; }
    uint8_t data1() const { return (message >> 8) & 0xFF; }
    uint8_t data2() const { return (message >> 16) & 0xFF; }
};

// The messages of every sink opened on one capture device, in the order they were sent.
class CaptureMidiLog {
public:
    void record(uint32_t message, int64_t timeUs);
    std::vector<CapturedMidiMessage> messages() const;
    void clear();
    // Waits (real time, at most `timeout`) until at least `count` messages are recorded.
    bool waitForCount(size_t count, std::chrono::milliseconds timeout) const;

private:
    mutable std::mutex mutex;
    mutable std::condition_variable grown;
    std::vector<CapturedMidiMessage> log;
};

class CaptureMidiSink : public MidiSink {
public:
    explicit CaptureMidiSink(CaptureMidiLog& log) : log(log) {}
    MidiResult send(uint32_t message, int64_t timeUs) override;

private:
    CaptureMidiLog& log;
};
