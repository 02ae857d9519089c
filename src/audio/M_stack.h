#pragma once
// The wave-in recorder and the wave-out player: thin owners of one wave device each.
//
// The recorder does not own a pool of buffers. Its user hands it buffers one at a time;
// the device fills them, and for every filled buffer the recorder calls the data callback
// on the device's driver thread and posts UM_IN_BUFFER_DONE (header, recorder), on which
// the user's window thread calls releaseHeader and hands in a fresh buffer. The player is
// the twin for output: every played buffer comes back as UM_OUT_BUFFER_DONE (header,
// player) and through the done callback.
//
// Audio buffers change hands with the messages that carry them: they are allocated
// zero-filled with newAudioBuffer by their sender and freed with deleteAudioBuffer by
// their last receiver (releaseHeader with the free-data flag does so).
//
// Device errors are traced (their text is fetched into lastTrace) and shown nowhere.
//
// A returned buffer whose message reaches no target (none given, or the window is gone)
// is freed by the recorder or player itself, as nobody else could.

#include <atomic>
#include <cstdint>
#include <mutex>

#include "audio/WaveFormat.h"
#include "platform/MessageTarget.h"
#include "platform/WaveDevice.h"

class WaveRecorder;
class WavePlayer;

// (recorder, data, bytes recorded, user value, 0): a returned buffer, on the driver thread.
using WaveDataCallback = void (*)(WaveRecorder* recorder, uint8_t* data, uint32_t length, uint32_t userValue,
                                  uint32_t reserved);
// (player, data, length, user value, 0): a played buffer, on the driver thread. The
// buffer's memory may already be freed by the window thread; only its length is safe.
using WaveDoneCallback = void (*)(WavePlayer* player, uint8_t* data, uint32_t length, uint32_t userValue,
                                  uint32_t reserved);

uint8_t* newAudioBuffer(uint32_t length);
void deleteAudioBuffer(uint8_t* buffer);

// The last traced device step and the device's text for its result.
struct WaveTrace {
    const char* step = "";
    MMRESULT result = MMSYSERR_NOERROR;
    char text[254] = {};

    void record(WaveDriver& driver, MMRESULT stepResult, const char* stepName);
};

class WaveRecorder {
public:
    explicit WaveRecorder(WaveDriver& driver = systemWaveDriver());
    WaveRecorder(const WaveRecorder&) = delete;
    WaveRecorder& operator=(const WaveRecorder&) = delete;
    // Closes the device if its owner has not, without calling back or posting.
    virtual ~WaveRecorder();

    // A zero-filled header.
    virtual WAVEHDR* newHeader();
    // Unprepares the header (a failure is traced and ignored), frees its data when
    // `freeData` is set, frees the header. Always true.
    virtual bool releaseHeader(WAVEHDR* header, bool freeData);
    // A buffer came back (driver thread): counts it, posts UM_IN_BUFFER_DONE to the
    // thread target, calls the data callback, posts UM_IN_BUFFER_DONE to the window.
    virtual void onBufferDone(WAVEHDR* header);
    // Fills in tag, extra size, block align and bytes per second from the other fields.
    virtual void completeFormat(WAVEFORMATEX& waveFormat);

    // Both fail when a device is already open. deviceId WAVE_MAPPER = the default.
    bool open(uint32_t sampleRate, uint16_t bitsPerSample, uint16_t channels, uint32_t deviceId);
    bool open(const WAVEFORMATEX& waveFormat, uint32_t deviceId);
    // Fails when already started. Either target may be null.
    bool start(MessageTarget* thread, MessageTarget* window);
    // Marks the recorder stopped, stops the device, returns every queued buffer and waits
    // 500 ms for them to come back. Always true.
    bool stop();
    // Stops first when started. False when the device cannot be closed (the handle is
    // dropped all the same).
    bool close();
    // Hands one buffer to the device. When not started, queues nothing and returns true:
    // the caller keeps the buffer. Otherwise the recorder owns it from now on: a buffer
    // the device refuses is traced and freed at once.
    bool queueBuffer(uint8_t* data, uint32_t length, uint32_t userValue);

    std::atomic<WaveDataCallback> dataCallback{nullptr};
    std::atomic<uint32_t> userValue{0};
    std::atomic<bool> started{false};
    std::atomic<MessageTarget*> notifyThread{nullptr};
    std::atomic<MessageTarget*> notifyWindow{nullptr};
    std::mutex lock;                        // held while the close notification clears the handle
    std::atomic<int32_t> closingCount{0};
    std::atomic<HWAVEIN> device{nullptr};
    WAVEFORMATEX format{};
    std::atomic<int32_t> queuedCount{0};    // buffers with the device
    std::atomic<int32_t> preparedCount{0};  // headers prepared and not yet released
    WaveTrace lastTrace;                    // window thread only

private:
    static void driverCallback(WaveDevice* waveDevice, uint32_t message, uintptr_t instance, uintptr_t param1,
                               uintptr_t param2);
    void trace(MMRESULT result, const char* step) { lastTrace.record(driver_, result, step); }

    WaveDriver& driver_;
};

class WavePlayer {
public:
    explicit WavePlayer(WaveDriver& driver = systemWaveDriver());
    WavePlayer(const WavePlayer&) = delete;
    WavePlayer& operator=(const WavePlayer&) = delete;
    // Closes the device if its owner has not, without calling back or posting.
    virtual ~WavePlayer();

    virtual WAVEHDR* newHeader();
    // As the recorder's, but false when the header cannot be unprepared (the memory is
    // freed all the same).
    virtual bool releaseHeader(WAVEHDR* header, bool freeData);
    // A buffer was played (driver thread): counts it, posts UM_OUT_BUFFER_DONE to the
    // thread target and the window, then calls the done callback.
    virtual void onBufferDone(WAVEHDR* header);
    virtual void completeFormat(WAVEFORMATEX& waveFormat);

    bool open(uint32_t sampleRate, uint16_t bitsPerSample, uint16_t channels, uint32_t deviceId);
    bool open(const WAVEFORMATEX& waveFormat, uint32_t deviceId);
    // No device call: makes the player accept chunks. Fails when already active.
    bool start(MessageTarget* thread, MessageTarget* window);
    // No device call: the player refuses chunks from now on. False when not active.
    bool stop();
    // Stops when active, returns every written buffer, waits 500 ms, closes the device.
    // False when there is no device or it cannot be closed (the handle stays).
    bool close();
    // Writes one chunk. True: the player owns it and frees it when it comes back. False
    // (inactive, or refused by the device): nothing was queued and the caller keeps it.
    bool queueChunk(uint8_t* data, uint32_t length, uint32_t userValue);

    std::atomic<WaveDoneCallback> doneCallback{nullptr};
    std::atomic<uint32_t> userValue{0};
    std::atomic<bool> active{false};
    std::atomic<MessageTarget*> notifyThread{nullptr};
    std::atomic<MessageTarget*> notifyWindow{nullptr};
    std::mutex lock;
    std::atomic<int32_t> closingCount{0};
    std::atomic<HWAVEOUT> device{nullptr};
    WAVEFORMATEX format{};
    std::atomic<int32_t> queuedCount{0};
    std::atomic<int32_t> preparedCount{0};
    WaveTrace lastTrace;

private:
    static void driverCallback(WaveDevice* waveDevice, uint32_t message, uintptr_t instance, uintptr_t param1,
                               uintptr_t param2);
    void trace(MMRESULT result, const char* step) { lastTrace.record(driver_, result, step); }

    WaveDriver& driver_;
};
