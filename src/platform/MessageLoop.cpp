#include "platform/MessageLoop.h"

#include <algorithm>
#include <vector>

using std::chrono::milliseconds;

milliseconds SteadyLoopClock::now() const
{
    return std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
}

LoopClock& steadyLoopClock()
{
    static SteadyLoopClock clock;
    return clock;
}

PumpedMessageLoop::PumpedMessageLoop(LoopClock& clock) : clock_(clock) {}

void PumpedMessageLoop::setTimer(TimerId timer, milliseconds interval)
{
    const milliseconds period = std::max(interval, milliseconds(1));
    timers_[timer] = Timer{period, clock_.now() + period};
}

void PumpedMessageLoop::killTimer(TimerId timer)
{
    timers_.erase(timer);
}

milliseconds PumpedMessageLoop::timerInterval(TimerId timer) const
{
    const auto found = timers_.find(timer);
    return found != timers_.end() ? found->second.interval : milliseconds(0);
}

bool PumpedMessageLoop::handleWaitingMessages()
{
    // Only what is waiting now: a handler that posts again is served by the next call.
    size_t waiting = queue_.pending();
    bool handled = false;
    WindowMessage message;
    while (waiting-- > 0 && handler_ != nullptr && queue_.tryNext(message)) {
        handler_->handleMessage(message);
        handled = true;
    }
    return handled;
}

int PumpedMessageLoop::fireDueTimers()
{
    if (handler_ == nullptr)
        return 0;
    const milliseconds now = clock_.now();
    std::vector<TimerId> due;
    for (const auto& [id, timer] : timers_) {
        if (timer.due <= now)
            due.push_back(id);
    }
    int fired = 0;
    for (TimerId id : due) {
        // A handler may have killed or restarted this timer meanwhile.
        const auto found = timers_.find(id);
        if (found == timers_.end() || found->second.due > now)
            continue;
        found->second.due = now + found->second.interval;
        handler_->handleTimer(id);
        ++fired;
    }
    return fired;
}

void PumpedMessageLoop::processMessages()
{
    handleWaitingMessages();
    fireDueTimers();
}

bool PumpedMessageLoop::pumpOnce(milliseconds wait)
{
    if (clock_.runsByItself() && !timers_.empty()) {
        milliseconds next = timers_.begin()->second.due;
        for (const auto& [id, timer] : timers_)
            next = std::min(next, timer.due);
        wait = std::clamp(next - clock_.now(), milliseconds(0), wait);
    }
    WindowMessage message;
    bool handled = false;
    if (handler_ != nullptr && queue_.waitNext(message, wait)) {
        handler_->handleMessage(message);
        handled = true;
    }
    handled = handleWaitingMessages() || handled;
    return fireDueTimers() > 0 || handled;
}
