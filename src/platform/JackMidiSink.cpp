#include "platform/JackMidiSink.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>

#include "platform/MidiEventRing.h"

namespace {

constexpr const char* kClientName = "lirrosa";
constexpr const char* kProbeName = "lirrosa-probe";
constexpr const char* kPortName = "midi_out";
// About ten seconds of a dense echo; the process callback empties it every period.
constexpr size_t kRingCapacity = 4096;

// libjack prints its failures (no server, for one) on stderr; the program reports them
// through its own result codes instead.
void quietJackMessage(const char*) {}

void silenceJackLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] {
        jack_set_error_function(quietJackMessage);
        jack_set_info_function(quietJackMessage);
    });
}

int64_t steadyNowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Bytes in a channel message with this status.
size_t messageLength(uint8_t status)
{
    const uint8_t kind = status & 0xF0;
    return (kind == 0xC0 || kind == 0xD0) ? 2 : 3;
}

} // namespace

class JackMidiClient {
public:
    static MidiResult open(std::shared_ptr<JackMidiClient>& opened);
    ~JackMidiClient();
    JackMidiClient(const JackMidiClient&) = delete;
    JackMidiClient& operator=(const JackMidiClient&) = delete;

    MidiResult queue(uint32_t message, int64_t steadyUs);
    bool serverStopped() const { return stopped.load(); }
    std::string portName() const { return jack_port_name(port); }
    MidiResult connect(const std::string& destination);
    std::vector<std::string> connections() const;

private:
    JackMidiClient() = default;

    static int process(jack_nframes_t frames, void* self);
    static void serverShutdown(jack_status_t, const char*, void* self);
    static void reportLatency(jack_latency_callback_mode_t mode, void* self);
    // The process callback's work: every queued message due in this period goes into the
    // port's buffer at its frame.
    void writePeriod(jack_nframes_t frames);

    jack_client_t* client = nullptr;
    jack_port_t* port = nullptr;
    int64_t jackMinusSteadyUs = 0;
    std::atomic<bool> stopped{false};
    // Streams on several threads may send; they take turns at the ring's one producer end.
    std::mutex producers;
    MidiEventRing<kRingCapacity> ring;
};

