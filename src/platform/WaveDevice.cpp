#include "platform/WaveDevice.h"

#include <algorithm>
#include <cstring>

WaveDevice::WaveDevice(WaveDirection direction, const WAVEFORMATEX& format, WaveCallback callback,
                       uintptr_t instance)
    : direction_(direction), format_(format), callback_(callback), instance_(instance)
{
}

WaveDevice::~WaveDevice() = default;

void WaveDevice::startDriverThread()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        deliverLocked(direction_ == WaveDirection::Input ? WIM_OPEN : WOM_OPEN, nullptr);
    }
    driverThread_ = std::thread(&WaveDevice::runDriverThread, this);
}

void WaveDevice::runDriverThread()
{
    const uint32_t closeMessage = direction_ == WaveDirection::Input ? WIM_CLOSE : WOM_CLOSE;
    for (;;) {
        Notification next;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            notified_.wait(lock, [this] { return !notifications_.empty(); });
            next = notifications_.front();
            notifications_.pop_front();
        }
        callback_(this, next.message, instance_, reinterpret_cast<uintptr_t>(next.header), 0);
        if (next.message == closeMessage)
            return;
    }
}

MMRESULT WaveDevice::prepareHeader(WAVEHDR* header, uint32_t headerSize)
{
    // A buffer holds whole sample frames.
    if (header == nullptr || headerSize < sizeof(WAVEHDR) || header->lpData == nullptr ||
        header->dwBufferLength == 0 || header->dwBufferLength % format_.nBlockAlign != 0)
        return MMSYSERR_INVALPARAM;
    std::lock_guard<std::mutex> lock(mutex_);
    if (failure_ != MMSYSERR_NOERROR)
        return failure_;
    header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT WaveDevice::unprepareHeader(WAVEHDR* header, uint32_t headerSize)
{
    if (header == nullptr || headerSize < sizeof(WAVEHDR))
        return MMSYSERR_INVALPARAM;
    std::lock_guard<std::mutex> lock(mutex_);
    if (header->dwFlags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT WaveDevice::addBuffer(WAVEHDR* header, uint32_t headerSize)
{
    if (direction_ != WaveDirection::Input)
        return MMSYSERR_NOTSUPPORTED;
    return queueBuffer(header, headerSize);
}

MMRESULT WaveDevice::write(WAVEHDR* header, uint32_t headerSize)
{
    if (direction_ != WaveDirection::Output)
        return MMSYSERR_NOTSUPPORTED;
    return queueBuffer(header, headerSize);
}

MMRESULT WaveDevice::queueBuffer(WAVEHDR* header, uint32_t headerSize)
{
    if (header == nullptr || headerSize < sizeof(WAVEHDR))
        return MMSYSERR_INVALPARAM;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (failure_ != MMSYSERR_NOERROR)
            return failure_;
        if (!(header->dwFlags & WHDR_PREPARED))
            return WAVERR_UNPREPARED;
        if (header->dwFlags & WHDR_INQUEUE)
            return WAVERR_STILLPLAYING;
        header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
        if (direction_ == WaveDirection::Input)
            header->dwBytesRecorded = 0;
        queued_.push_back(header);
        if (!backlog_.empty()) {
            const size_t used = fillQueuedLocked(backlog_.data(), backlog_.size());
            backlog_.erase(backlog_.begin(), backlog_.begin() + static_cast<std::ptrdiff_t>(used));
        }
    }
    bufferQueued();
    return MMSYSERR_NOERROR;
}

MMRESULT WaveDevice::failure()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return failure_;
}

MMRESULT WaveDevice::start()
{
    if (direction_ != WaveDirection::Input)
        return MMSYSERR_NOTSUPPORTED;
    if (const MMRESULT result = failure())
        return result;
    return startStream();
}

MMRESULT WaveDevice::stop()
{
    if (direction_ != WaveDirection::Input)
        return MMSYSERR_NOTSUPPORTED;
    if (const MMRESULT result = failure())
        return result;
    haltStream();
    std::lock_guard<std::mutex> lock(mutex_);
    backlog_.clear();
    if (!queued_.empty() && queued_.front()->dwBytesRecorded > 0) {
        completeLocked(queued_.front());
        queued_.pop_front();
    }
    return MMSYSERR_NOERROR;
}

MMRESULT WaveDevice::reset()
{
    haltStream();
    std::lock_guard<std::mutex> lock(mutex_);
    completeAllLocked();
    return MMSYSERR_NOERROR;
}

MMRESULT WaveDevice::close()
{
    if (std::this_thread::get_id() == driverThread_.get_id())
        return MMSYSERR_HANDLEBUSY;
    shutDownStream();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;
        completeAllLocked();
        deliverLocked(direction_ == WaveDirection::Input ? WIM_CLOSE : WOM_CLOSE, nullptr);
    }
    driverThread_.join();
    delete this;
    return MMSYSERR_NOERROR;
}

