// WaveRecorder on the virtual device: the buffer cycle of a microphone take (five 28 ms
// buffers, one replaced per returned buffer), its start, stop and close, and buffers that
// come back after a stop, a close or the loss of the device.

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>

#include "AudioTestSupport.h"
#include "audio/M_stack.h"
#include "platform/VirtualWaveDriver.h"
#include "platform/WindowMessages.h"

namespace {

using namespace std::chrono_literals;

constexpr uint32_t kChunk = 1236;

// A recorder with a data callback that does what the take's callback does: ignore what
// comes while not started, keep everything else in order.
class TakeRecorder : public WaveRecorder {
public:
    explicit TakeRecorder(WaveDriver& driver) : WaveRecorder(driver) { dataCallback = keep; }

    std::vector<uint8_t> kept()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return kept_;
    }

    std::atomic<int> calls{0};
    std::atomic<int> ignoredCalls{0};

private:
    static void keep(WaveRecorder* recorder, uint8_t* data, uint32_t length, uint32_t, uint32_t)
    {
        auto* self = static_cast<TakeRecorder*>(recorder);
        ++self->calls;
        if (!self->started) {
            ++self->ignoredCalls;
            return;
        }
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->kept_.insert(self->kept_.end(), data, data + length);
    }

    std::mutex mutex_;
    std::vector<uint8_t> kept_;
};

class WaveRecorderTest : public ::testing::Test {
protected:
    // The window thread's handling of UM_IN_BUFFER_DONE in a take.
    void handle(TakeRecorder& recorder, const WindowMessage& message)
    {
        ASSERT_EQ(message.msg, UM_IN_BUFFER_DONE);
        EXPECT_EQ(message.lParam, reinterpret_cast<LPARAM>(&recorder));
        ++returned;
        // In the cycle five buffers circulate: the one returned and four with the device.
        if (checkCirculation && recorder.started) {
            EXPECT_EQ(recorder.preparedCount, 5);
        }
        recorder.releaseHeader(reinterpret_cast<WAVEHDR*>(message.wParam), true);
        if (recorder.started)
            recorder.queueBuffer(newAudioBuffer(kChunk), kChunk, 1);
    }

    void queueFive(TakeRecorder& recorder)
    {
        for (int i = 0; i < 5; ++i)
            ASSERT_TRUE(recorder.queueBuffer(newAudioBuffer(kChunk), kChunk, 1));
    }

    MessageQueue window;
    int returned = 0;
    bool checkCirculation = false;
};

TEST_F(WaveRecorderTest, BufferCycleKeepsFiveQueuedAndReturnsEveryByteInOrder)
{
    const std::vector<uint8_t> samples = countingSamples(200 * kChunk / 2);
    SampleSource source(kMicrophoneFormat, samples);
    VirtualWaveDriver driver(&source);
    TakeRecorder recorder(driver);
    ASSERT_TRUE(recorder.open(22050, 16, 1, WAVE_MAPPER));
    EXPECT_EQ(recorder.format.nBlockAlign, 2);
    EXPECT_EQ(recorder.format.nAvgBytesPerSec, 44100u);
    ASSERT_TRUE(recorder.start(nullptr, &window));
    queueFive(recorder);

    checkCirculation = true;
    ASSERT_TRUE(pumpUntil(window, [&](const WindowMessage& m) { handle(recorder, m); }, [&] { return returned >= 100; }));
    recorder.stop();
    ASSERT_TRUE(pumpUntil(window, [&](const WindowMessage& m) { handle(recorder, m); },
                          [&] { return recorder.preparedCount == 0; }));
    EXPECT_TRUE(recorder.close());
    EXPECT_EQ(recorder.device.load(), nullptr);

    const std::vector<uint8_t> kept = recorder.kept();
    ASSERT_GE(kept.size(), 100u * kChunk);
    EXPECT_TRUE(std::equal(kept.begin(), kept.end(), samples.begin())) << "the take is not the source's prefix";
    EXPECT_EQ(recorder.calls, returned);
    EXPECT_EQ(recorder.queuedCount, 0);
}

