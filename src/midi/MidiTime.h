#pragma once
// The program's time units: analysis frames of one audio chunk (about 28 ms), MIDI ticks
// at SongSettings.tpqn ticks per quarter note, tempos in beats per minute, and the
// bar:beat:tick text.

#include <cstdint>
#include <string>

#include "notes/Tv2m_data.h"

// The ringtone tempos in beats per minute, indexed by RingtoneSettings.tempoIndex.
inline constexpr int32_t kRingtoneTempos[32] = {25,  28,  31,  35,  40,  45,  50,  56,  63,  70,  80,
                                                90,  100, 112, 125, 140, 160, 180, 200, 225, 250, 285,
                                                320, 355, 400, 450, 500, 565, 635, 715, 800, 900};

// The frame duration of the take whose raw track `notes` holds (its analysis format).
FrameDuration takeFrameDuration(const NoteSequence& notes);

// MIDI ticks in one recorded analysis frame: recordTempo x tpqn x frame seconds / 60
// (26.906 at 120 BPM, 480 ticks per quarter note and the microphone format).
double midiTicksPerFrame(const SongSettings& song, FrameDuration frame);

// Microseconds per quarter note at `tempo` BPM (integer division); 500000 (120 BPM)
// for a tempo that is not positive.
int32_t usPerQuarter(int tempo);

// Real milliseconds that one recorded frame lasts when played at `tempo`; the frame's
// own duration for a tempo that is not positive.
float msPerFrame(int recordTempo, int tempo, FrameDuration frame);

// A tick position (base 1) or length (base 0) as "bar:beat:tick", e.g. "02:01:080".
// A meter without whole ticks per beat shows every tick in the first beat.
std::string formatBarBeatTick(int32_t ticks, int32_t tpqn, int num, int den, int base);
