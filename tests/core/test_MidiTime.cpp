#include "midi/MidiTime.h"

#include <gtest/gtest.h>

#include "notes/NoteNames.h"

namespace {

TEST(MidiTime, TicksTempoAndFrameLength)
{
    SongSettings song;
    const FrameDuration nominal; // no take yet: 28 ms
    EXPECT_NEAR(midiTicksPerFrame(song, nominal), 26.88, 1e-12);
    song.recordTempo = 90;
    song.tpqn = 96;
    EXPECT_NEAR(midiTicksPerFrame(song, nominal), 4.032, 1e-12);

    EXPECT_EQ(usPerQuarter(120), 500000);
    EXPECT_EQ(usPerQuarter(60), 1000000);
    EXPECT_EQ(usPerQuarter(7), 8571428);
    EXPECT_EQ(usPerQuarter(0), 500000);

    EXPECT_EQ(msPerFrame(120, 60, nominal), 56.0f);
    EXPECT_EQ(msPerFrame(120, 120, nominal), 28.0f);
    EXPECT_EQ(msPerFrame(120, 0, nominal), 28.0f);

    EXPECT_EQ(kRingtoneTempos[0], 25);
    EXPECT_EQ(kRingtoneTempos[14], 125);
    EXPECT_EQ(kRingtoneTempos[31], 900);
}

// A frame lasts its chunk's whole sample frames, not 28 ms: over a minute the difference
// is 58 ms at 22050 Hz and 268 ms at 8000 Hz.
TEST(MidiTime, FramesLastTheirChunkOfSamples)
{
    const FrameDuration mic = frameDuration(kMicrophoneFormat);
    EXPECT_EQ(mic.samples, 618u);
    EXPECT_EQ(mic.rate, 22050u);
    const FrameDuration low = frameDuration(WAVEFORMATEX{WAVE_FORMAT_PCM, 2, 8000, 16000, 2, 8, 0});
    EXPECT_EQ(low.samples, 225u);
    EXPECT_DOUBLE_EQ(low.milliseconds(), 28.125);
    EXPECT_EQ(frameDuration(WAVEFORMATEX{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0}).samples, 1235u);
    EXPECT_EQ(frameDuration(WAVEFORMATEX{}).milliseconds(), 28.0);

    SongSettings song;
    EXPECT_DOUBLE_EQ(midiTicksPerFrame(song, mic), 57600.0 * 618 / (60 * 22050)); // 26.906
    EXPECT_DOUBLE_EQ(midiTicksPerFrame(song, low), 27.0);
    EXPECT_EQ(msPerFrame(120, 60, mic), static_cast<float>(2 * 618 * 1000.0 / 22050));
    EXPECT_EQ(msPerFrame(120, 0, low), 28.125f);

    // Recognition and the player take the frame from the take's analysis format.
    NoteSequence notes;
    EXPECT_EQ(takeFrameDuration(notes).milliseconds(), 28.0);
    notes.params.format = &kMicrophoneFormat;
    EXPECT_EQ(takeFrameDuration(notes).samples, 618u);
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
