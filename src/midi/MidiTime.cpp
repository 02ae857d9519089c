#include "midi/MidiTime.h"

#include <cstdio>

FrameDuration takeFrameDuration(const NoteSequence& notes)
{
    return notes.params.format != nullptr ? frameDuration(*notes.params.format) : FrameDuration{};
}

double midiTicksPerFrame(const SongSettings& song, FrameDuration frame)
{
    const int64_t ticksPerMinute = static_cast<int64_t>(song.recordTempo) * song.tpqn;
    return static_cast<double>(ticksPerMinute) * frame.samples / (60.0 * frame.rate);
}

int32_t usPerQuarter(int tempo)
{
    if (tempo <= 0)
        return 500000;
    return 60000000 / tempo;
}

float msPerFrame(int recordTempo, int tempo, FrameDuration frame)
{
    if (tempo <= 0)
        return static_cast<float>(frame.milliseconds());
    return static_cast<float>(static_cast<double>(recordTempo) * frame.milliseconds() / tempo);
}

std::string formatBarBeatTick(int32_t ticks, int32_t tpqn, int num, int den, int base)
{
    const int64_t beatTicks = den != 0 ? static_cast<int64_t>(tpqn) * 4 / den : 0;
    const int64_t barTicks = num * beatTicks;
    int64_t bar = base;
    int64_t beat = base;
    int64_t tick = ticks;
    if (beatTicks > 0 && barTicks > 0) {
        bar = ticks / barTicks + base;
        beat = ticks % barTicks / beatTicks + base;
        tick = ticks % barTicks % beatTicks;
    }
    char text[48];
    std::snprintf(text, sizeof text, "%.2d:%.2d:%.3d", static_cast<int>(bar), static_cast<int>(beat),
                  static_cast<int>(tick));
    return text;
}
