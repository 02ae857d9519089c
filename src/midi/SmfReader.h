#pragma once
// Reads the notes back from a Standard MIDI File, such as the files the converter writes:
// format 0 or 1, running status, meta and system-exclusive events skipped, each note off
// (or note on with velocity 0) ending the earliest sounding note of its key and channel.

#include <cstdint>
#include <string>
#include <vector>

#include "notes/Tv2m_data.h"

struct SmfNote {
    int64_t start = 0;    // ticks
    int64_t duration = 0; // ticks
    uint8_t note = 0;
    uint8_t velocity = 0;
    uint8_t channel = 0;
};

struct SmfContents {
    uint16_t format = 0;
    uint16_t trackCount = 0;
    uint16_t ticksPerQuarter = 0;
    uint32_t usPerQuarter = 500000; // the first tempo of the file; 120 BPM when it has none
    uint8_t meterNum = 4;           // the first time signature; 4/4 when it has none
    uint8_t meterDen = 4;
    std::vector<SmfNote> notes;     // of every track, by start time (stable)
};

// Parses `bytes`. False, with a one-sentence `error`, for anything that is not a
// Standard MIDI File of format 0 or 1 with a time division in ticks per quarter note.
// A note still sounding at the end of its track ends there.
bool parseMidiFile(const std::vector<uint8_t>& bytes, SmfContents& contents, std::string& error);

// Reads and parses the file at `path`.
bool readMidiFile(const std::string& path, SmfContents& contents, std::string& error);

// The file's notes as a note sequence to play, in start order, the longest split into
// adjacent pieces that fit a note's 16-bit duration; notes beyond the 32-bit tick range
// are left out. Sets the song's ticks per quarter note, tempo (also the record tempo) and
// meter from the file, and no octave shift: the file's notes are already as played. False
// when it has no note.
bool notesFromMidiFile(const SmfContents& contents, NoteSequence& notes, SongSettings& song);
