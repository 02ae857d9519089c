#include "midi/MidiTime.h"

#include <cstdio>

double midiTicksPerFrame(const SongSettings& song)
{
    // An integer product times the real constant 1/60000, as the player has always
    // computed it, so that tick positions match to the last bit.
    const int64_t product = static_cast<int64_t>(song.recordTempo) * song.tpqn * 28;
    return static_cast<double>(product) * (1.0 / 60000);
}

int32_t usPerQuarter(int tempo)
{
    if (tempo <= 0)
        return 500000;
    return 60000000 / tempo;
}

float msPerFrame(int recordTempo, int tempo)
{
    if (tempo <= 0)
        return 28.0f;
    return static_cast<float>(static_cast<double>(recordTempo) * 28 / tempo);
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
