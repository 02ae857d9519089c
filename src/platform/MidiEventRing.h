#pragma once
// A fixed-size single-producer single-consumer queue of timed short messages without
// locks or allocation, so that a real-time thread (the JACK process callback) can take
// what a scheduler thread puts in. Several producers must take turns under a lock of
// their own.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

struct TimedMidiMessage {
    uint32_t message; // status | data 1 << 8 | data 2 << 16
    uint64_t timeUs;  // when it is meant to sound, on the consumer's clock
};

template <size_t Capacity>
class MidiEventRing {
    static_assert((Capacity & (Capacity - 1)) == 0, "the capacity is a power of two");

public:
    // False when the queue is full; the message is then not queued.
    bool push(const TimedMidiMessage& event)
    {
        const size_t tail = tailIndex.load(std::memory_order_relaxed);
        if (tail - headIndex.load(std::memory_order_acquire) == Capacity)
            return false;
        slots[tail & (Capacity - 1)] = event;
        tailIndex.store(tail + 1, std::memory_order_release);
        return true;
    }

    // The oldest message without taking it; false when the queue is empty.
    bool peek(TimedMidiMessage& event) const
    {
        const size_t head = headIndex.load(std::memory_order_relaxed);
        if (head == tailIndex.load(std::memory_order_acquire))
            return false;
        event = slots[head & (Capacity - 1)];
        return true;
    }

    // Takes the oldest message; only after a successful peek().
    void pop() { headIndex.store(headIndex.load(std::memory_order_relaxed) + 1, std::memory_order_release); }

private:
    std::array<TimedMidiMessage, Capacity> slots{};
    std::atomic<size_t> headIndex{0};
    std::atomic<size_t> tailIndex{0};
};
