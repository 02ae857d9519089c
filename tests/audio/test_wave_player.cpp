// WavePlayer on the virtual device: chunks play in order and come back as messages and
// done callbacks, an inactive player refuses chunks, and close returns what was written.

#include <gtest/gtest.h>

#include <mutex>

#include "AudioTestSupport.h"
#include "audio/M_stack.h"
#include "platform/VirtualWaveDriver.h"
#include "platform/WindowMessages.h"

namespace {

using namespace std::chrono_literals;

constexpr uint32_t kChunk = 1236;

// Writes down, in order, the messages posted to the window and the done callbacks.
class EventLog : public MessageTarget {
public:
    bool post(uint32_t msg, WPARAM wParam, LPARAM lParam) override
    {
        note("message");
        return queue.post(msg, wParam, lParam);
    }

    void note(const std::string& event)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(event);
    }

    std::vector<std::string> events()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }

    MessageQueue queue;

private:
    std::mutex mutex_;
    std::vector<std::string> events_;
};

EventLog* gLog = nullptr;
std::atomic<uint32_t> gDoneBytes{0};

void notePlayed(WavePlayer*, uint8_t*, uint32_t length, uint32_t, uint32_t)
{
    gDoneBytes += length;
    gLog->note("done");
}

class WavePlayerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        gLog = &log;
        gDoneBytes = 0;
    }
    void TearDown() override { gLog = nullptr; }

    uint8_t* chunkOf(const std::vector<uint8_t>& samples, size_t index)
    {
        uint8_t* chunk = newAudioBuffer(kChunk);
        std::copy(samples.begin() + index * kChunk, samples.begin() + (index + 1) * kChunk, chunk);
        return chunk;
    }

    // The window thread's handling of UM_OUT_BUFFER_DONE. Once the device is closed the
    // header cannot be unprepared: the result is false, the memory is freed all the same.
    void release(WavePlayer& player, const WindowMessage& message, bool deviceOpen = true)
    {
        ASSERT_EQ(message.msg, UM_OUT_BUFFER_DONE);
        EXPECT_EQ(message.lParam, reinterpret_cast<LPARAM>(&player));
        EXPECT_EQ(player.releaseHeader(reinterpret_cast<WAVEHDR*>(message.wParam), true), deviceOpen);
        ++released;
    }

    EventLog log;
    int released = 0;
};

