#pragma once
// The ringtone vocabulary (RTTTL durations, octaves, note names, styles and the tempos of
// MidiTime.h), the ringtone defaults made from a recognition, the melody package that
// carries the notes to the online ringtone service, the melody fields of its request, and
// the melody as an RTTTL ringtone text ("name:d=8,o=5,b=125,s=n,l=0:8c,4d#6,16p,...").

#include <cstdint>
#include <string>
#include <vector>

#include "midi/MidiTime.h"
#include "notes/Tv2m_data.h"

inline constexpr int32_t kRingtoneDurations[6] = {1, 2, 4, 8, 16, 32};
inline constexpr int32_t kRingtoneOctaves[4] = {4, 5, 6, 7};
inline constexpr const char* kRingtoneNoteNames[12] = {"c",  "c#", "d",  "d#", "e",  "f",
                                                       "f#", "g",  "g#", "a",  "a#", "b"};
inline constexpr char kRingtoneStyles[3] = {'n', 'c', 's'};

inline constexpr int kRingtoneTempoCount = 32;
inline constexpr int kDefaultRingtoneTempoIndex = 14; // 125 beats per minute
inline const std::string kDefaultSongName = "melody";

// The RTTTL defaults section as the export dialog holds it.
struct RingtoneDefaults {
    int16_t durationIndex = 0; // into kRingtoneDurations
    int16_t octaveIndex = 0;   // octave - 4; not limited above
    int16_t tempo = 125;       // beats per minute
    int16_t styleIndex = 0;    // into kRingtoneStyles
    int16_t loop = 0;
};

// The defaults of a fresh recognition: the default duration from the note division (a
// division of 64 or more gives the shortest duration, 32), the octave from the median
// octave and the octave shift, the tempo of the ringtone tempo index.
RingtoneDefaults RingtoneFromRecognition(const RingtoneSettings& ringtone);

// The tempo bar moved to `position` (0..31, held to that range): the ringtone's tempo
// index and the defaults' tempo follow it. Returns the new tempo in beats per minute.
int32_t applyRingtoneTempo(int position, RingtoneSettings& ringtone, RingtoneDefaults& defaults);

// The index of the ringtone tempo nearest to `bpm` (the lower one of two as near).
uint8_t nearestRingtoneTempoIndex(int bpm);

// "d=%d,o=%d,b=%d,s=%c,l=%d", e.g. "d=8,o=5,b=125,s=n,l=0".
std::string ringtoneDefaultsText(const RingtoneDefaults& defaults);

// The digits of the "&dfs=" field: duration index, octave index, the tempo in three
// digits, style index, the loop in two digits, then the number of notes (2112500023).
std::string ringtoneDefaultsDigits(const RingtoneDefaults& defaults, int32_t noteCount);

// The melody package, 40 + 6 x notes bytes, little-endian: the song settings block, the
// ringtone settings block and, per note, the gap since the previous note's end (low 16
// bits), the duration, the note and the velocity.
std::vector<uint8_t> MelodyPackage(const NoteSequence& notes, const SongSettings& song,
                                   const RingtoneSettings& ringtone);

// The four melody fields of a ringtone request, each with its "&key=" in front.
struct MelodyFields {
    std::string song;    // "&song=" + the song name
    std::string usedtnt; // "&usedtnt=1" or "&usedtnt=0"
    std::string dfs;     // "&dfs=" + the defaults digits
    std::string mps;     // "&mps=" + the base64 melody package, "=" appended after an odd number of line breaks
};

// The melody fields for `notes`; false, with `fields` untouched, when there is no note.
// The song name goes in as `songValue` gives it (the request builder makes it safe).
bool BuildMelodyFields(const NoteSequence* notes, const std::string& songValue, bool useDottedNotes,
                       const RingtoneDefaults& defaults, const SongSettings& song,
                       const RingtoneSettings& ringtone, MelodyFields& fields);

// A song name usable in an RTTTL text: without ':' ',' and control characters and
// without leading and trailing spaces; "melody" when nothing is left.
std::string rtttlName(const std::string& name);

// The melody as an RTTTL ringtone text: the name, the defaults section (its octave held
// to the ringtone octaves 4..7) and the notes separated by commas, each
// [duration]name[octave] with the duration and octave left out when they are the
// defaults'. The pitches are the notes moved by the ringtone's octave shift and folded
// into octaves 4..7 (note 60 is c5, as the program names it); the lengths and rests
// are the ringtone note values of the ringtone preview, longer ones made of whole notes
// and shorter ones played as 32nds. Silence before the first note is left out. Empty
// when there is no note.
std::string rtttlText(const NoteSequence& notes, const SongSettings& song, const RingtoneSettings& ringtone,
                      const RingtoneDefaults& defaults, const std::string& name);
