#pragma once
// An event object that resets itself: set() signals it, and the next wait() (already
// waiting or still to come) returns and unsignals it.

#include <condition_variable>
#include <mutex>

class AutoResetEvent {
public:
    void set()
    {
        std::lock_guard<std::mutex> guard(mutex);
        signalled = true;
        changed.notify_one();
    }

    void reset()
    {
        std::lock_guard<std::mutex> guard(mutex);
        signalled = false;
    }

    // Waits with no time-out.
    void wait()
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [this] { return signalled; });
        signalled = false;
    }

private:
    std::mutex mutex;
    std::condition_variable changed;
    bool signalled = false;
};
