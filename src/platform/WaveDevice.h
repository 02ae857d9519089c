#pragma once
// Wave input and output devices shaped like the system's wave services: a device is opened
// with a format and a device id (WAVE_MAPPER = the default), buffers are described by
// headers that the caller prepares, queues and unprepares, and every queued buffer comes
// back exactly once through the driver callback, marked done, in the order it was queued.
// The callback runs on the device's own driver thread, never on the caller's thread.
//
// A WaveDriver (a backend: the sound server, or the clocked virtual device of the tests)
// lists its devices and opens them; the WaveDevice it returns is the handle.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/WaveFormat.h"

using MMRESULT = uint32_t;

constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT MMSYSERR_HANDLEBUSY = 12;
constexpr MMRESULT WAVERR_BADFORMAT = 32;
constexpr MMRESULT WAVERR_STILLPLAYING = 33;
constexpr MMRESULT WAVERR_UNPREPARED = 34;
// The device was removed or its connection was lost; a backend may report a more
// specific code of its own.
constexpr MMRESULT WAVERR_DEVICELOST = 40;

// The default device of the system.
constexpr uint32_t WAVE_MAPPER = 0xFFFFFFFFu;

// Open flags: the callback is a function; synchronous drivers are accepted.
constexpr uint32_t CALLBACK_FUNCTION = 0x30000;
constexpr uint32_t WAVE_ALLOWSYNC = 0x0002;

// Driver callback messages.
constexpr uint32_t WOM_OPEN = 0x3BB;
constexpr uint32_t WOM_CLOSE = 0x3BC;
constexpr uint32_t WOM_DONE = 0x3BD;
constexpr uint32_t WIM_OPEN = 0x3BE;
constexpr uint32_t WIM_CLOSE = 0x3BF;
constexpr uint32_t WIM_DATA = 0x3C0;

// Header flags.
constexpr uint32_t WHDR_DONE = 0x01;
constexpr uint32_t WHDR_PREPARED = 0x02;
constexpr uint32_t WHDR_INQUEUE = 0x10;

// One audio buffer handed to a device.
struct WAVEHDR {
    uint8_t* lpData;
    uint32_t dwBufferLength;
    uint32_t dwBytesRecorded;  // input: bytes filled so far
    uintptr_t dwUser;
    uint32_t dwFlags;
    uint32_t dwLoops;
    WAVEHDR* lpNext;
    uintptr_t reserved;
};

class WaveDevice;

// (device, message, instance data given at open, header for data/done messages, 0)
using WaveCallback = void (*)(WaveDevice* device, uint32_t message, uintptr_t instance, uintptr_t param1,
                              uintptr_t param2);

enum class WaveDirection { Input, Output };

// How much recorded sound an input holds for buffers that its user queues late.
constexpr uint32_t kInputBacklogSeconds = 2;

// An open device. Created by a WaveDriver; gone once close() has succeeded.
class WaveDevice {
public:
    WaveDevice(const WaveDevice&) = delete;
    WaveDevice& operator=(const WaveDevice&) = delete;

    MMRESULT prepareHeader(WAVEHDR* header, uint32_t headerSize);
    // Fails with WAVERR_STILLPLAYING while the buffer is queued.
    MMRESULT unprepareHeader(WAVEHDR* header, uint32_t headerSize);
    // Input: queues an empty buffer to be filled.
    MMRESULT addBuffer(WAVEHDR* header, uint32_t headerSize);
    // Output: queues a buffer to be played.
    MMRESULT write(WAVEHDR* header, uint32_t headerSize);
    // Input: begins filling the queued buffers.
    MMRESULT start();
    // Input: stops filling; a partly filled buffer comes back, the empty ones stay queued.
    MMRESULT stop();
    // Stops and returns every queued buffer.
    MMRESULT reset();
    // Returns every queued buffer, stops the device, delivers the close notification and
    // frees the handle. Fails (and changes nothing) when called from the driver callback.
    MMRESULT close();

    WaveDirection direction() const { return direction_; }
    const WAVEFORMATEX& format() const { return format_; }

protected:
    WaveDevice(WaveDirection direction, const WAVEFORMATEX& format, WaveCallback callback, uintptr_t instance);
    virtual ~WaveDevice();

    // Starts the driver thread and delivers the open notification. Called by the backend
    // once the device works.
    void startDriverThread();

    // What the backend does for the operations above. Called without the queue lock held;
    // the backend may call the buffer operations below from within them.
    virtual MMRESULT startStream() = 0;
    // After this returns the backend puts no more data into input buffers until the next
    // startStream, and drops what it has buffered for this device.
    virtual void haltStream() = 0;
    virtual void bufferQueued() = 0;
    // Ends the backend's own threads and server connection; no buffer operation follows.
    virtual void shutDownStream() = 0;

    // Buffer operations for the backend, callable from any thread.

