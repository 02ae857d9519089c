#pragma once
// `lirrosa-cli play IN.wav|IN.mid [--raw | --ringtone] [--device N] [--tempo BPM] [--quiet]`:
// converts IN.wav (or reads the notes of a MIDI file such as `convert` writes) and plays
// the notes, the raw pitch track or the notes as a ringtone on a MIDI output through the
// conversion controller, showing the position as bar:beat:tick; Ctrl-C stops.
// `lirrosa-cli play --wave FILE.wav [--device N] [--quiet]`: plays the sound of a wave file
// through the wave-out player, three 28 ms chunks ahead. Without --device the settings'
// MIDI output (MidiOutDev) or wave output (WavOutDev) is used, else the default.

#include <string>
#include <vector>

int runPlayCommand(const std::vector<std::string>& args);
