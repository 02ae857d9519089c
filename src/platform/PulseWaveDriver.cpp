#include "platform/PulseWaveDriver.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <functional>
#include <tuple>

#include "audio/WaveFormat.h"

namespace {

// No step of talking to the server may wait longer than this.
constexpr pa_usec_t kServerTimeout = 5 * PA_USEC_PER_SEC;
// How often a playback stream checks which written buffers have been heard.
constexpr pa_usec_t kPlayedPollInterval = 5 * PA_USEC_PER_MSEC;

MMRESULT serverError(int error)
{
    return kPulseErrorBase + static_cast<MMRESULT>(error);
}

// One connection to the server, with its own threaded main loop.
class PulseConnection {
public:
    PulseConnection() = default;
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;
    ~PulseConnection() { disconnect(); }

    // Starts the loop and connects; call without the lock.
    MMRESULT connect();
    // Disconnects and ends the loop; call without the lock.
    void disconnect();

    void lock() { pa_threaded_mainloop_lock(mainloop_); }
    void unlock() { pa_threaded_mainloop_unlock(mainloop_); }
    void signal() { pa_threaded_mainloop_signal(mainloop_, 0); }
    bool started() const { return mainloop_ != nullptr; }
    pa_context* context() const { return context_; }
    pa_mainloop_api* api() const { return pa_threaded_mainloop_get_api(mainloop_); }
    MMRESULT lastError() const { return serverError(pa_context_errno(context_)); }

    // With the lock held: waits until `settled` holds or the server time-out passes.
    bool waitFor(const std::function<bool()>& settled);
    // With the lock held: the server's sources (input) or sinks (output) in list order.
    MMRESULT listDevices(WaveDirection direction, std::vector<PulseDeviceEntry>& devices);

private:
    static void stateChanged(pa_context* context, void* connection);

    pa_threaded_mainloop* mainloop_ = nullptr;
    pa_context* context_ = nullptr;
};

MMRESULT PulseConnection::connect()
{
    mainloop_ = pa_threaded_mainloop_new();
    if (mainloop_ == nullptr)
        return MMSYSERR_NOMEM;
    if (pa_threaded_mainloop_start(mainloop_) < 0)
        return MMSYSERR_ERROR;
    lock();
    context_ = pa_context_new(api(), "Lirrosa");
    if (context_ == nullptr) {
        unlock();
        return MMSYSERR_NOMEM;
    }
    pa_context_set_state_callback(context_, stateChanged, this);
    MMRESULT result = MMSYSERR_NOERROR;
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        result = lastError();
    } else {
        const bool settled = waitFor([this] {
            const pa_context_state_t state = pa_context_get_state(context_);
            return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
        });
        if (!settled)
            result = serverError(PA_ERR_TIMEOUT);
        else if (pa_context_get_state(context_) != PA_CONTEXT_READY)
            result = lastError();
    }
    unlock();
    return result;
}

void PulseConnection::disconnect()
{
    if (mainloop_ == nullptr)
        return;
    lock();
    if (context_ != nullptr) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
    unlock();
    pa_threaded_mainloop_stop(mainloop_);
    pa_threaded_mainloop_free(mainloop_);
    mainloop_ = nullptr;
}

void PulseConnection::stateChanged(pa_context*, void* connection)
{
    static_cast<PulseConnection*>(connection)->signal();
}

bool PulseConnection::waitFor(const std::function<bool()>& settled)
{
    struct Deadline {
        PulseConnection* connection;
        bool passed;
    } deadline{this, false};
    pa_time_event* timer = pa_context_rttime_new(
        context_, pa_rtclock_now() + kServerTimeout,
        [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* data) {
            auto* reached = static_cast<Deadline*>(data);
            reached->passed = true;
            reached->connection->signal();
        },
        &deadline);
    while (!settled() && !deadline.passed)
        pa_threaded_mainloop_wait(mainloop_);
    if (timer != nullptr)
        api()->time_free(timer);
    return settled();
}

struct DeviceListing {
    PulseConnection* connection;
    std::vector<PulseDeviceEntry> devices;
    bool finished = false;
};

