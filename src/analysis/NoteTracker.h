#pragma once
// Notes from a pitch track: a hidden Markov model with an attack, a stable and a silent
// state per semitone, decoded with Viterbi. Pitches are judged against the singer's local
// tuning (a circular mean of the pitch over a few seconds), so a singer who drifts keeps
// singing the same notes; dips of the level mark new syllables, which lets a repeated note
// start again.

#include <vector>

#include "analysis/ProbabilisticYin.h"

struct TrackedNote {
    double startSeconds = 0;
    double endSeconds = 0;
    int note = 0;     // MIDI note number in the singer's tuning (it may be more than half a semitone off)
    float pitch = 0;  // median sung pitch (fractional MIDI note number)
    float peakLevel = 0;
};

std::vector<TrackedNote> trackNotes(const PitchTrack& track);

// The singer's tuning at each frame: how far (in semitones) the voiced pitches around it
// lie from the equal-tempered notes of A = 440 Hz. It starts within half a semitone and
// then follows the singer's drift without jumps.
std::vector<float> localTuning(const PitchTrack& track);