size_t WaveDevice::fillInput(const uint8_t* data, size_t size)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (closing_ || failure_ != MMSYSERR_NOERROR)
        return 0;
    const size_t taken = fillQueuedLocked(data, size);
    const size_t limit = static_cast<size_t>(format_.nAvgBytesPerSec) * kInputBacklogSeconds;
    const size_t kept = std::min(size - taken, limit - std::min(limit, backlog_.size()));
    if (data != nullptr)
        backlog_.insert(backlog_.end(), data + taken, data + taken + kept);
    else
        backlog_.insert(backlog_.end(), kept, format_.wBitsPerSample == 8 ? 0x80 : 0);
    return taken + kept;
}

size_t WaveDevice::fillQueuedLocked(const uint8_t* data, size_t size)
{
    size_t taken = 0;
    while (taken < size && !queued_.empty()) {
        WAVEHDR* head = queued_.front();
        const size_t count = std::min<size_t>(head->dwBufferLength - head->dwBytesRecorded, size - taken);
        uint8_t* target = head->lpData + head->dwBytesRecorded;
        if (data != nullptr)
            std::memcpy(target, data + taken, count);
        else
            std::memset(target, format_.wBitsPerSample == 8 ? 0x80 : 0, count);
        head->dwBytesRecorded += static_cast<uint32_t>(count);
        taken += count;
        if (head->dwBytesRecorded == head->dwBufferLength) {
            completeLocked(head);
            queued_.pop_front();
        }
    }
    return taken;
}

size_t WaveDevice::inputRoom()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (closing_ || failure_ != MMSYSERR_NOERROR || queued_.empty())
        return 0;
    return queued_.front()->dwBufferLength - queued_.front()->dwBytesRecorded;
}

size_t WaveDevice::takeOutput(uint8_t* destination, size_t size)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (closing_ || failure_ != MMSYSERR_NOERROR)
        return 0;
    size_t copied = 0;
    while (copied < size && !queued_.empty()) {
        WAVEHDR* head = queued_.front();
        const size_t count = std::min<size_t>(head->dwBufferLength - headOffset_, size - copied);
        std::memcpy(destination + copied, head->lpData + headOffset_, count);
        headOffset_ += count;
        copied += count;
        taken_ += count;
        if (headOffset_ == head->dwBufferLength) {
            inFlight_.push_back(head);
            queued_.pop_front();
            headOffset_ = 0;
        }
    }
    return copied;
}

size_t WaveDevice::outputPending()
{
    std::lock_guard<std::mutex> lock(mutex_);
    size_t pending = 0;
    for (const WAVEHDR* header : queued_)
        pending += header->dwBufferLength;
    return pending - headOffset_;
}

uint64_t WaveDevice::outputTaken()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return taken_;
}

uint64_t WaveDevice::inFlightStartLocked() const
{
    // The buffers in flight lie just before the part of the queue's head already taken.
    uint64_t start = taken_ - headOffset_;
    for (const WAVEHDR* header : inFlight_)
        start -= header->dwBufferLength;
    return start;
}

void WaveDevice::completePlayed(uint64_t playedBytes)
{
    std::lock_guard<std::mutex> lock(mutex_);
    uint64_t end = inFlightStartLocked();
    while (!inFlight_.empty()) {
        WAVEHDR* oldest = inFlight_.front();
        end += oldest->dwBufferLength;
        if (end > playedBytes)
            break;
        completeLocked(oldest);
        inFlight_.pop_front();
    }
}

