#pragma once
// Result codes of the MIDI output services and their texts. 0 is success; every other
// code has a text that says what failed and, where the user can fix it, how.

#include <cstdint>
#include <string>

using MidiResult = uint32_t;

constexpr MidiResult kMidiOk = 0;
constexpr MidiResult kMidiErrBadDeviceId = 2;
constexpr MidiResult kMidiErrInvalidHandle = 5;
constexpr MidiResult kMidiErrNoMemory = 7;
constexpr MidiResult kMidiErrInvalidParam = 11;
constexpr MidiResult kMidiErrUnprepared = 64;
constexpr MidiResult kMidiErrStillPlaying = 65;
constexpr MidiResult kMidiErrNoSoundfont = 100;
constexpr MidiResult kMidiErrBadSoundfont = 101;
constexpr MidiResult kMidiErrNoSoundServer = 102;
constexpr MidiResult kMidiErrSynthFailed = 103;
constexpr MidiResult kMidiErrSequencer = 104;
constexpr MidiResult kMidiErrPortGone = 105;
constexpr MidiResult kMidiErrNoJackServer = 106;
constexpr MidiResult kMidiErrJackStopped = 107;
constexpr MidiResult kMidiErrJackBehind = 108;
constexpr MidiResult kMidiErrNoSuchJackPort = 109;

// The text of a result code, as shown in an "Error" box.
std::string midiErrorText(MidiResult result);
