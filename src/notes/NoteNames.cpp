#include "notes/NoteNames.h"

int pitchClass(int note)
{
    return (note % 12 + 12) % 12;
}

std::string noteName(int note)
{
    const int octave = (note - pitchClass(note)) / 12;
    return kNoteNames[pitchClass(note)] + std::to_string(octave);
}
