#include "platform/VirtualWaveDriver.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <optional>
#include <thread>

namespace {

using std::chrono::nanoseconds;

constexpr int64_t kNanosPerSecond = 1000000000;
constexpr size_t kPieceBytes = 4096;

// Whole sample frames played at `rate` in `elapsed`.
uint64_t framesIn(nanoseconds elapsed, uint32_t rate)
{
    const int64_t ns = std::max<int64_t>(elapsed.count(), 0);
    return static_cast<uint64_t>(ns / kNanosPerSecond) * rate +
           static_cast<uint64_t>(ns % kNanosPerSecond) * rate / kNanosPerSecond;
}

// The time at which `frames` frames at `rate` are complete.
nanoseconds timeOf(uint64_t frames, uint32_t rate)
{
    const uint64_t seconds = frames / rate;
    const uint64_t rest = ((frames % rate) * kNanosPerSecond + rate - 1) / rate;
    return nanoseconds(static_cast<int64_t>(seconds * kNanosPerSecond + rest));
}

bool sameFormat(const WAVEFORMATEX& a, const WAVEFORMATEX& b)
{
    return a.nChannels == b.nChannels && a.nSamplesPerSec == b.nSamplesPerSec && a.wBitsPerSample == b.wBitsPerSample;
}

}  // namespace

SampleSource::SampleSource(const WAVEFORMATEX& format, std::vector<uint8_t> samples)
    : format_(format), samples_(std::move(samples)), exhausted_(samples_.empty())
{
}

size_t SampleSource::read(uint8_t* destination, size_t size)
{
    const size_t count = std::min(size, samples_.size() - position_);
    std::memcpy(destination, samples_.data() + position_, count);
    position_ += count;
    if (position_ == samples_.size())
        exhausted_ = true;
    return count;
}

// One open virtual device with its pump thread, which moves samples between the source
// (or memory) and the queued buffers.
class VirtualWaveDevice final : public WaveDevice {
public:
    VirtualWaveDevice(VirtualWaveDriver& driver, WaveDirection direction, const WAVEFORMATEX& format,
                      WaveCallback callback, uintptr_t instance)
        : WaveDevice(direction, format, callback, instance), driver_(driver), clock_(driver.clock_)
    {
    }

    void begin()
    {
        startDriverThread();
        pump_ = std::thread(&VirtualWaveDevice::run, this);
    }

    void unplug() { fail(WAVERR_DEVICELOST); }

private:
    MMRESULT startStream() override
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            running_ = true;
            runStart_ = clock_ != nullptr ? clock_->now() : nanoseconds(0);
            runFrames_ = 0;
        }
        wake();
        return MMSYSERR_NOERROR;
    }

    void haltStream() override
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            // What the clock has brought since the pump last looked belongs to the take.
            if (running_ && clock_ != nullptr)
                recordStep();
            running_ = false;
            halted_ = true;
            playing_ = false;
            staging_.clear();
            playedTotal_ = outputTaken();
        }
        wake();
    }

    void bufferQueued() override
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            halted_ = false;
            // What the clock has brought while no buffer was queued is recorded now, so
            // the buffer is filled as soon as it is queued.
            if (running_ && clock_ != nullptr)
                recordStep();
            // Output starts playing when the buffer is written, not when the pump looks.
            if (direction() == WaveDirection::Output && clock_ != nullptr && !playing_) {
                playing_ = true;
                runStart_ = clock_->now();
                runFrames_ = 0;
            }
        }
        wake();
    }

    void shutDownStream() override
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            quit_ = true;
        }
        wake();
        pump_.join();
        driver_.forget(this);
    }

    void wake()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++changes_;
        }
        changed_.notify_all();
        if (clock_ != nullptr)
            clock_->wake();
    }

    void run()
    {
        for (;;) {
            const uint64_t ticket = clock_ != nullptr ? clock_->ticket() : 0;
            std::unique_lock<std::mutex> lock(mutex_);
            if (quit_)
                return;
            const uint64_t seen = changes_;
            const std::optional<nanoseconds> deadline =
                direction() == WaveDirection::Input ? recordStep() : playStep();
            if (deadline && clock_ != nullptr) {
                lock.unlock();
                clock_->waitUntil(*deadline, ticket);
            } else if (!deadline) {
                changed_.wait(lock, [&] { return quit_ || changes_ != seen; });
            }
        }
    }

    // Input: records what is due; returns when to look again (now, when the clock is
    // not used), or nothing to wait for a change.
    std::optional<nanoseconds> recordStep()
    {
        SampleSource* source = driver_.source_;
        if (!running_ || source == nullptr || source->exhausted())
            return std::nullopt;
        const uint32_t frame = format().nBlockAlign;
        uint8_t piece[kPieceBytes];
        if (clock_ == nullptr) {
            const size_t room = std::min(inputRoom(), sizeof piece - sizeof piece % frame);
            if (room == 0)
                return std::nullopt;
            fillInput(piece, source->read(piece, room));
            return nanoseconds(0);
        }
        // Samples that fall due while no buffer is queued are lost, as with a microphone.
        const uint32_t rate = format().nSamplesPerSec;
        uint64_t due = (framesIn(clock_->now() - runStart_, rate) - runFrames_) * frame;
        runFrames_ += due / frame;
        while (due > 0) {
            const size_t got = source->read(piece, std::min<uint64_t>(due, sizeof piece - sizeof piece % frame));
            if (got == 0)
                return std::nullopt;
            fillInput(piece, got);
            due -= got;
        }
        const size_t room = inputRoom();
        if (room == 0)
            return std::nullopt;
        return runStart_ + timeOf(runFrames_ + room / frame, rate);
    }

    // Output: plays what is due; returns when to look again, or nothing to wait for a change.
    std::optional<nanoseconds> playStep()
    {
        if (!halted_) {
            uint8_t piece[kPieceBytes];
            while (const size_t got = takeOutput(piece, sizeof piece))
                staging_.insert(staging_.end(), piece, piece + got);
        }
        if (clock_ == nullptr) {
            playStaged(staging_.size());
            return staging_.empty() && outputPending() == 0 ? std::nullopt : std::optional(nanoseconds(0));
        }
        if (staging_.empty() || !playing_)
            return std::nullopt;
        const uint32_t frame = format().nBlockAlign;
        const uint32_t rate = format().nSamplesPerSec;
        const uint64_t dueFrames = framesIn(clock_->now() - runStart_, rate) - runFrames_;
        const size_t count = std::min<uint64_t>(dueFrames * frame, staging_.size());
        runFrames_ += count / frame;
        playStaged(count);
        if (staging_.empty()) {
            // Ran dry: the next buffer starts a new run when it comes.
            playing_ = false;
            return std::nullopt;
        }
        const uint64_t nextEnd = oldestInFlightEnd();
        const uint64_t framesToNextEnd = nextEnd > playedTotal_ ? (nextEnd - playedTotal_) / frame : 0;
        return runStart_ + timeOf(runFrames_ + std::max<uint64_t>(framesToNextEnd, 1), rate);
    }

    void playStaged(size_t count)
    {
        driver_.appendPlayed(staging_.data(), count);
        staging_.erase(staging_.begin(), staging_.begin() + static_cast<std::ptrdiff_t>(count));
        playedTotal_ += count;
        completePlayed(playedTotal_);
    }

    VirtualWaveDriver& driver_;
    WaveClock* const clock_;
    std::thread pump_;
    std::mutex mutex_;
    std::condition_variable changed_;
    uint64_t changes_ = 0;
    bool quit_ = false;
    bool running_ = false;        // input: started
    bool halted_ = false;         // output: reset, take nothing until the next buffer
    bool playing_ = false;        // output: a run of playback is going on
    nanoseconds runStart_{0};     // clock time at which the current run began
    uint64_t runFrames_ = 0;      // frames recorded or played in the current run
    std::vector<uint8_t> staging_;  // output: taken, not yet played
    uint64_t playedTotal_ = 0;    // output: bytes played (or dropped by a reset)
};

