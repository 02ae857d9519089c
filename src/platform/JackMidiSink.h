#pragma once
// The program's own JACK MIDI output: a JACK client "lirrosa" with the output port
// "midi_out", to which sequencers and DAWs connect their MIDI inputs. It works with jackd
// and with PipeWire's JACK service, and is listed only while a server runs.
//
// A stream's scheduler hands each message over with the time it was meant for; a
// lock-free ring carries it to the JACK process callback, which writes it into the
// period at that time plus one period. That period is the port's capture latency (a DAW
// that records the port takes it off), and it lets every message keep its place within
// the period instead of moving to the start of the next one.
//
// The client is opened on first use and kept for the rest of the run, so that the
// connections the user made survive between the echo and a playback. When the server
// stops, every send fails with kMidiErrJackStopped; the next open starts a new client.

#include <memory>
#include <string>
#include <vector>

#include "platform/MidiSink.h"

class JackMidiClient;

// Whether a JACK server is running; never starts one.
bool jackServerRunning();

class JackMidiSink : public MidiSink {
public:
    static MidiResult open(std::unique_ptr<MidiSink>& sink);
    // `timeUs` is on the process's steady clock (the clock of every real-time stream).
    MidiResult send(uint32_t message, int64_t timeUs) override;
    // Queued events come 20 ms early and wait in the ring for their period.
    int64_t leadUs() const override { return 20000; }

private:
    explicit JackMidiSink(std::shared_ptr<JackMidiClient> client) : client(std::move(client)) {}
    std::shared_ptr<JackMidiClient> client;
};

// The output port's full name ("lirrosa:midi_out"; the server renames the client when a
// second program takes the name); empty while no client is open.
std::string jackMidiPortName();
// Connects the output port to the MIDI input `destination` ("client:port"), opening the
// client when it is not open. Connecting twice is not an error.
MidiResult connectJackMidiOutput(const std::string& destination);
// The inputs the output port is connected to now; empty while no client is open.
std::vector<std::string> jackMidiConnections();
