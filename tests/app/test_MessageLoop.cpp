// The pumped message loop: messages handed over in order, timers in virtual time, and the
// "process pending messages" step that a long command takes.

#include <gtest/gtest.h>

#include <vector>

#include "platform/MessageLoop.h"

namespace {

using namespace std::chrono_literals;

struct Log : MessageHandler {
    std::vector<uint32_t> messages;
    std::vector<std::pair<TimerId, int64_t>> firings;
    const ManualLoopClock* clock = nullptr;
    std::function<void(TimerId)> onTimer;

    void handleMessage(const WindowMessage& message) override { messages.push_back(message.msg); }
    void handleTimer(TimerId timer) override
    {
        firings.emplace_back(timer, clock->now().count());
        if (onTimer)
            onTimer(timer);
    }
};

class MessageLoopTest : public ::testing::Test {
protected:
    MessageLoopTest() { log.clock = &clock; loop.setHandler(&log); }

    void runFor(std::chrono::milliseconds span, std::chrono::milliseconds step)
    {
        for (auto t = 0ms; t < span; t += step) {
            clock.advance(step);
            loop.pumpOnce(0ms);
        }
    }

    ManualLoopClock clock;
    PumpedMessageLoop loop{clock};
    Log log;
};

TEST_F(MessageLoopTest, TimersFireEveryIntervalAndFallingBehindFiresOnce)
{
    loop.setTimer(1, 500ms);
    loop.setTimer(2, 300ms);
    runFor(1000ms, 100ms);
    EXPECT_EQ(log.firings, (std::vector<std::pair<TimerId, int64_t>>{{2, 300}, {1, 500}, {2, 600}, {2, 900}, {1, 1000}}));

    log.firings.clear();
    clock.advance(5000ms); // a long time without pumping
    loop.pumpOnce(0ms);
    EXPECT_EQ(log.firings.size(), 2u);
    log.firings.clear();
    runFor(300ms, 100ms);
    EXPECT_EQ(log.firings, (std::vector<std::pair<TimerId, int64_t>>{{2, 6300}}));
}

TEST_F(MessageLoopTest, SetTimerRestartsAndKillStopsEvenFromATimerHandler)
{
    loop.setTimer(1, 777ms);
    runFor(500ms, 100ms);
    loop.setTimer(1, 28ms); // restarted from now with the new interval
    EXPECT_EQ(loop.timerInterval(1), 28ms);
    runFor(60ms, 10ms);
    EXPECT_EQ(log.firings, (std::vector<std::pair<TimerId, int64_t>>{{1, 530}, {1, 560}}));

    log.onTimer = [&](TimerId id) { loop.killTimer(id); };
    runFor(100ms, 10ms);
    EXPECT_EQ(log.firings.size(), 3u);
    EXPECT_FALSE(loop.timerRunning(1));
    EXPECT_EQ(loop.timerInterval(1), 0ms);
}

TEST_F(MessageLoopTest, ProcessMessagesHandlesWhatIsWaitingInOrder)
{
    loop.target().post(1, 0, 0);
    loop.target().post(2, 0, 0);
    loop.target().post(3, 0, 0);
    loop.processMessages();
    EXPECT_EQ(log.messages, (std::vector<uint32_t>{1, 2, 3}));
    EXPECT_FALSE(loop.pumpOnce(0ms));
}

TEST(SteadyMessageLoop, PumpWaitsForTheNextTimer)
{
    PumpedMessageLoop loop;
    struct : MessageHandler {
        int fired = 0;
        void handleMessage(const WindowMessage&) override {}
        void handleTimer(TimerId) override { ++fired; }
    } handler;
    loop.setHandler(&handler);
    loop.setTimer(7, 30ms);
    const auto start = std::chrono::steady_clock::now();
    while (handler.fired == 0 && std::chrono::steady_clock::now() - start < 5s)
        loop.pumpOnce(1000ms);
    EXPECT_EQ(handler.fired, 1);
    // It waited for the timer, not for the whole second.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 900ms);
}

} // namespace