TEST_F(WaveRecorderTest, QueueBufferBeforeStartQueuesNothing)
{
    VirtualWaveDriver driver(nullptr);
    TakeRecorder recorder(driver);
    ASSERT_TRUE(recorder.open(kMicrophoneFormat, WAVE_MAPPER));
    uint8_t* buffer = newAudioBuffer(kChunk);
    EXPECT_TRUE(recorder.queueBuffer(buffer, kChunk, 1));
    EXPECT_EQ(recorder.preparedCount, 0);
    EXPECT_EQ(recorder.queuedCount, 0);
    deleteAudioBuffer(buffer);  // still the caller's
    EXPECT_TRUE(recorder.close());
    EXPECT_TRUE(drainMessages(window, 50ms).empty());
}

TEST_F(WaveRecorderTest, StartTwiceFailsAndChangesNothing)
{
    SampleSource source(kMicrophoneFormat, countingSamples(kChunk));
    VirtualWaveDriver driver(&source);
    TakeRecorder recorder(driver);
    MessageQueue otherWindow;
    ASSERT_TRUE(recorder.open(kMicrophoneFormat, WAVE_MAPPER));
    ASSERT_TRUE(recorder.start(nullptr, &window));
    EXPECT_FALSE(recorder.start(nullptr, &otherWindow));
    EXPECT_TRUE(recorder.started);

    ASSERT_TRUE(recorder.queueBuffer(newAudioBuffer(kChunk), kChunk, 1));
    WindowMessage message;
    ASSERT_TRUE(window.waitNext(message, 5000ms));
    EXPECT_EQ(otherWindow.pending(), 0u);
    recorder.releaseHeader(reinterpret_cast<WAVEHDR*>(message.wParam), true);
    EXPECT_TRUE(recorder.close());
}

TEST_F(WaveRecorderTest, StopWhenNotStartedReturnsAtOnce)
{
    VirtualWaveDriver driver(nullptr);
    TakeRecorder recorder(driver);
    ASSERT_TRUE(recorder.open(kMicrophoneFormat, WAVE_MAPPER));
    const auto before = std::chrono::steady_clock::now();
    EXPECT_TRUE(recorder.stop());
    EXPECT_LT(std::chrono::steady_clock::now() - before, 400ms);  // no 500 ms wait
    EXPECT_STREQ(recorder.lastTrace.step, "");                       // no device call
    EXPECT_TRUE(recorder.close());
}

TEST_F(WaveRecorderTest, BuffersReturnedAfterStopAreReleasedNotReplaced)
{
    VirtualWaveDriver driver(nullptr);  // delivers nothing: only the stop brings buffers back
    TakeRecorder recorder(driver);
    ASSERT_TRUE(recorder.open(kMicrophoneFormat, WAVE_MAPPER));
    ASSERT_TRUE(recorder.start(nullptr, &window));
    queueFive(recorder);
    EXPECT_TRUE(drainMessages(window, 50ms).empty());

    const auto before = std::chrono::steady_clock::now();
    EXPECT_TRUE(recorder.stop());
    EXPECT_GE(std::chrono::steady_clock::now() - before, 450ms);
    EXPECT_STREQ(recorder.lastTrace.step, "reset()");
    EXPECT_FALSE(recorder.started);

    ASSERT_TRUE(pumpUntil(window, [&](const WindowMessage& m) { handle(recorder, m); },
                          [&] { return returned == 5; }));
    EXPECT_EQ(recorder.calls, 5);
    EXPECT_EQ(recorder.ignoredCalls, 5);
    EXPECT_EQ(recorder.preparedCount, 0);
    EXPECT_TRUE(drainMessages(window, 50ms).empty());
    EXPECT_TRUE(recorder.close());
}

TEST_F(WaveRecorderTest, ReleaseHeaderAfterCloseStillFreesTheBuffer)
{
    VirtualWaveDriver driver(nullptr);
    TakeRecorder recorder(driver);
    ASSERT_TRUE(recorder.open(kMicrophoneFormat, WAVE_MAPPER));
    ASSERT_TRUE(recorder.start(nullptr, &window));
    queueFive(recorder);
    EXPECT_TRUE(recorder.close());  // stops first
    EXPECT_EQ(recorder.device.load(), nullptr);
    EXPECT_STREQ(recorder.lastTrace.step, "close()");

    const std::vector<WindowMessage> messages = drainMessages(window);
    ASSERT_EQ(messages.size(), 5u);
    for (const WindowMessage& message : messages)
        EXPECT_TRUE(recorder.releaseHeader(reinterpret_cast<WAVEHDR*>(message.wParam), true));
    EXPECT_EQ(recorder.preparedCount, 0);
    EXPECT_STREQ(recorder.lastTrace.step, "Unprepare Header");
}

