#pragma once
// The precise recognition engine: reads a whole take after its input has ended, tracks its
// pitch with probabilistic YIN and its notes with a note-level hidden Markov model, and
// delivers what the classic analyser and recognition deliver: a raw track on the frame
// grid, the notes in MIDI ticks, and the summary values.

#include <cstdint>

#include "notes/Tv2m_data.h"

// Which engine turns a take into notes (the Engine setting).
enum class RecognitionEngine : uint8_t { Classic = 0, Precise = 1 };

// Replaces the raw track and the notes of `notes` with those of the take's samples, in the
// format notes.params.format (8-bit or 16-bit PCM, mono or stereo). Returns false, with an
// empty note list, when no note was found or the format is missing; otherwise fills the
// notes in ticks and the summary, sets `recognised` and returns true.
bool transcribeTake(NoteSequence& notes, const uint8_t* data, uint32_t bytes);
