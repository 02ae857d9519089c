#pragma once
// Melody recognition: turns the raw pitch track of a NoteSequence into notes in MIDI ticks
// and computes the summary bytes the exports read. The steps are free functions so that
// each one can be exercised on its own.

#include <cstdint>

#include "notes/Tv2m_data.h"

// Raw-track clean-up run once when a conversion stops, before recognise: removes isolated
// frames and pulls octave errors at the start of each run into the run's octave.
void cleanRawTrack(NoteSequence& notes);

// Fills the notes (ticks) and summary from the raw track. mergeShortPitchDeviations is the
// "Merge Short Pitch Deviations" setting (on by default in the program).
bool recognise(NoteSequence& notes, bool mergeShortPitchDeviations);

// A segment or note is short below this many frames (168 ms).
constexpr int32_t kShortFrames = 6;

// Runs longer than this many frames are recognised in pieces, so that no note length in
// frames can exceed 16 bits.
constexpr int32_t kMaxRunFrames = 16384;

// First index a > b whose frame does not follow raw[a-1]'s frame, or the track's count.
int32_t runEnd(const RawTrack& raw, int32_t b);

// Median of trunc(frequency) and every candidate frequency of raw[b..e-1], as 16-bit values;
// the mean of the two middle values for an even number of values; 0 for an empty range.
float medianFrequency(const RawTrack& raw, int32_t b, int32_t e);

// Largest level of raw[b..e-1]; 0 for an empty range.
int32_t peakLevel(const RawTrack& raw, int32_t b, int32_t e);

// Octave alignment of raw[b..e] (inclusive; indices past the end are skipped). Pitches
// outside note numbers 0..119 take no part.
void alignOctaves(NoteSequence& notes, int32_t b, int32_t e);

// Whether two fractional pitches stand for the same sung note; pitches within the
// quarter-tone zone (0.42..0.59 above a note number) only match each other.
bool sameNote(float x, float y);

// Velocity 61..123 from a note's peak level relative to the loudest frame of the take.
// A take whose loudest level is 0 counts every note as silent (velocity 61).
uint8_t noteVelocity(int32_t peak, int32_t maxLevel);

// Appends the note sung over raw[first..last] at pitch x (frame units).
void addNote(NoteSequence& notes, int32_t first, int32_t last, float x, int32_t peak);

// Segments of a long run: tag = first frame offset in the run, weight = length in frames,
// value = pitch.
void cutIntoSegments(NoteSequence& notes, int32_t b, int32_t a);
void mergeEqualSegments(DynArray<PitchCandidate>& segments);
// Lets segments shorter than kShortFrames be absorbed by their neighbours. True when no
// short segment remains.
bool absorbShortSegments(DynArray<PitchCandidate>& segments);

// Key profile weight of pitch class pc in key k (0..23).
float keyWeight(int32_t pc, int32_t k);
// The key (0..23) that best fits the notes, quarter-tone notes counting for both neighbours.
int32_t chooseKey(const NoteSequence& notes);
// Moves every quarter-tone note to the neighbour that belongs better to the key.
void resolveQuarterTones(NoteSequence& notes, int32_t key);

// Joins adjacent notes that are the same sung note (always run).
void mergeSameNotes(NoteSequence& notes);
// Joins short notes into an adjacent long one ("Merge Short Pitch Deviations").
void mergeShortNotes(NoteSequence& notes);

// Frames to MIDI ticks. A note longer than 32767 ticks is split into equal adjacent notes of
// the same pitch, so the total length is kept.
void convertToTicks(NoteSequence& notes);

// Smallest power-of-two multiple of unit that holds len, or half of it when that is closer.
int32_t quantise(int32_t len, int32_t unit);

// Median of the tags (byTag) or of the weights of a work list: 0 when empty, the value itself
// for one entry.
float scratchMedian(const DynArray<PitchCandidate>& list, bool byTag);

// noteDivision, medianOctave, octaveShift, octaveRoom and SongSettings.suggestedShift from
// the notes in ticks.
void computeSummary(NoteSequence& notes);
