#include "platform/MessageTarget.h"

bool MessageQueue::post(uint32_t msg, WPARAM wParam, LPARAM lParam) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!open_)
            return false;
        messages_.push_back({msg, wParam, lParam});
    }
    arrived_.notify_one();
    return true;
}

bool MessageQueue::tryNext(WindowMessage& message) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (messages_.empty())
        return false;
    message = messages_.front();
    messages_.pop_front();
    return true;
}

bool MessageQueue::waitNext(WindowMessage& message, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!arrived_.wait_for(lock, timeout, [this] { return !messages_.empty() || !open_; }))
        return false;
    if (messages_.empty())
        return false;
    message = messages_.front();
    messages_.pop_front();
    return true;
}

void MessageQueue::close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = false;
    }
    arrived_.notify_all();
}

bool MessageQueue::isOpen() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return open_;
}

size_t MessageQueue::pending() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_.size();
}
