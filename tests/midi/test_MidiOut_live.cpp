// Live messages of MidiOut on a capture device: the bytes of each message, the echo of
// the sung pitch (rounding, the smoothing curve, missing frames), the metronome, and
// what is dropped while the output is closed or stopped.

#include <gtest/gtest.h>

#include "MidiTestSupport.h"

namespace {

class MidiLiveTest : public MidiTest {
protected:
    CaptureDevice<ManualMidiClock> capture;
    NoteSequence notes;
    MidiOut midi;

    void SetUp() override
    {
        MidiTest::SetUp();
        midi.notes = &notes;
        midi.ringtone = &ringtoneSettings;
        ASSERT_TRUE(midi.open(capture.id()));
        capture.log.clear();
    }

    std::vector<uint32_t> sent()
    {
        std::vector<uint32_t> words;
        for (const CapturedMidiMessage& m : capture.log.messages())
            words.push_back(m.message);
        capture.log.clear();
        return words;
    }

    void addFrame(int32_t frame, float pitch)
    {
        if (!notes.raw)
            notes.raw = std::make_unique<RawTrack>(8);
        notes.raw->append(RawFrame{frame, 0, 0.0f, pitch, 0, nullptr});
    }
};

using Words = std::vector<uint32_t>;

TEST_F(MidiLiveTest, OpeningSetsUpTheMelodyChannel)
{
    midi.close();
    capture.log.clear();
    songSettings.patch = 19;
    songSettings.volume = 77;
    ASSERT_TRUE(midi.open(capture.id()));
    EXPECT_EQ(sent(), (Words{0x0013C0, 0x4D07B0, 0x4000E0, 0x0065B0, 0x0064B0, 0x3C06B0, 0x0026B0}));
    EXPECT_FALSE(midi.stopped);
    EXPECT_EQ(midi.deviceId, capture.id());
    EXPECT_DOUBLE_EQ(midi.ticksPerFrame, 26.88);
    EXPECT_EQ(midi.channelPatch[0], 19);
    EXPECT_EQ(midi.channelVolume[0], 77);
    EXPECT_EQ(midi.channelVolume[5], 100);
}

TEST_F(MidiLiveTest, BendRangeAndCentring)
{
    midi.setBendRange(0, 60);
    EXPECT_EQ(sent(), (Words{0x0065B0, 0x0064B0, 0x3C06B0, 0x0026B0}));
    EXPECT_EQ(midi.bendRange, 60);
    EXPECT_NEAR(midi.bendUnitsPerSemitone, 136.53f, 0.01f);

    midi.bendOffset = 2.0f;
    midi.centreBend(0);
    EXPECT_EQ(sent(), (Words{0x4000E0}));
    EXPECT_FLOAT_EQ(midi.bendOffset, 0.0f);
}

TEST_F(MidiLiveTest, EchoNoteRoundsHalfUp)
{
    midi.echoNoteOn(61.5f, 105, 0);
    midi.echoNoteOn(61.49f, 105, 0);
    EXPECT_EQ(sent(), (Words{0x693E90, 0x693D90}));
    EXPECT_FLOAT_EQ(midi.echoNote, 61.0f);
    EXPECT_TRUE(midi.echoSounding);
}

TEST_F(MidiLiveTest, EchoBendFollowsTheSmoothingCurve)
{
    midi.echoNoteOn(60.0f, 105, 0);
    sent();
    midi.bendTo(60.05f, 0); // under a tenth of a semitone: no move
    EXPECT_FLOAT_EQ(midi.bendOffset, 0.0f);
    midi.bendTo(61.25f, 0); // one semitone plus the curve's entry for 0.2
    EXPECT_FLOAT_EQ(midi.bendOffset, 1.055f);
    const int32_t bend = static_cast<int32_t>(1.055f * midi.bendUnitsPerSemitone + 8192.0f);
    EXPECT_EQ(sent(), (Words{0x4000E0, static_cast<uint32_t>(0xE0 | (bend & 0x7F) << 8 | (bend >> 7) << 16)}));

    midi.bendTo(60.0f, 0); // 1.055 down: one semitone plus 0.0 of the curve's first tenth
    EXPECT_NEAR(midi.bendOffset, 0.055f, 1e-6f);
}

TEST_F(MidiLiveTest, EchoToleratesOneMissingFrameAndEndsAfterTwo)
{
    addFrame(5, 60.25f);
    midi.echoFrame(5); // note 60, bent by the curve's 0.055 for a quarter semitone: 8199
    EXPECT_EQ(sent(), (Words{0x693C90, 0x4007E0}));
    EXPECT_TRUE(midi.echoSounding);

    midi.echoFrame(6); // one frame without a voiced frame: nothing changes
    EXPECT_TRUE(sent().empty());
    EXPECT_TRUE(midi.echoSounding);

    midi.echoFrame(7); // two: the echo ends
    EXPECT_EQ(sent(), (Words{0x403C80, 0x4000E0}));
    EXPECT_FALSE(midi.echoSounding);

    addFrame(8, 64.0f); // the next voiced frame starts a new echo note
    midi.echoFrame(8);
    const Words words = sent();
    ASSERT_EQ(words.size(), 2u);
    EXPECT_EQ(words[0], 0x694090u);
}

TEST_F(MidiLiveTest, EchoFollowsTheOctaveShiftAndIgnoresATakeWithoutFrames)
{
    midi.echoFrame(0);
    EXPECT_TRUE(sent().empty());
    songSettings.octaveShift = -1;
    addFrame(3, 69.0f);
    midi.echoFrame(3);
    EXPECT_EQ(sent().front(), 0x693990u); // note 57
}

TEST_F(MidiLiveTest, MetronomeClicksOnThePercussionChannel)
{
    midi.click(70, 100, kPercussionChannel);
    midi.setVolume(kPercussionChannel, 60);
    EXPECT_EQ(sent(), (Words{0x644699, 0x3C07B9}));
    EXPECT_EQ(midi.channelVolume[9], 60);
    EXPECT_EQ(songSettings.volume, 100); // only channel 0 is the song's volume
}

TEST_F(MidiLiveTest, NothingIsSentWhileClosedAndOnlySetUpWhileStopped)
{
    midi.stopped = true;
    midi.click(37, 100, kPercussionChannel);
    midi.echoNoteOn(60.0f, 105, 0);
    midi.noteOff(60, 64, 0);
    midi.centreBend(0);
    midi.bendTo(62.0f, 0);
    EXPECT_TRUE(sent().empty());
    midi.setVolume(0, 90); // set-up messages still go out
    EXPECT_EQ(sent(), (Words{0x5A07B0}));

    midi.close();
    EXPECT_FALSE(midi.isOpen);
    EXPECT_TRUE(midi.stopped);
    capture.log.clear();
    midi.stopped = false;
    midi.click(37, 100, kPercussionChannel);
    midi.setVolume(0, 90);
    midi.sendShort(0x90, 60, 100);
    EXPECT_TRUE(capture.log.messages().empty());
    EXPECT_EQ(midi.position(), 0);
}

TEST_F(MidiLiveTest, AuditionOpensTheOutputWhenNeeded)
{
    midi.close();
    capture.log.clear();
    midi.auditionNote(64, 100, 0);
    EXPECT_TRUE(midi.isOpen);
    const Words words = sent();
    ASSERT_EQ(words.size(), kSetupMessages + 1);
    EXPECT_EQ(words.back(), 0x644090u);
    midi.auditionNote(64, 0, 0);
    EXPECT_EQ(sent(), (Words{0x004090}));
}

TEST_F(MidiLiveTest, PatchTargetsTheSongOrTheRingtone)
{
    midi.setPatch(0, 40, 0);
    midi.setPatch(0, 41, 1); // a ringtone program is only sent while the ringtone plays
    EXPECT_EQ(sent(), (Words{0x0028C0}));
    EXPECT_EQ(songSettings.patch, 40);
    EXPECT_EQ(ringtoneSettings.patch, 41);

    midi.playKind = PlayRingtone;
    midi.setPatch(1, 42, 2);
    midi.setPatch(0, 43, 0);
    EXPECT_EQ(sent(), (Words{0x002AC1}));
    EXPECT_EQ(ringtoneSettings.patch2, 42);
    EXPECT_EQ(songSettings.patch, 43);
}

TEST_F(MidiLiveTest, TempoAndTimeDivision)
{
    EXPECT_EQ(midi.setTempo(60), 1000000);
    EXPECT_FLOAT_EQ(midi.msPerFrame, 56.0f);
    EXPECT_EQ(songSettings.tempo, 60);
    EXPECT_EQ(midi.setTempo(0), 1000000);

    midi.playKind = PlayRingtone; // the ringtone's tempo is not the song's
    EXPECT_EQ(midi.setTempo(125), 480000);
    EXPECT_EQ(songSettings.tempo, 60);

    EXPECT_EQ(midi.setTimeDivision(0), 480);
    EXPECT_EQ(midi.setTimeDivision(960), 960);
    EXPECT_EQ(songSettings.tpqn, 960);
    EXPECT_DOUBLE_EQ(midi.ticksPerFrame, 26.88); // recomputed only at the next open or playback
    midi.updateTicksPerFrame();
    EXPECT_DOUBLE_EQ(midi.ticksPerFrame, 53.76);

    // With a take, a frame lasts its chunk of the take's format: 618 / 22050 s.
    notes.params.format = &kMicrophoneFormat;
    midi.close();
    midi.updateTicksPerFrame();
    EXPECT_DOUBLE_EQ(midi.ticksPerFrame, 120.0 * 960 * 618 / (60 * 22050));
    EXPECT_FLOAT_EQ(midi.msPerFrame, 618 * 1000.0f / 22050);
    midi.setTempo(240);
    EXPECT_FLOAT_EQ(midi.msPerFrame, 0.5f * 618 * 1000.0f / 22050);
}

TEST(MidiOutOpen, AFailedOpenIsSilentAndLaterMessagesAreDropped)
{
    uint32_t unknown = 0;
    {
        CaptureDevice<ManualMidiClock> gone;
        unknown = gone.id();
    }
    MidiOut midi;
    EXPECT_FALSE(midi.open(unknown));
    EXPECT_FALSE(midi.isOpen);
    EXPECT_NO_THROW(midi.sendShort(0x90, 60, 100));
    EXPECT_NO_THROW(midi.auditionNote(60, 100, 0));
}

} // namespace
