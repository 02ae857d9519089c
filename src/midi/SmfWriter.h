#pragma once
// Standard MIDI Files of a take: format 1 with a tempo track and one melody track, in
// the song's ticks per quarter note, and the atomic writing of any output file.

#include <cstdint>
#include <string>
#include <vector>

#include "notes/Tv2m_data.h"

// The recognised notes at their exact tick positions and lengths. The melody track
// starts with its name, the program and the main volume; a note ends with a note off
// (0x80) of velocity 0, as in playback.
std::vector<uint8_t> buildNotesMidiFile(const NoteSequence& notes, const SongSettings& song);

// A score of the notes for an accompaniment program: as buildNotesMidiFile, with the
// song's meter as the time signature and the notes moved so that the first one starts at
// `firstNoteTick` (0, or the length of a leading rest).
std::vector<uint8_t> buildScoreMidiFile(const NoteSequence& notes, const SongSettings& song, int32_t firstNoteTick);

// The raw pitch track as the raw playback plays it: a pitch-bend range of 60 semitones,
// then the playback events, and a note off closing the last run.
std::vector<uint8_t> buildRawMidiFile(const RawTrack& raw, const SongSettings& song, double ticksPerFrame);

// Writes `bytes` to `path` under a temporary name in the same folder, syncs it and
// renames it over `path`. On failure returns false with a one-sentence `error` and
// leaves nothing behind (an existing file stays as it was).
bool writeFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error);