TEST_F(WaveRecorderTest, OpenFailsWhileOpenAndForAMissingDevice)
{
    VirtualWaveDriver driver(nullptr);
    TakeRecorder recorder(driver);
    ASSERT_TRUE(recorder.open(kMicrophoneFormat, WAVE_MAPPER));
    WaveDevice* open = recorder.device;
    EXPECT_FALSE(recorder.open(44100, 16, 2, WAVE_MAPPER));
    EXPECT_EQ(recorder.device.load(), open);
    EXPECT_EQ(recorder.format.nSamplesPerSec, 22050u);
    EXPECT_TRUE(recorder.close());

    EXPECT_FALSE(recorder.open(kMicrophoneFormat, 3));
    EXPECT_EQ(recorder.device.load(), nullptr);
    EXPECT_STREQ(recorder.lastTrace.step, "open()");
    EXPECT_EQ(recorder.lastTrace.result, MMSYSERR_BADDEVICEID);
    EXPECT_GT(std::strlen(recorder.lastTrace.text), 0u);
    EXPECT_FALSE(recorder.close());
}

TEST_F(WaveRecorderTest, LostDeviceReturnsEveryBufferAndRefusesNewOnesWithoutHanging)
{
    VirtualWaveDriver driver(nullptr);
    TakeRecorder recorder(driver);
    ASSERT_TRUE(recorder.open(kMicrophoneFormat, WAVE_MAPPER));
    ASSERT_TRUE(recorder.start(nullptr, &window));
    queueFive(recorder);

    driver.removeDevices();
    // Each returned buffer is replaced, and each replacement is refused and freed.
    ASSERT_TRUE(pumpUntil(window, [&](const WindowMessage& m) { handle(recorder, m); },
                          [&] { return returned == 5; }));
    EXPECT_EQ(recorder.preparedCount, 0);
    EXPECT_EQ(recorder.queuedCount, 0);
    EXPECT_STREQ(recorder.lastTrace.step, "prepare header");
    EXPECT_EQ(recorder.lastTrace.result, WAVERR_DEVICELOST);
    EXPECT_NE(std::string(recorder.lastTrace.text).find("removed"), std::string::npos);

    const auto before = std::chrono::steady_clock::now();
    EXPECT_TRUE(recorder.close());  // the failed stop skips the reset and the wait
    EXPECT_LT(std::chrono::steady_clock::now() - before, 400ms);  // no 500 ms wait
    EXPECT_TRUE(drainMessages(window, 50ms).empty());
}

TEST_F(WaveRecorderTest, DestroyingAnOpenRecorderClosesItsDeviceAndFreesItsBuffers)
{
    VirtualWaveDriver driver(nullptr);
    {
        TakeRecorder recorder(driver);
        ASSERT_TRUE(recorder.open(kMicrophoneFormat, WAVE_MAPPER));
        ASSERT_TRUE(recorder.start(nullptr, &window));
        queueFive(recorder);
    }
    // Nothing is posted about a recorder that is gone; its buffers were freed with it.
    EXPECT_TRUE(drainMessages(window, 50ms).empty());
    WaveRecorder again(driver);
    EXPECT_TRUE(again.open(kMicrophoneFormat, WAVE_MAPPER));  // the one input is free again
}

TEST_F(WaveRecorderTest, BuffersReturnedToAWindowThatIsGoneAreFreed)
{
    VirtualWaveDriver driver(nullptr);
    TakeRecorder recorder(driver);
    ASSERT_TRUE(recorder.open(kMicrophoneFormat, WAVE_MAPPER));
    ASSERT_TRUE(recorder.start(nullptr, &window));
    queueFive(recorder);
    window.close();
    EXPECT_TRUE(recorder.close());
    EXPECT_EQ(recorder.preparedCount, 0);
    EXPECT_EQ(recorder.calls, 5);
}

}  // namespace
