#include "audio/M_stack.h"

#include <chrono>
#include <thread>

#include "platform/WindowMessages.h"

namespace {

// Time the device is given to return its buffers before it is closed.
constexpr std::chrono::milliseconds kReturnWait{500};
constexpr uint32_t kOpenFlags = CALLBACK_FUNCTION | WAVE_ALLOWSYNC;

void completePcmFormat(WAVEFORMATEX& format)
{
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.cbSize = 0;
    format.nBlockAlign = static_cast<uint16_t>(format.nChannels * format.wBitsPerSample / 8);
    format.nAvgBytesPerSec = format.nBlockAlign * format.nSamplesPerSec;
}

WAVEFORMATEX formatOf(uint32_t sampleRate, uint16_t bitsPerSample, uint16_t channels)
{
    WAVEFORMATEX format{};
    format.nSamplesPerSec = sampleRate;
    format.wBitsPerSample = bitsPerSample;
    format.nChannels = channels;
    return format;
}

// The header of a buffer the device never accepted: not prepared, so not counted.
void discardUnprepared(WAVEHDR* header, bool freeData)
{
    if (freeData)
        deleteAudioBuffer(header->lpData);
    delete header;
}

// Posts the returned buffer; false when the target is missing or gone.
template <typename Owner>
bool postBufferDone(MessageTarget* target, uint32_t message, WAVEHDR* header, Owner* owner)
{
    return target != nullptr && target->post(message, reinterpret_cast<WPARAM>(header), reinterpret_cast<LPARAM>(owner));
}

// A returned buffer that no message carries away: nobody else will release it. Not
// traced, as this runs on the driver thread.
void discardReturned(WaveDevice* device, WAVEHDR* header, std::atomic<int32_t>& preparedCount)
{
    if (device != nullptr)
        device->unprepareHeader(header, sizeof(WAVEHDR));
    deleteAudioBuffer(header->lpData);
    delete header;
    --preparedCount;
}

}  // namespace

uint8_t* newAudioBuffer(uint32_t length)
{
    return new uint8_t[length]();
}

void deleteAudioBuffer(uint8_t* buffer)
{
    delete[] buffer;
}

void WaveTrace::record(WaveDriver& driver, MMRESULT stepResult, const char* stepName)
{
    step = stepName;
    result = stepResult;
    waveGetErrorText(driver, stepResult, text, sizeof text);
}

// ---- WaveRecorder ----

WaveRecorder::WaveRecorder(WaveDriver& driver) : driver_(driver) {}

WaveRecorder::~WaveRecorder()
{
    // The owner should have closed the device. If not, the buffers that closing returns
    // must reach neither the callback nor the window: both know this recorder.
    if (device.load() != nullptr) {
        dataCallback = nullptr;
        notifyThread = nullptr;
        notifyWindow = nullptr;
        close();
    }
}

WAVEHDR* WaveRecorder::newHeader()
{
    return new WAVEHDR{};
}

bool WaveRecorder::releaseHeader(WAVEHDR* header, bool freeData)
{
    HWAVEIN handle = device.load();
    const MMRESULT result =
        handle != nullptr ? handle->unprepareHeader(header, sizeof(WAVEHDR)) : MMSYSERR_INVALHANDLE;
    if (result != MMSYSERR_NOERROR)
        trace(result, "Unprepare Header");
    if (freeData && header->lpData != nullptr)
        deleteAudioBuffer(header->lpData);
    delete header;
    --preparedCount;
    return true;
}

void WaveRecorder::onBufferDone(WAVEHDR* header)
{
    --queuedCount;
    const bool posted = postBufferDone(notifyThread.load(), UM_IN_BUFFER_DONE, header, this);
    if (const WaveDataCallback callback = dataCallback.load())
        callback(this, header->lpData, header->dwBytesRecorded, userValue.load(), 0);
    if (!postBufferDone(notifyWindow.load(), UM_IN_BUFFER_DONE, header, this) && !posted)
        discardReturned(device.load(), header, preparedCount);
}

void WaveRecorder::completeFormat(WAVEFORMATEX& waveFormat)
{
    completePcmFormat(waveFormat);
}

bool WaveRecorder::open(uint32_t sampleRate, uint16_t bitsPerSample, uint16_t channels, uint32_t deviceId)
{
    if (device.load() != nullptr)
        return false;
    return open(formatOf(sampleRate, bitsPerSample, channels), deviceId);
}

