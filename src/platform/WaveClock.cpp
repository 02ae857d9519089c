#include "platform/WaveClock.h"

uint64_t WaveClock::ticket()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return ticket_;
}

void WaveClock::wake()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++ticket_;
    }
    changed_.notify_all();
}

void WaveClock::waitUntil(std::chrono::nanoseconds deadline, uint64_t ticket)
{
    std::unique_lock<std::mutex> lock(mutex_);
    waitLocked(lock, deadline, ticket);
}

std::chrono::nanoseconds SteadyWaveClock::now()
{
    return std::chrono::steady_clock::now() - epoch_;
}

void SteadyWaveClock::waitLocked(std::unique_lock<std::mutex>& lock, std::chrono::nanoseconds deadline,
                                 uint64_t ticket)
{
    changed_.wait_until(lock, epoch_ + deadline, [&] { return ticket_ != ticket; });
}

std::chrono::nanoseconds ManualWaveClock::now()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return now_;
}

void ManualWaveClock::advance(std::chrono::nanoseconds step)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        now_ += step;
    }
    changed_.notify_all();
}

void ManualWaveClock::waitLocked(std::unique_lock<std::mutex>& lock, std::chrono::nanoseconds deadline,
                                 uint64_t ticket)
{
    changed_.wait(lock, [&] { return now_ >= deadline || ticket_ != ticket; });
}
