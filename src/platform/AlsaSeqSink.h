#pragma once
// ALSA sequencer output ports as MIDI outputs: hardware synthesisers, USB MIDI interfaces
// and software synthesisers that listen on the sequencer. Listed only when the
// sequencer device (/dev/snd/seq) exists.

#include <memory>
#include <string>
#include <vector>

#include "platform/MidiSink.h"

struct _snd_seq;
struct snd_midi_event;

struct AlsaSeqPort {
    int client;
    int port;
    std::string name; // "port name (client:port)"
    std::string clientName;
    std::string portName;
};

// Every port that accepts events from other clients, in client and port order.
std::vector<AlsaSeqPort> listAlsaOutputPorts();

class AlsaSeqSink : public MidiSink {
public:
    // Opens a sequencer client with one output port connected to `destination`.
    static MidiResult open(const AlsaSeqPort& destination, std::unique_ptr<MidiSink>& sink);
    ~AlsaSeqSink() override;
    MidiResult send(uint32_t message, int64_t timeUs) override;

private:
    AlsaSeqSink() = default;

    _snd_seq* seq = nullptr;
    snd_midi_event* encoder = nullptr;
    int ownPort = -1;
    int destClient = 0;
    int destPort = 0;
};