bool WaveRecorder::open(const WAVEFORMATEX& waveFormat, uint32_t deviceId)
{
    if (device.load() != nullptr)
        return false;
    queuedCount = 0;
    preparedCount = 0;
    format = waveFormat;
    completeFormat(format);
    HWAVEIN handle = nullptr;
    const MMRESULT result = driver_.open(WaveDirection::Input, &handle, deviceId, format, driverCallback,
                                         reinterpret_cast<uintptr_t>(this), kOpenFlags);
    if (result != MMSYSERR_NOERROR) {
        device = nullptr;
        trace(result, "open()");
        return false;
    }
    device = handle;
    return true;
}

bool WaveRecorder::start(MessageTarget* thread, MessageTarget* window)
{
    if (started)
        return false;
    notifyThread = thread;
    notifyWindow = window;
    HWAVEIN handle = device.load();
    const MMRESULT result = handle != nullptr ? handle->start() : MMSYSERR_INVALHANDLE;
    started = result == MMSYSERR_NOERROR;
    trace(result, "start()");
    return started;
}

bool WaveRecorder::stop()
{
    if (!started)
        return true;
    // Buffers that come back from now on are only released, not replaced.
    started = false;
    HWAVEIN handle = device.load();
    MMRESULT result = handle != nullptr ? handle->stop() : MMSYSERR_INVALHANDLE;
    trace(result, "stop()");
    if (result != MMSYSERR_NOERROR)
        return true;
    result = handle->reset();
    trace(result, "reset()");
    std::this_thread::sleep_for(kReturnWait);
    return true;
}

bool WaveRecorder::close()
{
    if (started)
        stop();
    HWAVEIN handle = device.load();
    // On success the close notification has cleared the handle.
    const MMRESULT result = handle != nullptr ? handle->close() : MMSYSERR_INVALHANDLE;
    trace(result, "close()");
    if (result != MMSYSERR_NOERROR) {
        device = nullptr;
        return false;
    }
    return true;
}

bool WaveRecorder::queueBuffer(uint8_t* data, uint32_t length, uint32_t value)
{
    if (!started)
        return true;
    WAVEHDR* header = newHeader();
    header->lpData = data;
    header->dwBufferLength = length;
    header->dwUser = value;
    HWAVEIN handle = device.load();
    MMRESULT result = handle != nullptr ? handle->prepareHeader(header, sizeof(WAVEHDR)) : MMSYSERR_INVALHANDLE;
    if (result != MMSYSERR_NOERROR) {
        trace(result, "prepare header");
        discardUnprepared(header, true);
        return true;
    }
    ++preparedCount;
    ++queuedCount;
    result = handle->addBuffer(header, sizeof(WAVEHDR));
    if (result != MMSYSERR_NOERROR) {
        --queuedCount;
        releaseHeader(header, true);
        trace(result, "InAddBuffer");
    }
    return true;
}

void WaveRecorder::driverCallback(WaveDevice*, uint32_t message, uintptr_t instance, uintptr_t param1, uintptr_t)
{
    auto* recorder = reinterpret_cast<WaveRecorder*>(instance);
    if (message == WIM_CLOSE) {
        ++recorder->closingCount;
        {
            std::lock_guard<std::mutex> guard(recorder->lock);
            recorder->device = nullptr;
        }
        --recorder->closingCount;
    } else if (message == WIM_DATA) {
        try {
            recorder->onBufferDone(reinterpret_cast<WAVEHDR*>(param1));
        } catch (...) {
            // An error in a callback must not end the driver thread.
        }
    }
}

// ---- WavePlayer ----

WavePlayer::WavePlayer(WaveDriver& driver) : driver_(driver) {}

WavePlayer::~WavePlayer()
{
    // As for the recorder: what closing returns goes neither to the callback nor to the
    // window.
    if (device.load() != nullptr) {
        doneCallback = nullptr;
        notifyThread = nullptr;
        notifyWindow = nullptr;
        close();
    }
}

WAVEHDR* WavePlayer::newHeader()
{
    return new WAVEHDR{};
}