void addEntry(DeviceListing* listing, int endOfList, const char* name, const char* description, bool monitor)
{
    if (endOfList != 0) {
        listing->finished = true;
        listing->connection->signal();
        return;
    }
    listing->devices.push_back({name, description != nullptr ? description : name, monitor});
}

void sourceListed(pa_context*, const pa_source_info* info, int endOfList, void* listing)
{
    addEntry(static_cast<DeviceListing*>(listing), endOfList, endOfList ? nullptr : info->name,
             endOfList ? nullptr : info->description, endOfList ? false : info->monitor_of_sink != PA_INVALID_INDEX);
}

void sinkListed(pa_context*, const pa_sink_info* info, int endOfList, void* listing)
{
    addEntry(static_cast<DeviceListing*>(listing), endOfList, endOfList ? nullptr : info->name,
             endOfList ? nullptr : info->description, false);
}

MMRESULT PulseConnection::listDevices(WaveDirection direction, std::vector<PulseDeviceEntry>& devices)
{
    DeviceListing listing{this, {}, false};
    pa_operation* operation = direction == WaveDirection::Input
                                  ? pa_context_get_source_info_list(context_, sourceListed, &listing)
                                  : pa_context_get_sink_info_list(context_, sinkListed, &listing);
    if (operation == nullptr)
        return lastError();
    waitFor([&] { return listing.finished || pa_operation_get_state(operation) != PA_OPERATION_RUNNING; });
    if (pa_operation_get_state(operation) == PA_OPERATION_RUNNING)
        pa_operation_cancel(operation);
    pa_operation_unref(operation);
    if (!listing.finished)
        return PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)) ? serverError(PA_ERR_TIMEOUT) : lastError();
    // Real inputs before the monitors of outputs, each group by description: the order
    // does not depend on the order in which the server found its devices.
    std::stable_sort(listing.devices.begin(), listing.devices.end(),
                     [](const PulseDeviceEntry& a, const PulseDeviceEntry& b) {
                         return std::tie(a.monitor, a.description, a.name) <
                                std::tie(b.monitor, b.description, b.name);
                     });
    devices = std::move(listing.devices);
    return MMSYSERR_NOERROR;
}

// An open stream: a record stream that fills the queued input buffers, or a playback
// stream that plays the queued output buffers and returns each once it has been heard.
class PulseWaveStream final : public WaveDevice {
public:
    PulseWaveStream(WaveDirection direction, const WAVEFORMATEX& format, WaveCallback callback, uintptr_t instance)
        : WaveDevice(direction, format, callback, instance)
    {
    }
    ~PulseWaveStream() override { release(); }

    MMRESULT connect(uint32_t deviceId);
    void begin() { startDriverThread(); }

private:
    MMRESULT startStream() override;
    void haltStream() override;
    void bufferQueued() override;
    void shutDownStream() override { release(); }

    void release();
    MMRESULT createStream(const char* deviceName);
    bool streamReady() const { return stream_ != nullptr && pa_stream_get_state(stream_) == PA_STREAM_READY; }
    void readAvailable();
    void writeQueued();
    void updatePlayed();
    void pollPlayedSoon();

    static void contextChanged(pa_context* context, void* stream);
    static void streamChanged(pa_stream* stream, void* self);
    static void readable(pa_stream* stream, size_t size, void* self);
    static void writable(pa_stream* stream, size_t size, void* self);
    static void underflowed(pa_stream* stream, void* self);
    static void pollPlayed(pa_mainloop_api* api, pa_time_event* event, const struct timeval* time, void* self);

    PulseConnection connection_;
    pa_stream* stream_ = nullptr;
    pa_time_event* playedPoll_ = nullptr;
    pa_sample_spec spec_{};
    bool running_ = false;   // input: filling buffers
    bool halted_ = false;    // output: reset, nothing to write until the next buffer
    uint64_t written_ = 0;   // output: bytes written to the server
};

