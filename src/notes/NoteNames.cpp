#include "notes/NoteNames.h"

#include <cmath>

int pitchClass(int note)
{
    return (note % 12 + 12) % 12;
}

std::string noteName(int note)
{
    const int octave = (note - pitchClass(note)) / 12;
    return kNoteNames[pitchClass(note)] + std::to_string(octave);
}

int32_t nearestNote(float pitch)
{
    return static_cast<int32_t>(std::ceil(pitch - 0.5f));
}
