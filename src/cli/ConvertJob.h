#pragma once
// One conversion of a take held in memory, as the program runs a file take without echo:
// feed every 28 ms chunk to the analyser, stop, clean the raw track, recognise, then write
// the MIDI file (and optionally the JSON report, the note table and a rendering).

#include <cstdint>
#include <string>

#include "audio/WaveFormat.h"
#include "audio/Wav_func.h"

struct ConvertOptions {
    std::string midiPath;            // the Standard MIDI File to write
    std::string jsonPath;            // empty: no JSON report
    std::string renderPath;          // empty: no rendering; else a WAV of the notes played by the built-in synthesiser
    bool writeRaw = false;           // write the raw pitch track instead of the notes
    bool printTable = false;         // print the notes to stdout
    bool mergeShortPitchDeviations = true;
    int32_t tpqn = 480;
    int32_t patch = -1;              // General MIDI program of the melody, 0..127; -1: the settings' program
    bool force = false;              // overwrite existing outputs
    bool showProgress = true;        // progress on stderr for takes longer than a few seconds
};

// Converts the take and writes its outputs. Returns 0 on success; otherwise prints one
// clear line on stderr, leaves no output file behind and returns non-zero.
int convertTake(const WAVEFORMATEX& format, const SampleStore& store, const ConvertOptions& options);