MMRESULT PulseWaveStream::connect(uint32_t deviceId)
{
    MMRESULT result = connection_.connect();
    if (result != MMSYSERR_NOERROR)
        return result;
    connection_.lock();
    std::string deviceName;
    if (deviceId != WAVE_MAPPER) {
        std::vector<PulseDeviceEntry> devices;
        result = connection_.listDevices(direction(), devices);
        if (result == MMSYSERR_NOERROR && deviceId >= devices.size())
            result = MMSYSERR_BADDEVICEID;
        else if (result == MMSYSERR_NOERROR)
            deviceName = devices[deviceId].name;
    }
    if (result == MMSYSERR_NOERROR)
        result = createStream(deviceName.empty() ? nullptr : deviceName.c_str());
    if (result == MMSYSERR_NOERROR)
        pa_context_set_state_callback(connection_.context(), contextChanged, this);
    connection_.unlock();
    return result;
}

pa_sample_format_t sampleFormat(uint16_t bitsPerSample)
{
    switch (bitsPerSample) {
    case 8: return PA_SAMPLE_U8;
    case 16: return PA_SAMPLE_S16LE;
    case 24: return PA_SAMPLE_S24LE;
    case 32: return PA_SAMPLE_S32LE;
    default: return PA_SAMPLE_INVALID;
    }
}

MMRESULT PulseWaveStream::createStream(const char* deviceName)
{
    spec_.format = sampleFormat(format().wBitsPerSample);
    spec_.rate = format().nSamplesPerSec;
    spec_.channels = static_cast<uint8_t>(format().nChannels);
    pa_channel_map channels;
    if (!pa_sample_spec_valid(&spec_) ||
        pa_channel_map_init_auto(&channels, spec_.channels, PA_CHANNEL_MAP_WAVEEX) == nullptr)
        return WAVERR_BADFORMAT;
    const bool input = direction() == WaveDirection::Input;
    stream_ = pa_stream_new(connection_.context(), input ? "Recording" : "Playback", &spec_, &channels);
    if (stream_ == nullptr)
        return connection_.lastError();
    pa_stream_set_state_callback(stream_, streamChanged, this);

    // Latency of about one 28 ms chunk: a recorded chunk reaches the program within about
    // one chunk of being sung, and played chunks are heard about two chunks after writing.
    const uint32_t chunk = audioChunkBytes(format());
    pa_buffer_attr buffering;
    buffering.maxlength = static_cast<uint32_t>(-1);
    buffering.tlength = static_cast<uint32_t>(-1);
    buffering.prebuf = static_cast<uint32_t>(-1);
    buffering.minreq = static_cast<uint32_t>(-1);
    buffering.fragsize = static_cast<uint32_t>(-1);
    int flags = PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE;
    // A stream on the default device follows the default when its device goes away; one
    // on a chosen device ends with it, so that its user learns of the loss.
    if (deviceName != nullptr)
        flags |= PA_STREAM_DONT_MOVE;
    int connected;
    if (input) {
        buffering.fragsize = chunk;
        pa_stream_set_read_callback(stream_, readable, this);
        connected = pa_stream_connect_record(stream_, deviceName, &buffering,
                                             static_cast<pa_stream_flags_t>(flags | PA_STREAM_START_CORKED));
    } else {
        buffering.tlength = 2 * chunk;
        pa_stream_set_write_callback(stream_, writable, this);
        pa_stream_set_underflow_callback(stream_, underflowed, this);
        playedPoll_ = pa_context_rttime_new(connection_.context(), PA_USEC_INVALID, pollPlayed, this);
        connected = pa_stream_connect_playback(stream_, deviceName, &buffering,
                                               static_cast<pa_stream_flags_t>(flags), nullptr, nullptr);
    }
    if (connected < 0)
        return connection_.lastError();
    const bool settled = connection_.waitFor([this] {
        const pa_stream_state_t state = pa_stream_get_state(stream_);
        return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
    });
    if (!settled)
        return serverError(PA_ERR_TIMEOUT);
    return streamReady() ? MMSYSERR_NOERROR : connection_.lastError();
}

