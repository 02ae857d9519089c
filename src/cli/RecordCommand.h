#pragma once
// `lirrosa-cli record -o TAKE.wav [--seconds N] [--device N] [--input FILE.wav]
// [--echo none|midi|wave] [--metronome] [--force] [--quiet]`: a microphone take run by the
// conversion controller, as the window runs it: 28 ms buffers of which five stay queued,
// the MIDI echo of the sung pitch or the WAVE echo of the sound, the metronome at the
// song's tempo, and a status line with the take's time and the sung note. It ends on
// Ctrl-C (Stop), after N seconds, or when the 60 seconds the take can hold are full; then
// TAKE.wav is written and the recognised notes are printed and written to TAKE.mid beside
// it. With --input the take comes from the virtual input, fed by the file in real time.
// Without --device the settings' wave input (WavInDev) is used, else the default; the
// echoes use the settings' wave and MIDI outputs.

#include <string>
#include <vector>

int runRecordCommand(const std::vector<std::string>& args);
