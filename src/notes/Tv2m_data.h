#pragma once
// The records every part of the program shares: recognised notes, raw pitch frames,
// pitch candidates, the note sequence that owns one conversion's results, and the
// process-wide song and ringtone settings.

#include <cstdint>
#include <memory>

#include "audio/WaveFormat.h"
#include "notes/DynArray.h"

// A recognised note. While recognition runs start/duration are analysis frames;
// afterwards they are MIDI ticks.
struct NoteEvent {
    int32_t start;
    int16_t duration;
    uint8_t note;     // MIDI note number, 60 = middle C
    uint8_t velocity; // 61..123
    int8_t cents;     // -41..+58
};

// One voiced 28 ms analysis frame of the raw pitch track.
struct RawFrame {
    int32_t frame;          // analysis frame index since the conversion began
    int32_t candidateCount; // entries in `candidates`
    float frequency;        // Hz
    float pitch;            // fractional MIDI note number
    int16_t level;          // mean swing of the dominant waveform features
    int16_t* candidates;    // owned by the raw track; null when candidateCount is 0
};

// General three-field work record of the analyser and of recognition.
struct PitchCandidate {
    int32_t tag;
    int16_t weight;
    float value;
};

// Thresholds derived from the input format.
struct AnalysisParams {
    const WAVEFORMATEX* format = nullptr;
    float relFloor = 0;
    float runTolerance = 0;
    float periodDeviation = 0;
    int32_t gate = 0;
    float sampleRate = 0;
    float fullScale = 0;
};

// The raw pitch track. It owns each frame's candidates array.
class RawTrack : public DynArray<RawFrame> {
public:
    explicit RawTrack(int32_t initialCapacity) : DynArray<RawFrame>(initialCapacity) {}
    ~RawTrack();
    RawTrack(const RawTrack&) = delete;
    RawTrack& operator=(const RawTrack&) = delete;

    // Removes frame `pos` and frees its candidates.
    void removeFrame(int32_t pos);
};

class NoteSequence : public DynArray<NoteEvent> {
public:
    int32_t nearHalfCount = 0;
    std::unique_ptr<RawTrack> raw;
    AnalysisParams params;
    uint8_t medianOctave = 0;
    int8_t octaveShift = 0;
    int8_t octaveRoom = 0;
    uint8_t noteDivision = 0;
    int32_t maxLevel = 0;
    bool recognised = false;
    DynArray<PitchCandidate> scratch;

    NoteSequence();
    NoteSequence(const NoteSequence&) = delete;
    NoteSequence& operator=(const NoteSequence&) = delete;

    // Starts a new raw track (capacity 100), clearing notes and summary. With resetTempo
    // the song tempo and record tempo go back to 120; the meter always to 4/4.
    // Returns true when the raw track could not be created.
    bool beginRecording(bool resetTempo);

    // Index of the note whose span holds time t. With `exact`, -1 when no note holds it.
    int32_t findNoteAt(int32_t t, bool exact) const;

    bool hasRawFrames() const { return raw && raw->count > 0; }
};

// The process-wide MIDI/song record.
struct SongSettings {
    int32_t tpqn = 480;
    int16_t reserved = 0;
    int16_t tempo = 120;
    int16_t recordTempo = 120;
    uint8_t meterNum = 4;
    uint8_t meterDen = 4;
    uint8_t patch = 0;
    uint8_t volume = 100;
    int8_t octaveShift = 0;
    uint8_t channel = 0;
    int8_t suggestedShift = 0;
};

extern SongSettings songSettings;       // in force
extern SongSettings storedSongSettings; // as stored in the settings

// Process-wide ringtone parameters, 8 bytes, carried whole in the melody package.
struct RingtoneSettings {
    uint8_t reserved = 0;
    uint8_t tempoIndex = 14;
    uint8_t patch = 70;
    uint8_t patch2 = 70;
    int8_t octave = 0;
    int8_t octaveShift = 0;
    uint8_t noteDivision = 0;
    uint8_t medianOctave = 0;
};
static_assert(sizeof(RingtoneSettings) == 8, "ringtone parameters are 8 bytes");

extern RingtoneSettings ringtoneSettings;

// Fills the ringtone parameters from a fresh recognition.
void resetRingtoneSettings(const NoteSequence& notes);

// Frequencies from 55 Hz up to, not including, 1100 Hz are accepted.
constexpr float kMinFreqHz = 55.0f;
constexpr float kMaxFreqHz = 1100.0f;

// Fractional MIDI note number of a frequency (110 Hz is 45, 440 Hz is 69); 0 for 0 Hz.
float hertzToPitch(float frequency);

// A real pitch rounded half up to a note number: truncated, plus one when the fraction is >= 0.5.
int32_t roundHalfUp(float pitch);