void PulseWaveStream::release()
{
    if (!connection_.started())
        return;
    connection_.lock();
    if (playedPoll_ != nullptr) {
        connection_.api()->time_free(playedPoll_);
        playedPoll_ = nullptr;
    }
    if (stream_ != nullptr) {
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_set_read_callback(stream_, nullptr, nullptr);
        pa_stream_set_write_callback(stream_, nullptr, nullptr);
        pa_stream_set_underflow_callback(stream_, nullptr, nullptr);
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
        stream_ = nullptr;
    }
    if (connection_.context() != nullptr)
        pa_context_set_state_callback(connection_.context(), nullptr, nullptr);
    connection_.unlock();
    connection_.disconnect();
}

void unrefOperation(pa_operation* operation)
{
    if (operation != nullptr)
        pa_operation_unref(operation);
}

MMRESULT PulseWaveStream::startStream()
{
    connection_.lock();
    MMRESULT result = MMSYSERR_NOERROR;
    if (!streamReady()) {
        result = WAVERR_DEVICELOST;
    } else {
        running_ = true;
        pa_operation* uncork = pa_stream_cork(stream_, 0, nullptr, nullptr);
        if (uncork == nullptr)
            result = connection_.lastError();
        unrefOperation(uncork);
    }
    connection_.unlock();
    return result;
}

void PulseWaveStream::haltStream()
{
    connection_.lock();
    running_ = false;
    halted_ = true;
    if (streamReady()) {
        if (direction() == WaveDirection::Input)
            unrefOperation(pa_stream_cork(stream_, 1, nullptr, nullptr));
        unrefOperation(pa_stream_flush(stream_, nullptr, nullptr));
    }
    connection_.unlock();
}

void PulseWaveStream::bufferQueued()
{
    if (direction() != WaveDirection::Output)
        return;
    connection_.lock();
    halted_ = false;
    writeQueued();
    connection_.unlock();
}

void PulseWaveStream::readAvailable()
{
    for (;;) {
        const void* data = nullptr;
        size_t size = 0;
        if (pa_stream_peek(stream_, &data, &size) < 0) {
            fail(connection_.lastError());
            return;
        }
        if (size == 0)
            return;
        // A hole (data lost by the server) is recorded as silence, keeping the timing.
        if (running_)
            fillInput(static_cast<const uint8_t*>(data), size);
        pa_stream_drop(stream_);
    }
}

void PulseWaveStream::writeQueued()
{
    if (halted_ || !streamReady())
        return;
    const size_t frame = format().nBlockAlign;
    bool wrote = false;
    while (outputPending() > 0) {
        size_t room = pa_stream_writable_size(stream_);
        if (room == static_cast<size_t>(-1))
            break;
        room -= room % frame;
        if (room == 0)
            break;
        void* buffer = nullptr;
        if (pa_stream_begin_write(stream_, &buffer, &room) < 0 || buffer == nullptr)
            break;
        room -= room % frame;
        const size_t taken = room > 0 ? takeOutput(static_cast<uint8_t*>(buffer), room) : 0;
        if (taken == 0) {
            pa_stream_cancel_write(stream_);
            break;
        }
        if (pa_stream_write(stream_, buffer, taken, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
            fail(connection_.lastError());
            return;
        }
        written_ += taken;
        wrote = true;
    }
    if (!wrote)
        return;
    // The server waits for a full buffer before it starts playing; with nothing more to
    // come, start at once so that a short or final piece is heard.
    if (outputPending() == 0)
        unrefOperation(pa_stream_trigger(stream_, nullptr, nullptr));
    pollPlayedSoon();
}

void PulseWaveStream::pollPlayedSoon()
{
    if (playedPoll_ != nullptr)
        pa_context_rttime_restart(connection_.context(), playedPoll_, pa_rtclock_now() + kPlayedPollInterval);
}

void PulseWaveStream::updatePlayed()
{
    if (!streamReady())
        return;
    pa_usec_t latency = 0;
    int negative = 0;
    if (pa_stream_get_latency(stream_, &latency, &negative) < 0)
        return;
    const uint64_t queued = negative ? 0 : pa_usec_to_bytes(latency, &spec_);
    completePlayed(written_ > queued ? written_ - queued : 0);
}

void PulseWaveStream::contextChanged(pa_context* context, void* stream)
{
    auto* self = static_cast<PulseWaveStream*>(stream);
    self->connection_.signal();
    if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context)))
        self->fail(serverError(pa_context_errno(context)));
}

