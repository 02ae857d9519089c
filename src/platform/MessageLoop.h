#pragma once
// The window thread's message loop: the messages posted to the window, its timers, and
// the "process pending messages" step that a long command on the window thread takes
// between pieces of work. The desktop program implements it with Qt (posted events,
// QTimer, processEvents); the command-line front end and the tests use PumpedMessageLoop,
// which they pump themselves, in real time or in a virtual time they move forward.

#include <chrono>
#include <cstdint>
#include <map>

#include "platform/MessageTarget.h"

using TimerId = uint32_t;

// The window side that receives what the loop delivers, always on the window thread.
class MessageHandler {
public:
    virtual ~MessageHandler() = default;
    virtual void handleMessage(const WindowMessage& message) = 0;
    virtual void handleTimer(TimerId timer) = 0;
};

class MessageLoop {
public:
    virtual ~MessageLoop() = default;

    // Where other threads post the window's messages.
    virtual MessageTarget& target() = 0;
    // Starts a repeating timer, or restarts it with a new interval; it first fires one
    // interval from now. A timer that falls behind fires once, not once per interval missed.
    virtual void setTimer(TimerId timer, std::chrono::milliseconds interval) = 0;
    virtual void killTimer(TimerId timer) = 0;
    // Handles every message waiting now and every timer that is due, then returns.
    virtual void processMessages() = 0;
};

// Time for the timers of a PumpedMessageLoop.
class LoopClock {
public:
    virtual ~LoopClock() = default;
    virtual std::chrono::milliseconds now() const = 0;
    // Whether the loop may sleep until a timer's deadline (false: time moves only when
    // its owner moves it, so waiting for it would never end).
    virtual bool runsByItself() const = 0;
};

class SteadyLoopClock : public LoopClock {
public:
    std::chrono::milliseconds now() const override;
    bool runsByItself() const override { return true; }
};

// The process's real-time loop clock.
LoopClock& steadyLoopClock();

// Time that stands still until advance() moves it.
class ManualLoopClock : public LoopClock {
public:
    std::chrono::milliseconds now() const override { return now_; }
    bool runsByItself() const override { return false; }
    void advance(std::chrono::milliseconds step) { now_ += step; }

private:
    std::chrono::milliseconds now_{0};
};

// A message loop over a MessageQueue that its owner pumps on the window thread.
class PumpedMessageLoop : public MessageLoop {
public:
    explicit PumpedMessageLoop(LoopClock& clock = steadyLoopClock());

    // Who receives messages and timers; without a handler they wait in the queue.
    void setHandler(MessageHandler* handler) { handler_ = handler; }
    MessageQueue& queue() { return queue_; }

    MessageTarget& target() override { return queue_; }
    void setTimer(TimerId timer, std::chrono::milliseconds interval) override;
    void killTimer(TimerId timer) override;
    void processMessages() override;

    // Waits up to `wait` (real time) for a message, or on a clock that runs by itself for
    // the next timer, then handles what has come and what is due. Returns whether anything
    // was handled.
    bool pumpOnce(std::chrono::milliseconds wait);

    bool timerRunning(TimerId timer) const { return timers_.count(timer) != 0; }
    // The interval of a running timer; zero when it is not running.
    std::chrono::milliseconds timerInterval(TimerId timer) const;

private:
    struct Timer {
        std::chrono::milliseconds interval;
        std::chrono::milliseconds due;
    };

    // Fires each timer that is due once; returns how many fired.
    int fireDueTimers();
    bool handleWaitingMessages();

    LoopClock& clock_;
    MessageQueue queue_;
    MessageHandler* handler_ = nullptr;
    std::map<TimerId, Timer> timers_;
};
