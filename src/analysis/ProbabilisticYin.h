#pragma once
// Probabilistic YIN: a pitch track of a whole recording at a hop of about 11.6 ms. Each
// frame's cumulative mean normalised difference function is read at many thresholds,
// weighted by a prior over the threshold, which gives pitch candidates with probabilities
// (their sum is the frame's voicing probability); a hidden Markov model over pitch bins
// and voicing, decoded with Viterbi, then picks one smooth path through the candidates.

#include <cstdint>
#include <vector>

// One analysis frame of the track.
struct PitchFrame {
    float hertz = 0;             // 0 when the decoded path is unvoiced here
    float pitch = 0;             // fractional MIDI note number of `hertz`, 0 when unvoiced
    float voicedProbability = 0; // sum of the candidates' probabilities
    float level = 0;             // peak-to-peak amplitude of a sine of the frame's RMS (full scale 2)
};

struct PitchTrack {
    double hopSeconds = 0;   // frame k is centred at (k + 0.5) * hopSeconds
    std::vector<PitchFrame> frames;
};

// `samples` are mono samples in [-1, 1] at `rate` Hz (at least 4000).
// Frequencies from 55 Hz up to 1100 Hz are tracked.
PitchTrack trackPitch(const std::vector<float>& samples, double rate);
