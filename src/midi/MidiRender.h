#pragma once
// Offline rendering: what a playback would sound like, made without a sound card and
// much faster than real time. It is the playback itself (the same event list, channel
// set-up, streaming and end) on the built-in synthesiser, driven by a clock that jumps
// from one event to the next.

#include <cstdint>
#include <vector>

#include "midi/Midi_func.h"

// Renders playing `notes` as `kind` (PlayRaw plays its raw track) into 16-bit mono PCM
// at `sampleRate`, from time 0 to the end of the playback. Empty when there is nothing
// to play. Throws MidiDeviceError when the synthesiser cannot start (no soundfont).
std::vector<int16_t> renderPlayback(NoteSequence& notes, PlayKind kind, int sampleRate);
