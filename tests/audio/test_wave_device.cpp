// The wave device contract, on the clocked virtual device: buffers come back in order,
// exactly once, on the driver thread; stop, reset, close and a removed device return
// every queued buffer; pacing follows the clock.

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "AudioTestSupport.h"
#include "platform/VirtualWaveDriver.h"
#include "platform/WaveClock.h"

namespace {

using namespace std::chrono_literals;

constexpr uint32_t kChunk = 1236;  // one 28 ms chunk of the microphone format

// Every callback the device made, with the thread it ran on.
class CallbackLog {
public:
    struct Entry {
        uint32_t message;
        WAVEHDR* header;
        uint32_t bytesRecorded;
        std::thread::id thread;
    };

    static void callback(WaveDevice*, uint32_t message, uintptr_t instance, uintptr_t param1, uintptr_t)
    {
        auto* log = reinterpret_cast<CallbackLog*>(instance);
        auto* header = reinterpret_cast<WAVEHDR*>(param1);
        std::lock_guard<std::mutex> lock(log->mutex_);
        log->entries_.push_back({message, header, header != nullptr ? header->dwBytesRecorded : 0,
                                 std::this_thread::get_id()});
        log->added_.notify_all();
    }

    // Waits until `count` callbacks carried `message`.
    bool waitFor(uint32_t message, size_t count, std::chrono::milliseconds timeout = 5s)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return added_.wait_for(lock, timeout, [&] { return countLocked(message) >= count; });
    }

    size_t count(uint32_t message)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return countLocked(message);
    }

    std::vector<Entry> entries()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return entries_;
    }

private:
    size_t countLocked(uint32_t message) const
    {
        size_t count = 0;
        for (const Entry& entry : entries_)
            count += entry.message == message;
        return count;
    }

    std::mutex mutex_;
    std::condition_variable added_;
    std::vector<Entry> entries_;
};

struct Buffer {
    explicit Buffer(uint32_t size) : bytes(size)
    {
        header.lpData = bytes.data();
        header.dwBufferLength = size;
    }
    std::vector<uint8_t> bytes;
    WAVEHDR header{};
};

// Closes a device that a failed assertion left open, before its driver and clock go.
class DeviceCloser {
public:
    explicit DeviceCloser(WaveDevice*& device) : device_(device) {}
    ~DeviceCloser()
    {
        if (device_ != nullptr)
            device_->close();
    }

private:
    WaveDevice*& device_;
};

// Closes `device`; once closed the handle is gone.
MMRESULT closeDevice(WaveDevice*& device)
{
    const MMRESULT result = device->close();
    if (result == MMSYSERR_NOERROR)
        device = nullptr;
    return result;
}

class WaveDeviceTest : public ::testing::Test {
protected:
    WaveDevice* open(VirtualWaveDriver& driver, WaveDirection direction)
    {
        WaveDevice* device = nullptr;
        EXPECT_EQ(driver.open(direction, &device, WAVE_MAPPER, kMicrophoneFormat, CallbackLog::callback,
                              reinterpret_cast<uintptr_t>(&log), CALLBACK_FUNCTION),
                  MMSYSERR_NOERROR);
        return device;
    }

