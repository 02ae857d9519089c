#pragma once
// Pitch names and pitch-class colours shown by the editor, the voice diagram and the
// note label. A pitch shows as its two-character name and note / 12: note 60 is " C5".

#include <cstdint>
#include <string>

inline constexpr const char* kNoteNames[12] = {" C", "C#", " D", "D#", " E", " F",
                                               "F#", " G", "G#", " A", "A#", " B"};

struct NoteColour {
    uint8_t r;
    uint8_t g;
    uint8_t b;
};

inline constexpr NoteColour kNoteColours[12] = {
    {216, 0, 0},     {2, 238, 185},   {255, 9, 255},   {52, 182, 20},   {255, 128, 64}, {73, 28, 255},
    {193, 164, 255}, {255, 255, 153}, {255, 128, 192}, {0, 255, 255},   {255, 204, 51}, {0, 255, 0},
};

// Index into kNoteNames and kNoteColours of a note number (also for negative numbers).
int pitchClass(int note);

// Name and octave of a note number: 60 -> " C5", 61 -> "C#5".
std::string noteName(int note);

// The note nearest to a fractional pitch, as the voice diagram and the note label show it:
// a fraction above 0.5 rounds up, exactly 0.5 rounds down.
int32_t nearestNote(float pitch);
