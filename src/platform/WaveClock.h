#pragma once
// The time base of the virtual wave devices: the steady clock of the machine, or a manual
// clock that a test moves forward. A device's thread waits on the clock for a deadline;
// wake() ends every wait early so that the thread can look at a change of its state.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

class WaveClock {
public:
    virtual ~WaveClock() = default;

    virtual std::chrono::nanoseconds now() = 0;

    // Take a ticket before looking at the state a wait depends on; waitUntil returns at
    // once when wake() was called since.
    uint64_t ticket();
    void wake();
    // Waits until now() reaches `deadline` or wake() is called after `ticket` was taken.
    void waitUntil(std::chrono::nanoseconds deadline, uint64_t ticket);

protected:
    // Waits on `changed_` with `lock` held until `deadline` passes or the ticket moves on.
    virtual void waitLocked(std::unique_lock<std::mutex>& lock, std::chrono::nanoseconds deadline,
                            uint64_t ticket) = 0;

    std::mutex mutex_;
    std::condition_variable changed_;
    uint64_t ticket_ = 0;
};

// Real time, counted from the clock's creation.
class SteadyWaveClock : public WaveClock {
public:
    std::chrono::nanoseconds now() override;

private:
    void waitLocked(std::unique_lock<std::mutex>& lock, std::chrono::nanoseconds deadline, uint64_t ticket) override;

    const std::chrono::steady_clock::time_point epoch_ = std::chrono::steady_clock::now();
};

// Time that stands still until advance() moves it.
class ManualWaveClock : public WaveClock {
public:
    std::chrono::nanoseconds now() override;
    void advance(std::chrono::nanoseconds step);

private:
    void waitLocked(std::unique_lock<std::mutex>& lock, std::chrono::nanoseconds deadline, uint64_t ticket) override;

    std::chrono::nanoseconds now_{0};
};