TEST_F(WavePlayerTest, PlaysChunksInOrderAndReportsEachAfterItsMessage)
{
    VirtualWaveDriver driver(nullptr);
    WavePlayer player(driver);
    const std::vector<uint8_t> samples = countingSamples(10 * kChunk / 2);
    ASSERT_TRUE(player.open(kMicrophoneFormat, WAVE_MAPPER));
    player.doneCallback = notePlayed;
    ASSERT_TRUE(player.start(nullptr, &log));
    for (size_t i = 0; i < 10; ++i)
        ASSERT_TRUE(player.queueChunk(chunkOf(samples, i), kChunk, 0));

    ASSERT_TRUE(pumpUntil(log.queue, [&](const WindowMessage& m) { release(player, m); }, [&] { return released == 10; }));
    for (int i = 0; i < 100 && gDoneBytes < 10 * kChunk; ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(driver.played(), samples);
    EXPECT_EQ(gDoneBytes, 10 * kChunk);
    const std::vector<std::string> events = log.events();
    ASSERT_EQ(events.size(), 20u);
    for (size_t i = 0; i < events.size(); i += 2) {
        EXPECT_EQ(events[i], "message");
        EXPECT_EQ(events[i + 1], "done");
    }
    EXPECT_EQ(player.preparedCount, 0);
    EXPECT_TRUE(player.stop());
    EXPECT_TRUE(player.close());
}

TEST_F(WavePlayerTest, InactivePlayerRefusesChunks)
{
    VirtualWaveDriver driver(nullptr);
    WavePlayer player(driver);
    ASSERT_TRUE(player.open(kMicrophoneFormat, WAVE_MAPPER));
    uint8_t* chunk = newAudioBuffer(kChunk);
    EXPECT_FALSE(player.queueChunk(chunk, kChunk, 0));
    EXPECT_FALSE(player.stop());
    ASSERT_TRUE(player.start(nullptr, &log));
    EXPECT_FALSE(player.start(nullptr, &log));
    EXPECT_TRUE(player.stop());
    EXPECT_FALSE(player.queueChunk(chunk, kChunk, 0));
    EXPECT_EQ(player.preparedCount, 0);
    deleteAudioBuffer(chunk);  // refused chunks stay with the caller
    EXPECT_TRUE(player.close());
    EXPECT_TRUE(driver.played().empty());
}

TEST_F(WavePlayerTest, CloseOnAnActivePlayerReturnsWrittenChunksAndClearsTheHandle)
{
    ManualWaveClock clock;  // stands still: nothing finishes playing by itself
    VirtualWaveDriver driver(nullptr, &clock);
    WavePlayer player(driver);
    const std::vector<uint8_t> samples = countingSamples(3 * kChunk / 2);
    ASSERT_TRUE(player.open(kMicrophoneFormat, WAVE_MAPPER));
    player.doneCallback = notePlayed;
    ASSERT_TRUE(player.start(nullptr, &log));
    for (size_t i = 0; i < 3; ++i)
        ASSERT_TRUE(player.queueChunk(chunkOf(samples, i), kChunk, 0));
    EXPECT_TRUE(drainMessages(log.queue, 50ms).empty());

    const auto before = std::chrono::steady_clock::now();
    EXPECT_TRUE(player.close());
    EXPECT_GE(std::chrono::steady_clock::now() - before, 450ms);
    EXPECT_FALSE(player.active);
    EXPECT_EQ(player.device.load(), nullptr);
    EXPECT_STREQ(player.lastTrace.step, "close()");

    const std::vector<WindowMessage> messages = drainMessages(log.queue);
    ASSERT_EQ(messages.size(), 3u);
    for (const WindowMessage& message : messages)
        release(player, message, false);
    EXPECT_EQ(player.preparedCount, 0);
    EXPECT_STREQ(player.lastTrace.step, "Unprepare Header");
    EXPECT_FALSE(player.close());  // nothing left to close
}

TEST_F(WavePlayerTest, ChunkRefusedByALostDeviceStaysWithTheCaller)
{
    ManualWaveClock clock;
    VirtualWaveDriver driver(nullptr, &clock);
    WavePlayer player(driver);
    ASSERT_TRUE(player.open(kMicrophoneFormat, WAVE_MAPPER));
    ASSERT_TRUE(player.start(nullptr, &log));
    ASSERT_TRUE(player.queueChunk(newAudioBuffer(kChunk), kChunk, 0));

    driver.removeDevices();
    const std::vector<WindowMessage> messages = drainMessages(log.queue);
    ASSERT_EQ(messages.size(), 1u);
    release(player, messages.front());

    uint8_t* chunk = newAudioBuffer(kChunk);
    EXPECT_FALSE(player.queueChunk(chunk, kChunk, 0));
    EXPECT_STREQ(player.lastTrace.step, "prepare header");
    EXPECT_EQ(player.preparedCount, 0);
    deleteAudioBuffer(chunk);
    EXPECT_TRUE(player.close());
}

TEST_F(WavePlayerTest, ChunksReturnedToAWindowThatIsGoneAreFreed)
{
    ManualWaveClock clock;
    VirtualWaveDriver driver(nullptr, &clock);
    WavePlayer player(driver);
    ASSERT_TRUE(player.open(kMicrophoneFormat, WAVE_MAPPER));
    player.doneCallback = notePlayed;
    ASSERT_TRUE(player.start(nullptr, &log));
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(player.queueChunk(newAudioBuffer(kChunk), kChunk, 0));
    log.queue.close();
    EXPECT_TRUE(player.close());
    EXPECT_EQ(player.preparedCount, 0);
    EXPECT_EQ(gDoneBytes, 3 * kChunk);  // the done callback still hears of every chunk
}

TEST_F(WavePlayerTest, OpenFailsForAMissingDeviceWithItsText)
{
    VirtualWaveDriver driver(nullptr);
    WavePlayer player(driver);
    EXPECT_FALSE(player.open(22050, 16, 1, 7));
    EXPECT_STREQ(player.lastTrace.step, "open()");
    EXPECT_EQ(driver.errorText(player.lastTrace.result), player.lastTrace.text);
    EXPECT_FALSE(player.close());
}

}  // namespace