void PulseWaveStream::streamChanged(pa_stream* stream, void* self)
{
    auto* device = static_cast<PulseWaveStream*>(self);
    device->connection_.signal();
    if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream)))
        device->fail(device->connection_.lastError());
}

void PulseWaveStream::readable(pa_stream*, size_t, void* self)
{
    static_cast<PulseWaveStream*>(self)->readAvailable();
}

void PulseWaveStream::writable(pa_stream*, size_t, void* self)
{
    auto* device = static_cast<PulseWaveStream*>(self);
    device->writeQueued();
    device->updatePlayed();
}

void PulseWaveStream::underflowed(pa_stream*, void* self)
{
    // Everything written has been played.
    auto* device = static_cast<PulseWaveStream*>(self);
    device->completePlayed(device->written_);
}

void PulseWaveStream::pollPlayed(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self)
{
    auto* device = static_cast<PulseWaveStream*>(self);
    device->updatePlayed();
    if (device->outputInFlight())
        device->pollPlayedSoon();
}

}  // namespace

uint32_t PulseWaveDriver::refresh(WaveDirection direction, std::vector<PulseDeviceEntry>& list)
{
    list.clear();
    PulseConnection connection;
    if (connection.connect() != MMSYSERR_NOERROR)
        return 0;
    connection.lock();
    connection.listDevices(direction, list);
    connection.unlock();
    return static_cast<uint32_t>(list.size());
}

std::string PulseWaveDriver::nameOf(WaveDirection direction, std::vector<PulseDeviceEntry>& list, uint32_t id)
{
    bool& listed = direction == WaveDirection::Input ? inputsListed_ : outputsListed_;
    if (!listed) {
        refresh(direction, list);
        listed = true;
    }
    return id < list.size() ? list[id].description : std::string();
}

uint32_t PulseWaveDriver::inputCount()
{
    std::lock_guard<std::mutex> lock(mutex_);
    inputsListed_ = true;
    return refresh(WaveDirection::Input, inputs_);
}

std::string PulseWaveDriver::inputName(uint32_t id)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return nameOf(WaveDirection::Input, inputs_, id);
}

uint32_t PulseWaveDriver::outputCount()
{
    std::lock_guard<std::mutex> lock(mutex_);
    outputsListed_ = true;
    return refresh(WaveDirection::Output, outputs_);
}

std::string PulseWaveDriver::outputName(uint32_t id)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return nameOf(WaveDirection::Output, outputs_, id);
}

MMRESULT PulseWaveDriver::open(WaveDirection direction, WaveDevice** device, uint32_t deviceId,
                               const WAVEFORMATEX& format, WaveCallback callback, uintptr_t instance, uint32_t flags)
{
    if (device == nullptr)
        return MMSYSERR_INVALPARAM;
    *device = nullptr;
    if (const MMRESULT refused = checkOpenRequest(format, callback, flags))
        return refused;
    auto* stream = new PulseWaveStream(direction, format, callback, instance);
    if (const MMRESULT result = stream->connect(deviceId)) {
        delete stream;
        return result;
    }
    stream->begin();
    *device = stream;
    return MMSYSERR_NOERROR;
}

std::string PulseWaveDriver::errorText(MMRESULT result)
{
    if (result < kPulseErrorBase)
        return WaveDriver::errorText(result);
    const int error = static_cast<int>(result - kPulseErrorBase);
    if (error == PA_ERR_KILLED)
        return "Sound server: the device was removed.";
    return std::string("Sound server: ") + pa_strerror(error) + ".";
}

WaveDriver& systemWaveDriver()
{
    static PulseWaveDriver driver;
    return driver;
}