bool WavePlayer::releaseHeader(WAVEHDR* header, bool freeData)
{
    HWAVEOUT handle = device.load();
    const MMRESULT result =
        handle != nullptr ? handle->unprepareHeader(header, sizeof(WAVEHDR)) : MMSYSERR_INVALHANDLE;
    if (result != MMSYSERR_NOERROR)
        trace(result, "Unprepare Header");
    if (freeData && header->lpData != nullptr)
        deleteAudioBuffer(header->lpData);
    delete header;
    --preparedCount;
    return result == MMSYSERR_NOERROR;
}

void WavePlayer::onBufferDone(WAVEHDR* header)
{
    // Once the messages are out the window thread may free the header and its data.
    uint8_t* const data = header->lpData;
    const uint32_t length = header->dwBufferLength;
    --queuedCount;
    const bool posted = postBufferDone(notifyThread.load(), UM_OUT_BUFFER_DONE, header, this);
    if (!postBufferDone(notifyWindow.load(), UM_OUT_BUFFER_DONE, header, this) && !posted)
        discardReturned(device.load(), header, preparedCount);
    if (const WaveDoneCallback callback = doneCallback.load())
        callback(this, data, length, userValue.load(), 0);
}

void WavePlayer::completeFormat(WAVEFORMATEX& waveFormat)
{
    completePcmFormat(waveFormat);
}

bool WavePlayer::open(uint32_t sampleRate, uint16_t bitsPerSample, uint16_t channels, uint32_t deviceId)
{
    if (device.load() != nullptr)
        return false;
    return open(formatOf(sampleRate, bitsPerSample, channels), deviceId);
}

bool WavePlayer::open(const WAVEFORMATEX& waveFormat, uint32_t deviceId)
{
    if (device.load() != nullptr)
        return false;
    queuedCount = 0;
    preparedCount = 0;
    format = waveFormat;
    completeFormat(format);
    HWAVEOUT handle = nullptr;
    const MMRESULT result = driver_.open(WaveDirection::Output, &handle, deviceId, format, driverCallback,
                                         reinterpret_cast<uintptr_t>(this), kOpenFlags);
    if (result != MMSYSERR_NOERROR) {
        device = nullptr;
        trace(result, "open()");
        return false;
    }
    device = handle;
    return true;
}

bool WavePlayer::start(MessageTarget* thread, MessageTarget* window)
{
    if (active)
        return false;
    notifyThread = thread;
    notifyWindow = window;
    active = true;
    return true;
}

bool WavePlayer::stop()
{
    if (!active)
        return false;
    active = false;
    return true;
}

bool WavePlayer::close()
{
    if (active)
        stop();
    HWAVEOUT handle = device.load();
    if (handle == nullptr) {
        trace(MMSYSERR_INVALHANDLE, "close()");
        return false;
    }
    handle->reset();
    std::this_thread::sleep_for(kReturnWait);
    const MMRESULT result = handle->close();
    trace(result, "close()");
    if (result != MMSYSERR_NOERROR)
        return false;
    device = nullptr;
    return true;
}

bool WavePlayer::queueChunk(uint8_t* data, uint32_t length, uint32_t value)
{
    if (!active)
        return false;
    WAVEHDR* header = newHeader();
    header->lpData = data;
    header->dwBufferLength = length;
    header->dwUser = value;
    HWAVEOUT handle = device.load();
    MMRESULT result = handle != nullptr ? handle->prepareHeader(header, sizeof(WAVEHDR)) : MMSYSERR_INVALHANDLE;
    if (result != MMSYSERR_NOERROR) {
        trace(result, "prepare header");
        discardUnprepared(header, false);
        return false;
    }
    ++preparedCount;
    ++queuedCount;
    result = handle->write(header, sizeof(WAVEHDR));
    if (result != MMSYSERR_NOERROR) {
        --queuedCount;
        releaseHeader(header, false);
        trace(result, "OutWrite");
        return false;
    }
    return true;
}

void WavePlayer::driverCallback(WaveDevice*, uint32_t message, uintptr_t instance, uintptr_t param1, uintptr_t)
{
    auto* player = reinterpret_cast<WavePlayer*>(instance);
    if (message == WOM_CLOSE) {
        ++player->closingCount;
        {
            std::lock_guard<std::mutex> guard(player->lock);
            player->device = nullptr;
        }
        --player->closingCount;
    } else if (message == WOM_DONE) {
        try {
            player->onBufferDone(reinterpret_cast<WAVEHDR*>(param1));
        } catch (...) {
            // An error in a callback must not end the driver thread.
        }
    }
}
