#pragma once
// The window thread's message loop on Qt's event loop: a posted window message becomes a
// Qt event posted to the loop's receiver, each timer is a QTimer, and "process pending
// messages" lets Qt handle what is waiting (input included, so that Stop works inside a
// long command). Once shutting down, it delivers only the window messages still queued,
// so that the buffers they carry are freed while nothing else of the window runs.

#include <QObject>

#include <map>
#include <memory>
#include <mutex>

#include "platform/MessageLoop.h"

class QTimer;

class QtMessageLoop : public QObject, public MessageLoop {
public:
    QtMessageLoop();
    ~QtMessageLoop() override;

    // Who receives the messages and timers (not owned); without one they are dropped, the
    // buffers they carry with them.
    void setHandler(MessageHandler* handler) { handler_ = handler; }
    void beginShutdown() { shuttingDown_ = true; }

    MessageTarget& target() override;
    void setTimer(TimerId timer, std::chrono::milliseconds interval) override;
    void killTimer(TimerId timer) override;
    void processMessages() override;

    bool timerRunning(TimerId timer) const;

protected:
    void customEvent(QEvent* event) override;

private:
    // Posts to the loop's receiver from any thread until the loop is gone.
    class Target : public MessageTarget {
    public:
        explicit Target(QObject* receiver) : receiver_(receiver) {}
        bool post(uint32_t msg, WPARAM wParam, LPARAM lParam) override;
        void close();

    private:
        std::mutex mutex_;
        QObject* receiver_;
    };

    Target target_;
    MessageHandler* handler_ = nullptr;
    std::map<TimerId, QTimer*> timers_;
    bool shuttingDown_ = false;
};
