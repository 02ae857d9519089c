#pragma once
// Helpers shared by the wave device tests: a pump for the window messages of a take and
// sample patterns whose bytes show where they came from.

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

#include "audio/WaveFormat.h"
#include "platform/MessageTarget.h"

// 16-bit little-endian samples counting up from `first`: every byte tells its position.
inline std::vector<uint8_t> countingSamples(uint32_t sampleCount, uint16_t first = 0)
{
    std::vector<uint8_t> bytes(sampleCount * 2);
    for (uint32_t i = 0; i < sampleCount; ++i) {
        const uint16_t value = static_cast<uint16_t>(first + i);
        bytes[2 * i] = static_cast<uint8_t>(value & 0xFF);
        bytes[2 * i + 1] = static_cast<uint8_t>(value >> 8);
    }
    return bytes;
}

// Takes messages from `queue` and hands them to `handle` until `done` holds or `timeout`
// has passed. Returns whether `done` holds.
inline bool pumpUntil(MessageQueue& queue, const std::function<void(const WindowMessage&)>& handle,
                      const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = std::chrono::milliseconds(5000))
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        WindowMessage message;
        if (queue.waitNext(message, std::chrono::milliseconds(20)))
            handle(message);
        else if (std::chrono::steady_clock::now() > deadline)
            return false;
    }
    return true;
}

// Takes every message that arrives within `quiet` of the previous one.
inline std::vector<WindowMessage> drainMessages(MessageQueue& queue,
                                                std::chrono::milliseconds quiet = std::chrono::milliseconds(200))
{
    std::vector<WindowMessage> messages;
    WindowMessage message;
    while (queue.waitNext(message, quiet))
        messages.push_back(message);
    return messages;
}
