#pragma once
// The event lists of the three kinds of playback. An event is three 32-bit words: the
// delta time in ticks since the previous event, the stream id 0, and a short message
// (status | data 1 << 8 | data 2 << 16). The MIDI stream player plays these lists and the
// Standard MIDI File writer turns them into files.

#include <cstdint>

#include "notes/DynArray.h"
#include "notes/Tv2m_data.h"

enum PlayKind : uint8_t { PlayNotes = 1, PlayRaw = 2, PlayRingtone = 3 };

using EventList = DynArray<uint32_t>;

constexpr int32_t kEventWords = 3;
constexpr int32_t kEventListInitialWords = 32;

constexpr uint8_t kNoteOffStatus = 0x80;
constexpr uint8_t kNoteOnStatus = 0x90;
constexpr uint8_t kControllerStatus = 0xB0;
constexpr uint8_t kProgramChangeStatus = 0xC0;
constexpr uint8_t kPitchBendStatus = 0xE0;

constexpr uint8_t kPlayVelocity = 105;    // note on of the raw and ringtone kinds
constexpr uint8_t kReleaseVelocity = 64;  // their note off
constexpr int32_t kBendCentre = 8192;
constexpr int32_t kPlaybackBendRange = 60;        // semitones, set up on the melody channel
constexpr double kPlaybackBendUnitsPerSemitone = 136.0;

// The largest delta time a list carries (the largest a MIDI file can hold).
constexpr uint32_t kMaxDeltaTicks = 0x0FFFFFFF;

uint32_t shortMessage(uint8_t status, uint8_t data1, uint8_t data2);

// A note number held to the MIDI range 0..127.
uint8_t clampNote(int32_t note);

// The played note of a recognised note: the note moved by the song's octave shift.
uint8_t shiftedNote(uint8_t note, const SongSettings& song);

// The melody channel 0..15.
uint8_t melodyChannel(const SongSettings& song);

// Each builder appends the events of one kind of playback to `events`, giving an empty
// list its initial storage first. When memory runs out the builder stops and
// `events.error` is set.

// The recognised notes, one after another; each delta counts from the end of the
// previous note. A note that starts before the previous one ends starts at that end.
// `lastNote`, when given, receives the last note number sounded.
void buildNoteEvents(const NoteSequence& notes, const SongSettings& song, EventList& events, float* lastNote = nullptr);

// The raw pitch track: a note at the start of each run of consecutive frames, gliding
// with pitch bends (136 units a semitone) to each frame's pitch, ended with velocity 64
// when the run breaks. The last run has no note off.
void buildRawEvents(const RawTrack& raw, const SongSettings& song, double ticksPerFrame, EventList& events);

// The notes re-timed in ringtone note values: lengths and rests are powers of two times
// a 64th note; only the first note keeps its start time. Builds nothing without notes.
void buildRingtoneEvents(const NoteSequence& notes, const SongSettings& song, const RingtoneSettings& ringtone,
                         EventList& events);

struct RingtoneSplit {
    int16_t len;
    int16_t rest;
};

// The ringtone note value for `d` ticks: `unit` doubled until it reaches d, halved back
// when that overshoots d by more than one unit.
int16_t ringtoneLength(int32_t d, int32_t unit);

// Length and following rest of a ringtone note of `dur` ticks whose successor starts
// `gap` ticks after it (gap 0 for the last note). A silence of at most one unit is
// absorbed into the note; a rest of at most one unit is dropped.
RingtoneSplit splitRingtoneNote(int16_t dur, int16_t gap, int32_t unit);
