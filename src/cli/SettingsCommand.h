#pragma once
// The front end's use of the program's settings: `lirrosa-cli settings [get KEY | set KEY VALUE]`
// and the values a conversion or a device command takes from them.

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "analysis/PreciseEngine.h"

// What the front end takes from the settings; each field keeps its built-in value when the
// settings do not have it. Command-line options are applied on top by the caller.
struct CliSettings {
    int32_t tpqn = 480;
    int32_t tempo = 120;
    bool mergeShortPitchDeviations = true;
    RecognitionEngine engine = RecognitionEngine::Classic;
    int32_t octaveShift = 0;
    int32_t midiOutIndex = 0; // device-list indices: 0 is the system default
    int32_t wavInIndex = 0;
    int32_t wavOutIndex = 0;
};

// Reads TPQN, Tempo, MergeSPD, Engine, OctShift, MidiOutDev, WavInDev and WavOutDev when they exist.
// A value of the wrong type or out of range, and a settings file that cannot be read, are
// skipped with one line on `warnings`.
CliSettings readCliSettings(std::ostream& warnings);

// `settings` lists the product's values; `settings get KEY` prints one value; `settings set
// KEY VALUE` checks and stores one. KEY is a value name ("TPQN") or "Subkey\Name". Returns the
// exit status: 0 done, 1 failed (one line on `err`), 2 wrong usage.
int runSettingsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
