#pragma once
// A JACK client with one MIDI input that records every message it receives with its
// frame time, standing in for a DAW connected to the program's port (in the tests and
// the echo latency benchmark).

#include <jack/jack.h>
#include <jack/midiport.h>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

struct ReceivedMidi {
    jack_nframes_t frame;
    uint32_t message; // status | data 1 << 8 | data 2 << 16
};

class JackTestClient {
public:
    JackTestClient()
    {
        jack_status_t status{};
        client = jack_client_open("lirrosa-test", JackNoStartServer, &status);
        if (client == nullptr)
            return;
        input = jack_port_register(client, "midi_in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        jackMinusSteadyUs = static_cast<int64_t>(jack_get_time()) - steadyNowUs();
        jack_set_process_callback(client, &JackTestClient::process, this);
        jack_activate(client);
    }
    ~JackTestClient()
    {
        if (client != nullptr)
            jack_client_close(client);
    }
    JackTestClient(const JackTestClient&) = delete;
    JackTestClient& operator=(const JackTestClient&) = delete;

    bool ready() const { return client != nullptr && input != nullptr; }

    bool connectFrom(const std::string& source)
    {
        return jack_connect(client, source.c_str(), jack_port_name(input)) == 0;
    }

    std::vector<ReceivedMidi> received()
    {
        std::lock_guard<std::mutex> guard(mutex);
        return log;
    }

    jack_nframes_t period() const { return jack_get_buffer_size(client); }
    jack_nframes_t sampleRate() const { return jack_get_sample_rate(client); }

    // The frame at a time of the process's steady clock (microseconds).
    jack_nframes_t frameAtSteadyUs(int64_t steadyUs) const
    {
        return jack_time_to_frames(client, static_cast<jack_time_t>(steadyUs + jackMinusSteadyUs));
    }

    // The time of the process's steady clock (microseconds) at a frame.
    int64_t steadyUsAtFrame(jack_nframes_t frame) const
    {
        return static_cast<int64_t>(jack_frames_to_time(client, frame)) - jackMinusSteadyUs;
    }

    // The capture latency that port `name` reports (its largest value).
    jack_nframes_t captureLatency(const std::string& name) const
    {
        jack_port_t* port = jack_port_by_name(client, name.c_str());
        jack_latency_range_t range{0, 0};
        if (port != nullptr)
            jack_port_get_latency_range(port, JackCaptureLatency, &range);
        return range.max;
    }

private:
    static int64_t steadyNowUs()
    {
        return std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }

    static int process(jack_nframes_t frames, void* self)
    {
        auto* owner = static_cast<JackTestClient*>(self);
        void* buffer = jack_port_get_buffer(owner->input, frames);
        const jack_nframes_t start = jack_last_frame_time(owner->client);
        const uint32_t count = jack_midi_get_event_count(buffer);
        std::lock_guard<std::mutex> guard(owner->mutex);
        for (uint32_t i = 0; i < count; ++i) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, buffer, i) != 0 || event.size == 0)
                continue;
            uint32_t message = 0;
            for (size_t b = 0; b < event.size && b < 3; ++b)
                message |= static_cast<uint32_t>(event.buffer[b]) << (8 * b);
            owner->log.push_back({start + event.time, message});
        }
        return 0;
    }

    jack_client_t* client = nullptr;
    jack_port_t* input = nullptr;
    int64_t jackMinusSteadyUs = 0;
    std::mutex mutex;
    std::vector<ReceivedMidi> log;
};