    WAVEHDR* queue(WaveDevice* device, uint32_t size = kChunk, std::vector<uint8_t> content = {})
    {
        buffers.push_back(std::make_unique<Buffer>(size));
        if (!content.empty())
            buffers.back()->bytes = content;
        WAVEHDR* header = &buffers.back()->header;
        header->lpData = buffers.back()->bytes.data();
        EXPECT_EQ(device->prepareHeader(header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        const MMRESULT queued = device->direction() == WaveDirection::Input ? device->addBuffer(header, sizeof(WAVEHDR))
                                                                             : device->write(header, sizeof(WAVEHDR));
        EXPECT_EQ(queued, MMSYSERR_NOERROR);
        return header;
    }

    CallbackLog log;
    std::deque<std::unique_ptr<Buffer>> buffers;
};

TEST_F(WaveDeviceTest, InputFillsQueuedBuffersInOrderOnTheDriverThread)
{
    const std::vector<uint8_t> samples = countingSamples(3 * kChunk / 2 + 100);
    SampleSource source(kMicrophoneFormat, samples);
    VirtualWaveDriver driver(&source);
    WaveDevice* device = open(driver, WaveDirection::Input);
    DeviceCloser closer{device};
    ASSERT_NE(device, nullptr);
    for (int i = 0; i < 3; ++i)
        queue(device);
    ASSERT_EQ(device->start(), MMSYSERR_NOERROR);
    ASSERT_TRUE(log.waitFor(WIM_DATA, 3));

    for (size_t i = 0; i < 3; ++i) {
        const WAVEHDR& header = buffers[i]->header;
        EXPECT_EQ(header.dwBytesRecorded, kChunk);
        EXPECT_EQ(header.dwFlags & (WHDR_DONE | WHDR_INQUEUE), WHDR_DONE);
        EXPECT_TRUE(std::equal(buffers[i]->bytes.begin(), buffers[i]->bytes.end(), samples.begin() + i * kChunk))
            << "buffer " << i;
    }
    ASSERT_EQ(closeDevice(device), MMSYSERR_NOERROR);

    const std::vector<CallbackLog::Entry> entries = log.entries();
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries.front().message, WIM_OPEN);
    EXPECT_EQ(entries[1].header, &buffers[0]->header);
    EXPECT_EQ(entries[3].header, &buffers[2]->header);
    EXPECT_EQ(entries.back().message, WIM_CLOSE);
    for (const CallbackLog::Entry& entry : entries)
        EXPECT_NE(entry.thread, std::this_thread::get_id());
}

TEST_F(WaveDeviceTest, ManualClockPacesCapture)
{
    SampleSource source(kMicrophoneFormat, countingSamples(10 * kChunk));
    ManualWaveClock clock;
    VirtualWaveDriver driver(&source, &clock);
    WaveDevice* device = open(driver, WaveDirection::Input);
    DeviceCloser closer{device};
    ASSERT_NE(device, nullptr);
    for (int i = 0; i < 5; ++i)
        queue(device);
    ASSERT_EQ(device->start(), MMSYSERR_NOERROR);

    // A buffer of 618 frames is full after 28.03 ms at 22050 Hz.
    clock.advance(27ms);
    EXPECT_FALSE(log.waitFor(WIM_DATA, 1, 100ms));
    clock.advance(2ms);
    EXPECT_TRUE(log.waitFor(WIM_DATA, 1));
    clock.advance(27ms);  // 56 ms: 1234 frames, still short of two buffers
    EXPECT_FALSE(log.waitFor(WIM_DATA, 2, 100ms));
    clock.advance(1ms);
    EXPECT_TRUE(log.waitFor(WIM_DATA, 2));
    clock.advance(1000ms);  // everything queued fills; later samples find no buffer
    EXPECT_TRUE(log.waitFor(WIM_DATA, 5));
    EXPECT_EQ(log.count(WIM_DATA), 5u);
    EXPECT_EQ(closeDevice(device), MMSYSERR_NOERROR);
}

TEST_F(WaveDeviceTest, SamplesWaitForBuffersQueuedLateUpToTheBacklogLimit)
{
    const std::vector<uint8_t> samples = countingSamples(200 * kChunk / 2);
    SampleSource source(kMicrophoneFormat, samples);
    ManualWaveClock clock;
    VirtualWaveDriver driver(&source, &clock);
    WaveDevice* device = open(driver, WaveDirection::Input);
    DeviceCloser closer{device};
    ASSERT_NE(device, nullptr);
    queue(device);
    ASSERT_EQ(device->start(), MMSYSERR_NOERROR);
    clock.advance(100ms);  // 2205 frames: one buffer, the rest without one
    ASSERT_TRUE(log.waitFor(WIM_DATA, 1));

    queue(device);  // filled at once from what was kept
    queue(device);
    ASSERT_TRUE(log.waitFor(WIM_DATA, 3));
    for (size_t i = 0; i < 3; ++i)
        EXPECT_TRUE(std::equal(buffers[i]->bytes.begin(), buffers[i]->bytes.end(), samples.begin() + i * kChunk))
            << "buffer " << i;

    // Three seconds without a buffer: two seconds (88200 bytes) wait, the rest is lost.
    // Whether the device catches up before or after the first new buffer is queued
    // decides whether that buffer's room is kept as well: 74 or 75 buffers in all.
    clock.advance(3000ms);
    EXPECT_FALSE(log.waitFor(WIM_DATA, 4, 100ms));
    for (int i = 0; i < 80; ++i)
        queue(device);
    ASSERT_TRUE(log.waitFor(WIM_DATA, 74));
    std::this_thread::sleep_for(100ms);
    const size_t kept = log.count(WIM_DATA);
    EXPECT_LE(kept, 75u);
    for (size_t i = 3; i < kept; ++i)
        ASSERT_TRUE(std::equal(buffers[i]->bytes.begin(), buffers[i]->bytes.end(), samples.begin() + i * kChunk))
            << "buffer " << i;

    // The next buffer holds the rest of what was kept, then what fell due at 3.1 s.
    clock.advance(100ms);
    ASSERT_TRUE(log.waitFor(WIM_DATA, kept + 1));
    const std::vector<uint8_t>& joined = buffers[kept]->bytes;
    size_t join = 0;
    while (join < kChunk && joined[join] == samples[kept * kChunk + join])
        ++join;
    EXPECT_LT(join, kChunk);
    EXPECT_TRUE(std::equal(joined.begin() + static_cast<std::ptrdiff_t>(join), joined.end(), samples.begin() + 136710))
        << "the sound does not go on from 3.1 s after byte " << join;
    EXPECT_EQ(closeDevice(device), MMSYSERR_NOERROR);
}

TEST_F(WaveDeviceTest, StopReturnsThePartlyFilledBufferAndKeepsTheEmptyOnes)
{
    SampleSource source(kMicrophoneFormat, countingSamples(10 * kChunk));
    ManualWaveClock clock;
    VirtualWaveDriver driver(&source, &clock);
    WaveDevice* device = open(driver, WaveDirection::Input);
    DeviceCloser closer{device};
    ASSERT_NE(device, nullptr);
    WAVEHDR* first = queue(device);
    WAVEHDR* second = queue(device);
    ASSERT_EQ(device->start(), MMSYSERR_NOERROR);

    clock.advance(10ms);  // 220 frames
    ASSERT_EQ(device->stop(), MMSYSERR_NOERROR);
    ASSERT_TRUE(log.waitFor(WIM_DATA, 1));
    EXPECT_EQ(first->dwBytesRecorded, 440u);
    EXPECT_EQ(device->unprepareHeader(second, sizeof(WAVEHDR)), WAVERR_STILLPLAYING);

    ASSERT_EQ(device->reset(), MMSYSERR_NOERROR);
    ASSERT_TRUE(log.waitFor(WIM_DATA, 2));
    EXPECT_EQ(second->dwBytesRecorded, 0u);
    EXPECT_EQ(device->unprepareHeader(second, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(closeDevice(device), MMSYSERR_NOERROR);
}

TEST_F(WaveDeviceTest, ResetAndCloseReturnEveryBufferWhenTheSourceDeliversNothing)
{
    VirtualWaveDriver driver(nullptr);
    WaveDevice* device = open(driver, WaveDirection::Input);
    DeviceCloser closer{device};
    ASSERT_NE(device, nullptr);
    for (int i = 0; i < 4; ++i)
        queue(device);
    ASSERT_EQ(device->start(), MMSYSERR_NOERROR);
    EXPECT_FALSE(log.waitFor(WIM_DATA, 1, 100ms));

    ASSERT_EQ(device->reset(), MMSYSERR_NOERROR);
    EXPECT_TRUE(log.waitFor(WIM_DATA, 4));
    queue(device);
    queue(device);
    ASSERT_EQ(closeDevice(device), MMSYSERR_NOERROR);

    const std::vector<CallbackLog::Entry> entries = log.entries();
    ASSERT_EQ(entries.size(), 8u);
    for (size_t i = 1; i <= 6; ++i) {
        EXPECT_EQ(entries[i].message, WIM_DATA);
        EXPECT_EQ(entries[i].header, &buffers[i - 1]->header);
        EXPECT_EQ(entries[i].bytesRecorded, 0u);
    }
    EXPECT_EQ(entries.back().message, WIM_CLOSE);
}

TEST_F(WaveDeviceTest, RefusesMisuse)
{
    SampleSource source(kMicrophoneFormat, {});
    VirtualWaveDriver driver(&source);
    WaveDevice* device = nullptr;
    const auto instance = reinterpret_cast<uintptr_t>(&log);

    WAVEFORMATEX stereo = kMicrophoneFormat;
    stereo.nChannels = 2;
    stereo.nBlockAlign = 4;
    stereo.nAvgBytesPerSec = 88200;
    EXPECT_EQ(driver.open(WaveDirection::Input, &device, WAVE_MAPPER, stereo, CallbackLog::callback, instance,
                          CALLBACK_FUNCTION),
              WAVERR_BADFORMAT);
    WAVEFORMATEX inconsistent = kMicrophoneFormat;
    inconsistent.nBlockAlign = 3;
    EXPECT_EQ(driver.open(WaveDirection::Output, &device, WAVE_MAPPER, inconsistent, CallbackLog::callback,
                          instance, CALLBACK_FUNCTION),
              WAVERR_BADFORMAT);
    EXPECT_EQ(driver.open(WaveDirection::Input, &device, WAVE_MAPPER, kMicrophoneFormat, nullptr, 0,
                          CALLBACK_FUNCTION),
              MMSYSERR_INVALFLAG);
    EXPECT_EQ(driver.open(WaveDirection::Input, &device, 1, kMicrophoneFormat, CallbackLog::callback, instance,
                          CALLBACK_FUNCTION),
              MMSYSERR_BADDEVICEID);
    EXPECT_EQ(device, nullptr);

    WaveDevice* input = open(driver, WaveDirection::Input);

    DeviceCloser closeInput{input};
    ASSERT_NE(input, nullptr);
    EXPECT_EQ(driver.open(WaveDirection::Input, &device, 0, kMicrophoneFormat, CallbackLog::callback, instance,
                          CALLBACK_FUNCTION),
              MMSYSERR_ALLOCATED);

    Buffer odd(kChunk - 1);
    EXPECT_EQ(input->prepareHeader(&odd.header, sizeof(WAVEHDR)), MMSYSERR_INVALPARAM);
    Buffer unprepared(kChunk);
    EXPECT_EQ(input->addBuffer(&unprepared.header, sizeof(WAVEHDR)), WAVERR_UNPREPARED);
    ASSERT_EQ(input->prepareHeader(&unprepared.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(input->write(&unprepared.header, sizeof(WAVEHDR)), MMSYSERR_NOTSUPPORTED);
    ASSERT_EQ(input->addBuffer(&unprepared.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(input->addBuffer(&unprepared.header, sizeof(WAVEHDR)), WAVERR_STILLPLAYING);
    EXPECT_EQ(closeDevice(input), MMSYSERR_NOERROR);

    WaveDevice* output = open(driver, WaveDirection::Output);

    DeviceCloser closeOutput{output};
    ASSERT_NE(output, nullptr);
    EXPECT_EQ(output->start(), MMSYSERR_NOTSUPPORTED);
    EXPECT_EQ(closeDevice(output), MMSYSERR_NOERROR);
}

// Closes the device from within its own callback, which must be refused, not deadlock.
void closeFromCallback(WaveDevice* device, uint32_t message, uintptr_t instance, uintptr_t, uintptr_t)
{
    if (message == WIM_DATA)
        reinterpret_cast<std::atomic<MMRESULT>*>(instance)->store(device->close());
}

TEST_F(WaveDeviceTest, CloseFromTheCallbackIsRefused)
{
    SampleSource source(kMicrophoneFormat, countingSamples(kChunk));
    VirtualWaveDriver driver(&source);
    std::atomic<MMRESULT> result{MMSYSERR_ERROR + 100};
    WaveDevice* device = nullptr;
    ASSERT_EQ(driver.open(WaveDirection::Input, &device, WAVE_MAPPER, kMicrophoneFormat, closeFromCallback,
                          reinterpret_cast<uintptr_t>(&result), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    Buffer buffer(kChunk);
    ASSERT_EQ(device->prepareHeader(&buffer.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(device->addBuffer(&buffer.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(device->start(), MMSYSERR_NOERROR);
    for (int i = 0; i < 250 && result == MMSYSERR_ERROR + 100; ++i)
        std::this_thread::sleep_for(20ms);
    EXPECT_EQ(result, MMSYSERR_HANDLEBUSY);
    EXPECT_EQ(closeDevice(device), MMSYSERR_NOERROR);
}

TEST_F(WaveDeviceTest, RemovedDeviceReturnsItsBuffersAndFailsFromThenOn)
{
    VirtualWaveDriver driver(nullptr);
    WaveDevice* input = open(driver, WaveDirection::Input);
    DeviceCloser closeInput{input};
    WaveDevice* output = open(driver, WaveDirection::Output);
    DeviceCloser closeOutput{output};
    ASSERT_NE(input, nullptr);
    ASSERT_NE(output, nullptr);
    for (int i = 0; i < 3; ++i)
        queue(input);
    ASSERT_EQ(input->start(), MMSYSERR_NOERROR);

    driver.removeDevices();
    EXPECT_TRUE(log.waitFor(WIM_DATA, 3));
    Buffer late(kChunk);
    EXPECT_EQ(input->prepareHeader(&late.header, sizeof(WAVEHDR)), WAVERR_DEVICELOST);
    EXPECT_EQ(input->start(), WAVERR_DEVICELOST);
    EXPECT_EQ(input->stop(), WAVERR_DEVICELOST);
    EXPECT_NE(driver.errorText(WAVERR_DEVICELOST).find("removed"), std::string::npos);
    EXPECT_EQ(driver.inputCount(), 0u);
    EXPECT_EQ(input->reset(), MMSYSERR_NOERROR);
    EXPECT_EQ(closeDevice(input), MMSYSERR_NOERROR);
    EXPECT_EQ(closeDevice(output), MMSYSERR_NOERROR);
    EXPECT_EQ(log.count(WIM_DATA), 3u);
}

TEST_F(WaveDeviceTest, PlaybackIsPacedByTheClockAndLandsInMemoryInOrder)
{
    ManualWaveClock clock;
    VirtualWaveDriver driver(nullptr, &clock);
    WaveDevice* device = open(driver, WaveDirection::Output);
    DeviceCloser closer{device};
    ASSERT_NE(device, nullptr);
    const std::vector<uint8_t> samples = countingSamples(3 * kChunk / 2);
    for (int i = 0; i < 3; ++i)
        queue(device, kChunk, std::vector<uint8_t>(samples.begin() + i * kChunk, samples.begin() + (i + 1) * kChunk));

    clock.advance(28ms);
    EXPECT_FALSE(log.waitFor(WOM_DONE, 1, 100ms));
    clock.advance(1ms);
    EXPECT_TRUE(log.waitFor(WOM_DONE, 1));
    EXPECT_FALSE(log.waitFor(WOM_DONE, 2, 100ms));
    clock.advance(60ms);
    EXPECT_TRUE(log.waitFor(WOM_DONE, 3));
    EXPECT_EQ(driver.played(), samples);
    EXPECT_EQ(closeDevice(device), MMSYSERR_NOERROR);
}

TEST_F(WaveDeviceTest, OutputResetDropsWhatWasNotPlayed)
{
    ManualWaveClock clock;
    VirtualWaveDriver driver(nullptr, &clock);
    WaveDevice* device = open(driver, WaveDirection::Output);
    DeviceCloser closer{device};
    ASSERT_NE(device, nullptr);
    const std::vector<uint8_t> samples = countingSamples(kChunk);
    queue(device, kChunk, std::vector<uint8_t>(samples.begin(), samples.begin() + kChunk));
    queue(device, kChunk, std::vector<uint8_t>(samples.begin() + kChunk, samples.end()));

    clock.advance(29ms);  // 639 frames
    ASSERT_TRUE(log.waitFor(WOM_DONE, 1));
    ASSERT_EQ(device->reset(), MMSYSERR_NOERROR);
    ASSERT_TRUE(log.waitFor(WOM_DONE, 2));
    const std::vector<uint8_t> played = driver.played();
    EXPECT_EQ(played, std::vector<uint8_t>(samples.begin(), samples.begin() + 1278));

    // Playback goes on with the next buffer, from when it arrives.
    queue(device, kChunk, std::vector<uint8_t>(samples.begin(), samples.begin() + kChunk));
    clock.advance(29ms);
    EXPECT_TRUE(log.waitFor(WOM_DONE, 3));
    EXPECT_EQ(driver.played().size(), 1278u + kChunk);
    EXPECT_EQ(closeDevice(device), MMSYSERR_NOERROR);
}

}  // namespace