uint64_t WaveDevice::oldestInFlightEnd()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (inFlight_.empty())
        return 0;
    return inFlightStartLocked() + inFlight_.front()->dwBufferLength;
}

bool WaveDevice::outputInFlight()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return !inFlight_.empty();
}

void WaveDevice::fail(MMRESULT result)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (failure_ != MMSYSERR_NOERROR || closing_)
        return;
    failure_ = result;
    completeAllLocked();
}

void WaveDevice::completeLocked(WAVEHDR* header)
{
    header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    deliverLocked(direction_ == WaveDirection::Input ? WIM_DATA : WOM_DONE, header);
}

void WaveDevice::completeAllLocked()
{
    backlog_.clear();
    for (WAVEHDR* header : inFlight_)
        completeLocked(header);
    inFlight_.clear();
    for (WAVEHDR* header : queued_)
        completeLocked(header);
    queued_.clear();
    // Buffers queued from now on follow the bytes already taken.
    headOffset_ = 0;
}

void WaveDevice::deliverLocked(uint32_t message, WAVEHDR* header)
{
    notifications_.push_back({message, header});
    notified_.notify_one();
}

std::string WaveDriver::errorText(MMRESULT result)
{
    return waveErrorText(result);
}

MMRESULT checkOpenRequest(const WAVEFORMATEX& format, WaveCallback callback, uint32_t flags)
{
    if (callback == nullptr || (flags & 0x70000) != CALLBACK_FUNCTION)
        return MMSYSERR_INVALFLAG;
    const bool bitsSupported = format.wBitsPerSample == 8 || format.wBitsPerSample == 16 ||
                               format.wBitsPerSample == 24 || format.wBitsPerSample == 32;
    if (format.wFormatTag != WAVE_FORMAT_PCM || !bitsSupported || format.nChannels < 1 ||
        format.nChannels > 8 || format.nSamplesPerSec < 1000 || format.nSamplesPerSec > 384000 ||
        format.nBlockAlign != format.nChannels * format.wBitsPerSample / 8 ||
        format.nAvgBytesPerSec != format.nBlockAlign * format.nSamplesPerSec)
        return WAVERR_BADFORMAT;
    return MMSYSERR_NOERROR;
}

std::string waveErrorText(MMRESULT result)
{
    switch (result) {
    case MMSYSERR_NOERROR: return "The operation succeeded.";
    case MMSYSERR_ERROR: return "An unspecified error occurred.";
    case MMSYSERR_BADDEVICEID: return "There is no wave device with this number.";
    case MMSYSERR_ALLOCATED: return "The device is already in use.";
    case MMSYSERR_INVALHANDLE: return "The device is not open.";
    case MMSYSERR_NODRIVER: return "No sound driver is available.";
    case MMSYSERR_NOMEM: return "Not enough memory for the device.";
    case MMSYSERR_NOTSUPPORTED: return "The device does not support this operation.";
    case MMSYSERR_INVALFLAG: return "The open flags are not supported.";
    case MMSYSERR_INVALPARAM: return "A buffer or parameter is not valid.";
    case MMSYSERR_HANDLEBUSY: return "The device cannot be closed from its own callback.";
    case WAVERR_BADFORMAT: return "The device does not support this wave format.";
    case WAVERR_STILLPLAYING: return "The buffer is still queued on the device.";
    case WAVERR_UNPREPARED: return "The buffer header has not been prepared.";
    case WAVERR_DEVICELOST: return "The device was removed or stopped working.";
    default: return "Unknown wave device error " + std::to_string(result) + ".";
    }
}

MMRESULT waveGetErrorText(WaveDriver& driver, MMRESULT result, char* text, uint32_t size)
{
    if (text == nullptr || size == 0)
        return MMSYSERR_INVALPARAM;
    const std::string message = driver.errorText(result);
    const size_t count = std::min<size_t>(message.size(), size - 1);
    std::memcpy(text, message.data(), count);
    text[count] = '\0';
    return MMSYSERR_NOERROR;
}