MidiResult JackMidiClient::open(std::shared_ptr<JackMidiClient>& opened)
{
    silenceJackLibrary();
    std::shared_ptr<JackMidiClient> made(new JackMidiClient());
    jack_status_t status{};
    made->client = jack_client_open(kClientName, JackNoStartServer, &status);
    if (made->client == nullptr)
        return kMidiErrNoJackServer;
    made->port = jack_port_register(made->client, kPortName, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    if (made->port == nullptr)
        return kMidiErrNoJackServer;
    made->jackMinusSteadyUs = static_cast<int64_t>(jack_get_time()) - steadyNowUs();
    jack_set_process_callback(made->client, &JackMidiClient::process, made.get());
    jack_set_latency_callback(made->client, &JackMidiClient::reportLatency, made.get());
    jack_on_info_shutdown(made->client, &JackMidiClient::serverShutdown, made.get());
    if (jack_activate(made->client) != 0)
        return kMidiErrNoJackServer;
    opened = std::move(made);
    return kMidiOk;
}

JackMidiClient::~JackMidiClient()
{
    // Closing a client whose server has gone crashes libjack (jackd2 1.9.21); such a
    // client holds nothing but memory, which is left to the end of the run.
    if (client != nullptr && !stopped.load())
        jack_client_close(client);
}

MidiResult JackMidiClient::queue(uint32_t message, int64_t steadyUs)
{
    if (stopped.load())
        return kMidiErrJackStopped;
    const uint64_t jackUs = static_cast<uint64_t>(std::max<int64_t>(steadyUs + jackMinusSteadyUs, 0));
    std::lock_guard<std::mutex> guard(producers);
    return ring.push({message, jackUs}) ? kMidiOk : kMidiErrJackBehind;
}

MidiResult JackMidiClient::connect(const std::string& destination)
{
    if (stopped.load())
        return kMidiErrJackStopped;
    if (jack_port_by_name(client, destination.c_str()) == nullptr)
        return kMidiErrNoSuchJackPort;
    const int result = jack_connect(client, jack_port_name(port), destination.c_str());
    return result == 0 || result == EEXIST ? kMidiOk : kMidiErrNoSuchJackPort;
}

std::vector<std::string> JackMidiClient::connections() const
{
    std::vector<std::string> names;
    if (stopped.load())
        return names;
    const char** connected = jack_port_get_all_connections(client, port);
    if (connected == nullptr)
        return names;
    for (const char** name = connected; *name != nullptr; ++name)
        names.emplace_back(*name);
    jack_free(connected);
    return names;
}

int JackMidiClient::process(jack_nframes_t frames, void* self)
{
    static_cast<JackMidiClient*>(self)->writePeriod(frames);
    return 0;
}

void JackMidiClient::writePeriod(jack_nframes_t frames)
{
    void* buffer = jack_port_get_buffer(port, frames);
    jack_midi_clear_buffer(buffer);
    const jack_nframes_t periodStart = jack_last_frame_time(client);
    jack_nframes_t earliest = 0; // a port's events must not go back in time
    TimedMidiMessage event{};
    while (ring.peek(event)) {
        const jack_nframes_t placed = jack_time_to_frames(client, event.timeUs) + frames;
        // Frame counts wrap; their difference does not.
        const int32_t offset = static_cast<int32_t>(placed - periodStart);
        if (offset >= static_cast<int32_t>(frames))
            break; // due in a later period
        // A message that came too late for its place goes first into this period.
        const jack_nframes_t at = std::max(earliest, static_cast<jack_nframes_t>(std::max(offset, 0)));
        const jack_midi_data_t bytes[3] = {static_cast<jack_midi_data_t>(event.message & 0xFF),
                                           static_cast<jack_midi_data_t>((event.message >> 8) & 0x7F),
                                           static_cast<jack_midi_data_t>((event.message >> 16) & 0x7F)};
        if (jack_midi_event_write(buffer, at, bytes, messageLength(bytes[0])) != 0)
            break; // the period's buffer is full: the rest go into the next one
        ring.pop();
        earliest = at;
    }
}

void JackMidiClient::serverShutdown(jack_status_t, const char*, void* self)
{
    static_cast<JackMidiClient*>(self)->stopped.store(true);
}

void JackMidiClient::reportLatency(jack_latency_callback_mode_t mode, void* self)
{
    if (mode != JackCaptureLatency)
        return;
    auto* owner = static_cast<JackMidiClient*>(self);
    const jack_nframes_t period = jack_get_buffer_size(owner->client);
    jack_latency_range_t range{period, period};
    jack_port_set_latency_range(owner->port, JackCaptureLatency, &range);
}

namespace {

// The client every sink of the run shares.
struct SharedJackClient {
    std::mutex mutex;
    std::shared_ptr<JackMidiClient> client;
};

SharedJackClient& sharedJack()
{
    static SharedJackClient shared;
    return shared;
}

// With the shared mutex held: the running client, opened when there is none or when its
// server stopped.
MidiResult runningClient(std::shared_ptr<JackMidiClient>& client)
{
    SharedJackClient& shared = sharedJack();
    if (!shared.client || shared.client->serverStopped()) {
        shared.client.reset();
        const MidiResult result = JackMidiClient::open(shared.client);
        if (result != kMidiOk)
            return result;
    }
    client = shared.client;
    return kMidiOk;
}

// The open client, or null; never opens one.
std::shared_ptr<JackMidiClient> openClient()
{
    SharedJackClient& shared = sharedJack();
    std::lock_guard<std::mutex> guard(shared.mutex);
    if (shared.client && shared.client->serverStopped())
        return nullptr;
    return shared.client;
}

} // namespace

bool jackServerRunning()
{
    if (openClient())
        return true;
    silenceJackLibrary();
    jack_status_t status{};
    jack_client_t* probe = jack_client_open(kProbeName, JackNoStartServer, &status);
    if (probe == nullptr)
        return false;
    jack_client_close(probe);
    return true;
}

MidiResult JackMidiSink::open(std::unique_ptr<MidiSink>& sink)
{
    std::shared_ptr<JackMidiClient> client;
    {
        std::lock_guard<std::mutex> guard(sharedJack().mutex);
        const MidiResult result = runningClient(client);
        if (result != kMidiOk)
            return result;
    }
    sink.reset(new JackMidiSink(std::move(client)));
    return kMidiOk;
}

MidiResult JackMidiSink::send(uint32_t message, int64_t timeUs)
{
    const uint8_t status = message & 0xFF;
    if (status < 0x80 || status >= 0xF0)
        return kMidiErrInvalidParam;
    return client->queue(message, timeUs);
}

std::string jackMidiPortName()
{
    const std::shared_ptr<JackMidiClient> client = openClient();
    return client ? client->portName() : std::string();
}

MidiResult connectJackMidiOutput(const std::string& destination)
{
    std::shared_ptr<JackMidiClient> client;
    {
        std::lock_guard<std::mutex> guard(sharedJack().mutex);
        const MidiResult result = runningClient(client);
        if (result != kMidiOk)
            return result;
    }
    return client->connect(destination);
}

std::vector<std::string> jackMidiConnections()
{
    const std::shared_ptr<JackMidiClient> client = openClient();
    return client ? client->connections() : std::vector<std::string>();
}
