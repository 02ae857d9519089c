#include "app/QtMessageLoop.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>

namespace {

const QEvent::Type kWindowMessageEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

class WindowMessageEvent : public QEvent {
public:
    explicit WindowMessageEvent(const WindowMessage& message) : QEvent(kWindowMessageEvent), message(message) {}
    const WindowMessage message;
};

} // namespace

bool QtMessageLoop::Target::post(uint32_t msg, WPARAM wParam, LPARAM lParam)
{
    std::lock_guard<std::mutex> guard(mutex_);
    if (receiver_ == nullptr)
        return false;
    QCoreApplication::postEvent(receiver_, new WindowMessageEvent(WindowMessage{msg, wParam, lParam}));
    return true;
}

void QtMessageLoop::Target::close()
{
    std::lock_guard<std::mutex> guard(mutex_);
    receiver_ = nullptr;
}

QtMessageLoop::QtMessageLoop() : target_(this) {}

QtMessageLoop::~QtMessageLoop()
{
    target_.close();
    // What is still queued is handed over now: it may carry buffers.
    QCoreApplication::sendPostedEvents(this, kWindowMessageEvent);
}

MessageTarget& QtMessageLoop::target()
{
    return target_;
}

void QtMessageLoop::setTimer(TimerId timer, std::chrono::milliseconds interval)
{
    QTimer*& qtTimer = timers_[timer];
    if (qtTimer == nullptr) {
        qtTimer = new QTimer(this);
        connect(qtTimer, &QTimer::timeout, this, [this, timer] {
            if (handler_ != nullptr && !shuttingDown_)
                handler_->handleTimer(timer);
        });
    }
    qtTimer->start(std::max(interval, std::chrono::milliseconds(1)));
}

void QtMessageLoop::killTimer(TimerId timer)
{
    const auto found = timers_.find(timer);
    if (found != timers_.end())
        found->second->stop();
}

bool QtMessageLoop::timerRunning(TimerId timer) const
{
    const auto found = timers_.find(timer);
    return found != timers_.end() && found->second->isActive();
}

void QtMessageLoop::processMessages()
{
    if (shuttingDown_)
        QCoreApplication::sendPostedEvents(this, kWindowMessageEvent);
    else
        QCoreApplication::processEvents();
}

void QtMessageLoop::customEvent(QEvent* event)
{
    if (event->type() != kWindowMessageEvent)
        return;
    const WindowMessage& message = static_cast<WindowMessageEvent*>(event)->message;
    if (handler_ != nullptr)
        handler_->handleMessage(message);
}
