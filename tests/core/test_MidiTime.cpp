#include "midi/MidiTime.h"

#include <gtest/gtest.h>

#include "notes/NoteNames.h"

namespace {

TEST(MidiTime, TicksTempoAndFrameLength)
{
    SongSettings song;
    EXPECT_EQ(midiTicksPerFrame(song), 1612800 * (1.0 / 60000));
    EXPECT_NEAR(midiTicksPerFrame(song), 26.88, 1e-12);
    song.recordTempo = 90;
    song.tpqn = 96;
    EXPECT_NEAR(midiTicksPerFrame(song), 4.032, 1e-12);

    EXPECT_EQ(usPerQuarter(120), 500000);
    EXPECT_EQ(usPerQuarter(60), 1000000);
    EXPECT_EQ(usPerQuarter(7), 8571428);
    EXPECT_EQ(usPerQuarter(0), 500000);

    EXPECT_EQ(msPerFrame(120, 60), 56.0f);
    EXPECT_EQ(msPerFrame(120, 120), 28.0f);
    EXPECT_EQ(msPerFrame(120, 0), 28.0f);

    EXPECT_EQ(kRingtoneTempos[0], 25);
    EXPECT_EQ(kRingtoneTempos[14], 125);
    EXPECT_EQ(kRingtoneTempos[31], 900);
}

TEST(MidiTime, BarBeatTickText)
{
    EXPECT_EQ(formatBarBeatTick(2000, 480, 4, 4, 1), "02:01:080");
    EXPECT_EQ(formatBarBeatTick(2000, 480, 4, 4, 0), "01:00:080");
    EXPECT_EQ(formatBarBeatTick(0, 480, 4, 4, 1), "01:01:000");
    EXPECT_EQ(formatBarBeatTick(250, 480, 6, 8, 1), "01:02:010") << "a beat of 6/8 is 240 ticks";
    EXPECT_EQ(formatBarBeatTick(1440, 480, 6, 8, 1), "02:01:000");
    EXPECT_EQ(formatBarBeatTick(123456, 480, 4, 4, 1), "65:02:096");
    EXPECT_EQ(formatBarBeatTick(250, 480, 4, 0, 1), "01:01:250");
    EXPECT_EQ(formatBarBeatTick(250, 480, 0, 4, 1), "01:01:250");
    EXPECT_EQ(formatBarBeatTick(250, 0, 4, 4, 1), "01:01:250");
}

TEST(NoteNames, NameAndOctave)
{
    EXPECT_EQ(noteName(60), " C5");
    EXPECT_EQ(noteName(61), "C#5");
    EXPECT_EQ(noteName(69), " A5");
    EXPECT_EQ(noteName(0), " C0");
    EXPECT_EQ(noteName(127), " G10");
    EXPECT_EQ(noteName(-1), " B-1");
    EXPECT_EQ(kNoteColours[pitchClass(61)].g, 238);
    EXPECT_EQ(kNoteColours[pitchClass(-1)].g, 255);
}

} // namespace