    // Input: copies `size` bytes (silence when `data` is null) into the queued buffers in
    // order, returning each one that becomes full. What finds no buffer waits in a backlog
    // of up to kInputBacklogSeconds for the next buffers; beyond that it is lost, as in an
    // overrun. Returns the bytes kept.
    size_t fillInput(const uint8_t* data, size_t size);
    // Input: room left in the buffer being filled; 0 when none is queued.
    size_t inputRoom();
    // Output: copies up to `size` bytes of the queued buffers in order into `destination`.
    // A buffer whose bytes have all been taken waits until completePlayed passes its end.
    size_t takeOutput(uint8_t* destination, size_t size);
    // Output: bytes of queued buffers not yet taken.
    size_t outputPending();
    // Output: total bytes taken since the device was opened.
    uint64_t outputTaken();
    // Output: returns every buffer whose last byte lies before `playedBytes` (counted like
    // outputTaken).
    void completePlayed(uint64_t playedBytes);
    // Output: buffers taken and not yet returned.
    bool outputInFlight();
    // Output: where the oldest buffer taken and not yet returned ends (counted like
    // outputTaken); 0 when there is none.
    uint64_t oldestInFlightEnd();
    // The device stopped working: every queued buffer comes back and every later
    // operation fails with `result`.
    void fail(MMRESULT result);

private:
    MMRESULT queueBuffer(WAVEHDR* header, uint32_t headerSize);
    MMRESULT failure();
    // These expect the queue lock to be held.
    size_t fillQueuedLocked(const uint8_t* data, size_t size);
    uint64_t inFlightStartLocked() const;
    void completeLocked(WAVEHDR* header);
    void completeAllLocked();
    void deliverLocked(uint32_t message, WAVEHDR* header);
    void runDriverThread();

    struct Notification {
        uint32_t message;
        WAVEHDR* header;
    };

    const WaveDirection direction_;
    const WAVEFORMATEX format_;
    const WaveCallback callback_;
    const uintptr_t instance_;

    std::mutex mutex_;
    std::condition_variable notified_;
    std::deque<WAVEHDR*> queued_;     // input: to fill; output: not yet taken whole
    std::deque<WAVEHDR*> inFlight_;   // output: taken whole, waiting to be played
    std::vector<uint8_t> backlog_;    // input: recorded while no buffer was queued
    size_t headOffset_ = 0;           // output: bytes of queued_.front() already taken
    uint64_t taken_ = 0;              // output: bytes taken since open
    MMRESULT failure_ = MMSYSERR_NOERROR;
    bool closing_ = false;
    std::deque<Notification> notifications_;
    std::thread driverThread_;
};

using HWAVEIN = WaveDevice*;
using HWAVEOUT = WaveDevice*;

// A family of wave devices: its device lists and how to open them.
class WaveDriver {
public:
    virtual ~WaveDriver() = default;

    virtual uint32_t inputCount() = 0;
    // The name of input `id` (0-based) as of the last inputCount(); empty when out of range.
    virtual std::string inputName(uint32_t id) = 0;
    virtual uint32_t outputCount() = 0;
    virtual std::string outputName(uint32_t id) = 0;
    // A name of the device that stays the same when the list's order changes (the system's
    // own name where it has one), as of the last count; empty when out of range.
    virtual std::string inputKey(uint32_t id) { return inputName(id); }
    virtual std::string outputKey(uint32_t id) { return outputName(id); }
    // Calls `changed` (on a thread of the driver) whenever a device comes or goes; an empty
    // function stops the calls. Drivers whose devices never change do nothing.
    virtual void watchDevices(std::function<void()> changed) { (void)changed; }

    // Opens input or output `deviceId` (WAVE_MAPPER for the default) with `format`.
    // `flags` must name a callback function. On success `*device` is the handle and the
    // callback receives the open notification on the driver thread; on failure `*device`
    // is null.
    virtual MMRESULT open(WaveDirection direction, WaveDevice** device, uint32_t deviceId,
                          const WAVEFORMATEX& format, WaveCallback callback, uintptr_t instance,
                          uint32_t flags) = 0;

    // Text for a result code of this driver's devices.
    virtual std::string errorText(MMRESULT result);
};

// The checks every backend makes on an open request: a callback function and a PCM
// format with consistent fields. MMSYSERR_NOERROR when acceptable.
MMRESULT checkOpenRequest(const WAVEFORMATEX& format, WaveCallback callback, uint32_t flags);

// Text for the result codes above (not the backend-specific ones).
std::string waveErrorText(MMRESULT result);

// Copies the text for `result` into `text` (at most size - 1 characters and a terminating
// zero), as the recorder's and player's traces do.
MMRESULT waveGetErrorText(WaveDriver& driver, MMRESULT result, char* text, uint32_t size);

// The system's wave devices: the sound server.
WaveDriver& systemWaveDriver();
