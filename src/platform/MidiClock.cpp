#include "platform/MidiClock.h"

#include <algorithm>
#include <chrono>

namespace {

using SteadyMicroseconds = std::chrono::time_point<std::chrono::steady_clock, std::chrono::microseconds>;

} // namespace

int64_t SteadyMidiClock::nowUs() const
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void SteadyMidiClock::waitUntil(std::condition_variable& wake, std::unique_lock<std::mutex>& lock, int64_t deadlineUs)
{
    if (deadlineUs == kNoDeadline)
        wake.wait(lock);
    else
        wake.wait_until(lock, SteadyMicroseconds(std::chrono::microseconds(deadlineUs)));
}

MidiClock& steadyMidiClock()
{
    static SteadyMidiClock clock;
    return clock;
}

void ManualMidiClock::waitUntil(std::condition_variable& wake, std::unique_lock<std::mutex>& lock, int64_t)
{
    // Time moves only in advance(), which wakes each attached stream through catchUp().
    wake.wait(lock);
}

void ManualMidiClock::attach(MidiClockClient* client)
{
    std::lock_guard<std::mutex> guard(clientsMutex);
    clients.push_back(client);
}

void ManualMidiClock::detach(MidiClockClient* client)
{
    std::lock_guard<std::mutex> guard(clientsMutex);
    clients.erase(std::remove(clients.begin(), clients.end(), client), clients.end());
}

void ManualMidiClock::advance(int64_t us)
{
    std::lock_guard<std::mutex> guard(clientsMutex);
    const int64_t target = now.load() + us;
    now.store(target);
    for (MidiClockClient* client : clients)
        client->catchUp(target);
}

void FastForwardMidiClock::waitUntil(std::condition_variable& wake, std::unique_lock<std::mutex>& lock,
                                     int64_t deadlineUs)
{
    if (deadlineUs == kNoDeadline) {
        wake.wait(lock);
        return;
    }
    int64_t current = now.load();
    while (current < deadlineUs && !now.compare_exchange_weak(current, deadlineUs)) {
    }
}
