#pragma once
// The outputs of one conversion: the options of `convert`, their checks, and the writing
// of the MIDI file (and optionally the JSON report, the note table and a rendering) of a
// take the conversion controller has analysed and recognised.

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/PreciseEngine.h"
#include "audio/WaveFormat.h"
#include "audio/Wav_func.h"
#include "cli/JsonReport.h"
#include "notes/Tv2m_data.h"

struct ConvertOptions {
    std::string midiPath;            // the Standard MIDI File to write
    std::string jsonPath;            // empty: no JSON report
    std::string renderPath;          // empty: no rendering; else a WAV of the notes played by the built-in synthesiser
    bool writeRaw = false;           // write the raw pitch track instead of the notes
    bool printTable = false;         // print the notes to stdout
    bool mergeShortPitchDeviations = true;
    RecognitionEngine engine = RecognitionEngine::Classic;
    int32_t tpqn = 480;
    int32_t patch = -1;              // General MIDI program of the melody, 0..127; -1: the settings' program
    bool force = false;              // overwrite existing outputs
    bool showProgress = true;        // progress on stderr for takes longer than a few seconds
};

// The pieces of a conversion, for a take that the conversion controller analyses and
// recognises. Each returns 0, or prints one line on stderr and returns non-zero.

// The options' ranges, and no output overwritten without `force`.
int checkConvertOptions(const ConvertOptions& options);

// Why the analyser cannot take a wave file of this format; empty when it can.
std::string unsupportedFormatReason(const WAVEFORMATEX& format);

// Writes the outputs of an analysed and recognised take: `frames` is the count of frames
// fed to the analyser and `analysed` the raw track as analysed (for the JSON report).
// Fails when the take has no raw track or no note.
int writeConversion(const WAVEFORMATEX& format, int32_t frames, const std::vector<RawFrameCopy>& analysed,
                    NoteSequence& notes, const ConvertOptions& options);

// Progress on stderr in steps of 10 %, for takes longer than a few seconds.
class ConvertProgress {
public:
    ConvertProgress(bool enabled, uint32_t total) : enabled_(enabled && total > 0), total_(total) {}

    void update(uint32_t done);

private:
    bool enabled_;
    uint32_t total_;
    int shown_ = 0;
};
