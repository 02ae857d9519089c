// The ring between the MIDI stream and the JACK process callback: a consumer on another
// thread takes every message exactly once and in order (run under ThreadSanitizer in CI),
// and a full ring refuses a message instead of overwriting one.

#include <gtest/gtest.h>

#include <thread>

#include "platform/MidiEventRing.h"

TEST(MidiEventRing, AConsumerThreadTakesEveryMessageOnceInOrder)
{
    constexpr uint32_t kCount = 200000;
    MidiEventRing<64> ring;
    std::thread producer([&] {
        for (uint32_t i = 0; i < kCount; ++i) {
            while (!ring.push({i, uint64_t{i} * 3}))
                std::this_thread::yield();
        }
    });
    uint32_t expected = 0;
    bool inOrder = true;
    while (expected < kCount) {
        TimedMidiMessage event{};
        if (!ring.peek(event)) {
            std::this_thread::yield();
            continue;
        }
        inOrder = inOrder && event.message == expected && event.timeUs == uint64_t{expected} * 3;
        ring.pop();
        ++expected;
    }
    producer.join();
    EXPECT_TRUE(inOrder);
    TimedMidiMessage left{};
    EXPECT_FALSE(ring.peek(left));
}

TEST(MidiEventRing, AFullRingRefusesAndKeepsWhatItHolds)
{
    MidiEventRing<4> ring;
    for (uint32_t i = 0; i < 4; ++i)
        ASSERT_TRUE(ring.push({i, i}));
    EXPECT_FALSE(ring.push({99, 99}));
    TimedMidiMessage event{};
    ASSERT_TRUE(ring.peek(event));
    EXPECT_EQ(event.message, 0u);
    ring.pop();
    EXPECT_TRUE(ring.push({4, 4}));
    for (uint32_t i = 1; i <= 4; ++i) {
        ASSERT_TRUE(ring.peek(event));
        EXPECT_EQ(event.message, i);
        ring.pop();
    }
}
