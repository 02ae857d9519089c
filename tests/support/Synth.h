#pragma once
// Hummed test melodies: harmonic tones with vibrato, soft edges and short gaps, as 16-bit
// PCM. Shared by tests and benchmarks; deterministic.

#include <cmath>
#include <cstdint>
#include <vector>

namespace synth {

struct Note {
    int midi;       // MIDI note number; 0 = a rest
    double seconds;
};

inline double midiToHertz(double note)
{
    return 440.0 * std::pow(2.0, (note - 69.0) / 12.0);
}

// Appends one hummed note (or a rest) to `out` at `rate` Hz.
inline void appendNote(std::vector<int16_t>& out, const Note& note, int rate, double vibratoCents = 25.0,
                       double amplitude = 9000.0)
{
    const int count = static_cast<int>(note.seconds * rate);
    const double harmonics[] = {1.0, 0.55, 0.3, 0.18, 0.1};
    const double base = note.midi > 0 ? midiToHertz(note.midi) : 0.0;
    double phase = 0.0;
    for (int i = 0; i < count; ++i) {
        const double t = static_cast<double>(i) / rate;
        if (note.midi <= 0) {
            out.push_back(0);
            continue;
        }
        const double cents = vibratoCents * std::sin(2.0 * M_PI * 5.5 * t);
        phase += 2.0 * M_PI * base * std::pow(2.0, cents / 1200.0) / rate;
        double value = 0.0;
        for (int k = 0; k < 5; ++k)
            value += harmonics[k] * std::sin((k + 1) * phase);
        const double envelope = std::fmin(1.0, std::fmin(t / 0.04, (note.seconds - t) / 0.05));
        out.push_back(static_cast<int16_t>(std::lround(amplitude * envelope * value / 2.13 * 2.0)));
    }
}

// A melody with a 70 ms gap after every note.
inline std::vector<int16_t> melody(const std::vector<Note>& notes, int rate)
{
    std::vector<int16_t> out;
    for (const Note& n : notes) {
        appendNote(out, n, rate);
        appendNote(out, Note{0, 0.07}, rate);
    }
    return out;
}

// A melody of about `seconds` seconds, cycling through a simple tune.
inline std::vector<int16_t> longMelody(double seconds, int rate)
{
    const std::vector<Note> tune = {{55, 0.45}, {57, 0.3}, {59, 0.45}, {62, 0.6},
                                    {64, 0.3},  {62, 0.45}, {60, 0.3}, {59, 0.9}};
    std::vector<Note> notes;
    double total = 0.0;
    for (size_t i = 0; total < seconds; ++i) {
        notes.push_back(tune[i % tune.size()]);
        total += tune[i % tune.size()].seconds + 0.07;
    }
    return melody(notes, rate);
}

} // namespace synth
