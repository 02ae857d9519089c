#pragma once
// `lirrosa-cli record -o TAKE.wav [--seconds N] [--device N] [--input FILE.wav] [--force]
// [--quiet]`: records a take through the wave-in recorder, in 28 ms buffers of which five
// stay queued, until Ctrl-C, N seconds or the 60 seconds the take can hold; writes it as a
// wave file and converts it like `convert` (notes table, TAKE.mid beside it). With
// --input the take comes from the virtual input, fed by the file in real time. Without
// --device the settings' wave input (WavInDev) is used, else the default.

#include <string>
#include <vector>

int runRecordCommand(const std::vector<std::string>& args);
