#pragma once
// The MIDI outputs, by device id: 0 is the built-in synthesiser; then, while a JACK
// server runs, the program's JACK MIDI port; then, where the ALSA sequencer exists, the
// program's own sequencer port and every sequencer output port of other programs. The
// mapper id (0xFFFFFFFF, "Auto") selects the built-in synthesiser. A program part or a test can add a private device (a capture log, an
// offline recorder) that has an id of its own and is not listed.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/MidiClock.h"
#include "platform/MidiSink.h"

constexpr uint32_t kMidiMapper = 0xFFFFFFFF;

// The names of the program's own ports in the list.
inline constexpr const char* kJackMidiOutputName = "JACK MIDI (lirrosa:midi_out)";
inline constexpr const char* kAlsaOwnOutputName = "ALSA sequencer (Lirrosa:midi out)";

// Listed devices (without the mapper).
uint32_t midiOutDeviceCount();
// The name of a device for the settings: "Auto" for the mapper; empty for an unknown id.
std::string midiOutDeviceName(uint32_t id);

// Opens the output of device `id` and names the clock its stream runs on.
MidiResult openMidiOutput(uint32_t id, std::unique_ptr<MidiSink>& sink, MidiClock*& clock);

// A device known only to its owner, for as long as the owner lives.
class PrivateMidiDevice {
public:
    using SinkFactory = std::function<MidiResult(std::unique_ptr<MidiSink>&)>;

    PrivateMidiDevice(SinkFactory openSink, MidiClock& clock);
    ~PrivateMidiDevice();
    PrivateMidiDevice(const PrivateMidiDevice&) = delete;
    PrivateMidiDevice& operator=(const PrivateMidiDevice&) = delete;

    uint32_t id() const { return deviceId; }

private:
    uint32_t deviceId;
};
