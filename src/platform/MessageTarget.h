#pragma once
// Where a thread posts a window message: the stand-in for posting to a window or a thread.
// The desktop program posts to its main window through Qt; the command-line front end and
// the tests use MessageQueue and pump it themselves.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>

using WPARAM = uintptr_t;  // wide enough for a pointer
using LPARAM = intptr_t;   // signed: -1 is a meaningful value

struct WindowMessage {
    uint32_t msg = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};

class MessageTarget {
public:
    virtual ~MessageTarget() = default;
    // Callable from any thread. Returns false when the target is gone (the message is not
    // delivered, so whatever it carries stays with the sender).
    virtual bool post(uint32_t msg, WPARAM wParam, LPARAM lParam) = 0;
};

// A thread-safe first-in first-out queue of messages that its owner pumps.
class MessageQueue : public MessageTarget {
public:
    bool post(uint32_t msg, WPARAM wParam, LPARAM lParam) override;

    // Takes the oldest message; false when none is waiting.
    bool tryNext(WindowMessage& message);
    // Waits up to `timeout` for a message; false when none arrived or the queue is closed
    // and empty.
    bool waitNext(WindowMessage& message, std::chrono::milliseconds timeout);
    // The target is gone from now on: later posts return false. Messages already queued
    // can still be taken.
    void close();
    bool isOpen() const;
    size_t pending() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<WindowMessage> messages_;
    bool open_ = true;
};