VirtualWaveDriver::VirtualWaveDriver(SampleSource* source, WaveClock* clock) : source_(source), clock_(clock) {}

VirtualWaveDriver::~VirtualWaveDriver() = default;

uint32_t VirtualWaveDriver::inputCount()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return removed_ ? 0 : 1;
}

std::string VirtualWaveDriver::inputName(uint32_t id)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return !removed_ && id == 0 ? "Virtual input" : "";
}

uint32_t VirtualWaveDriver::outputCount()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return removed_ ? 0 : 1;
}

std::string VirtualWaveDriver::outputName(uint32_t id)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return !removed_ && id == 0 ? "Virtual output" : "";
}

MMRESULT VirtualWaveDriver::open(WaveDirection direction, WaveDevice** device, uint32_t deviceId,
                                 const WAVEFORMATEX& format, WaveCallback callback, uintptr_t instance, uint32_t flags)
{
    if (device == nullptr)
        return MMSYSERR_INVALPARAM;
    *device = nullptr;
    if (const MMRESULT refused = checkOpenRequest(format, callback, flags))
        return refused;
    if (direction == WaveDirection::Input && source_ != nullptr && !sameFormat(format, source_->format()))
        return WAVERR_BADFORMAT;
    auto* opened = new VirtualWaveDevice(*this, direction, format, callback, instance);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        MMRESULT refused = MMSYSERR_NOERROR;
        if (removed_)
            refused = MMSYSERR_NODRIVER;
        else if (deviceId != WAVE_MAPPER && deviceId != 0)
            refused = MMSYSERR_BADDEVICEID;
        else if (direction == WaveDirection::Input && inputOpen())
            refused = MMSYSERR_ALLOCATED;
        if (refused != MMSYSERR_NOERROR) {
            delete opened;
            return refused;
        }
        open_.push_back(opened);
    }
    opened->begin();
    *device = opened;
    return MMSYSERR_NOERROR;
}

bool VirtualWaveDriver::inputOpen() const
{
    return std::any_of(open_.begin(), open_.end(),
                       [](const VirtualWaveDevice* device) { return device->direction() == WaveDirection::Input; });
}

std::vector<uint8_t> VirtualWaveDriver::played()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return played_;
}

void VirtualWaveDriver::removeDevices()
{
    std::lock_guard<std::mutex> lock(mutex_);
    removed_ = true;
    for (VirtualWaveDevice* device : open_)
        device->unplug();
}

void VirtualWaveDriver::appendPlayed(const uint8_t* bytes, size_t size)
{
    std::lock_guard<std::mutex> lock(mutex_);
    played_.insert(played_.end(), bytes, bytes + size);
}

void VirtualWaveDriver::forget(VirtualWaveDevice* device)
{
    std::lock_guard<std::mutex> lock(mutex_);
    open_.erase(std::remove(open_.begin(), open_.end(), device), open_.end());
}
