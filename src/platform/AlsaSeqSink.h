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

// The program's own sequencer port, as other applications see it.
inline constexpr const char* kAlsaOwnClientName = "Lirrosa";
inline constexpr const char* kAlsaOwnPortName = "midi out";

struct AlsaSeqPort {
    int client;
    int port;
    std::string name; // "port name (client:port)"
};

// Every port that accepts events from other clients, in client and port order.
std::vector<AlsaSeqPort> listAlsaOutputPorts();

// Whether the sequencer device exists (it does not in most containers).
bool alsaSequencerPresent();

class AlsaSeqSink : public MidiSink {
public:
    // Opens a sequencer client with one output port connected to `destination`.
    static MidiResult open(const AlsaSeqPort& destination, std::unique_ptr<MidiSink>& sink);
    // Opens the program's own readable port, client "Lirrosa" port "midi out", which any
    // sequencer application can subscribe to; every message goes to its subscribers.
    static MidiResult openOwnPort(std::unique_ptr<MidiSink>& sink);
    ~AlsaSeqSink() override;
    MidiResult send(uint32_t message, int64_t timeUs) override;

private:
    AlsaSeqSink() = default;
    // The client with one readable port called `portName`.
    static MidiResult openClient(const char* portName, std::unique_ptr<AlsaSeqSink>& made);

    _snd_seq* seq = nullptr;
    snd_midi_event* encoder = nullptr;
    int ownPort = -1;
    bool toSubscribers = false;
    int destClient = 0;
    int destPort = 0;
};
