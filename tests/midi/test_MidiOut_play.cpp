// Playback through MidiOut and its player thread on a capture device: the streamed
// events of the three kinds with their exact tick times, lists longer than one buffer,
// tempo changes, position, stop, an empty list and a device that cannot be opened.

#include <gtest/gtest.h>

#include "MidiTestSupport.h"

namespace {

constexpr uint8_t kNoteOn = 0x90;
constexpr uint8_t kNoteOff = 0x80;
constexpr uint8_t kBend = 0xE0;

void addNote(NoteSequence& notes, int32_t start, int16_t duration, uint8_t note, uint8_t velocity = 100)
{
    notes.append(NoteEvent{start, duration, note, velocity, 0});
}

void addFrame(RawTrack& raw, int32_t frame, float pitch)
{
    raw.append(RawFrame{frame, 0, 0.0f, pitch, 0, nullptr});
}

void expectEvents(const std::vector<TickedEvent>& actual, const std::vector<TickedEvent>& expected)
{
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(actual[i].tick, expected[i].tick) << "event " << i;
        EXPECT_EQ(actual[i].status, expected[i].status) << "event " << i;
        EXPECT_EQ(actual[i].data1, expected[i].data1) << "event " << i;
        EXPECT_EQ(actual[i].data2, expected[i].data2) << "event " << i;
    }
}

// Each playback here runs on a clock that jumps from event to event, so it ends at once
// and every message carries its exact time.
class MidiPlayTest : public MidiTest {
protected:
    CaptureDevice<FastForwardMidiClock> capture;
    MessageQueue window;
    NoteSequence notes;
    MidiOut midi;

    void SetUp() override
    {
        MidiTest::SetUp();
        midi.notes = &notes;
        midi.ringtone = &ringtoneSettings;
        midi.notifyWindow = &window;
        midi.deviceId = capture.id();
    }

    void playToEnd(const PlayList& list, PlayKind kind)
    {
        startPlayer(midi, list, kind);
        ASSERT_TRUE(waitForEnd(window));
        EXPECT_EQ(countEndMessages(window, std::chrono::milliseconds(50)), 0);
        EXPECT_FALSE(midi.isOpen);
        EXPECT_FALSE(midi.isPlaying);
        EXPECT_EQ(midi.stream.load(), nullptr);
        EXPECT_EQ(midi.playerThread.load(), nullptr);
        EXPECT_TRUE(soundingNotes(capture.log.messages()).empty());
    }
};

TEST_F(MidiPlayTest, NotesPlayOneAfterAnotherAfterTheChannelSetUp)
{
    songSettings.patch = 73;
    songSettings.volume = 90;
    addNote(notes, 0, 480, 60, 100);
    addNote(notes, 480, 240, 62, 90);
    addNote(notes, 1200, 480, 64, 80); // a rest of 480 ticks before it
    playToEnd(&notes, PlayNotes);

    const auto log = capture.log.messages();
    ASSERT_GT(log.size(), kSetupMessages);
    const std::vector<uint32_t> setup = {0x0049C0, 0x5A07B0, 0x4000E0, 0x0065B0, 0x0064B0, 0x3C06B0, 0x0026B0};
    for (size_t i = 0; i < setup.size(); ++i)
        EXPECT_EQ(log[i].message, setup[i]) << "set-up message " << i;
    EXPECT_EQ(midi.usPerQuarter, 500000);

    expectEvents(streamedEvents(log, kSetupMessages, 500000, 480), {{0, kNoteOn, 60, 100},
                                                                   {480, kNoteOff, 60, 0},
                                                                   {480, kNoteOn, 62, 90},
                                                                   {720, kNoteOff, 62, 0},
                                                                   {1200, kNoteOn, 64, 80},
                                                                   {1680, kNoteOff, 64, 0}});
}

TEST_F(MidiPlayTest, RawFramesGlideWithBendsAndABrokenRunStartsANewNote)
{
    notes.raw = std::make_unique<RawTrack>(8);
    addFrame(*notes.raw, 10, 60.5f);
    addFrame(*notes.raw, 11, 61.0f);
    addFrame(*notes.raw, 12, 61.5f);
    addFrame(*notes.raw, 20, 57.25f);
    playToEnd(notes.raw.get(), PlayRaw);
    EXPECT_DOUBLE_EQ(midi.ticksPerFrame, 26.88);

    // 26.88 ticks a frame: the run starts at trunc(10 x 26.88) = 268, each next frame is
    // 26 ticks later, and the new run 8 frames on is trunc(8 x 26.88) = 215 ticks later.
    // Bends are trunc(offset x 136 + 8192): 8260 = 0x44 | 64 << 7.
    expectEvents(streamedEvents(capture.log.messages(), kSetupMessages, 500000, 480),
                 {{268, kNoteOn, 60, 105},
                  {268, kBend, 8260 & 0x7F, 8260 >> 7},
                  {294, kBend, 8328 & 0x7F, 8328 >> 7},
                  {320, kBend, 8396 & 0x7F, 8396 >> 7},
                  {320, kNoteOff, 60, 64},
                  {535, kNoteOn, 57, 105},
                  {535, kBend, 8226 & 0x7F, 8226 >> 7}});
}

TEST_F(MidiPlayTest, RingtoneIsRetimedInNoteValuesAtTheRingtoneTempoAndKeepsTheSongTempo)
{
    ringtoneSettings.tempoIndex = 14; // 125 BPM
    ringtoneSettings.patch = 73;
    ringtoneSettings.patch2 = 40;
    addNote(notes, 0, 100, 40);     // raised to 52
    addNote(notes, 240, 100, 100);  // lowered to 88
    addNote(notes, 480, 480, 48);   // stays
    addNote(notes, 1000, 200, 95);  // stays
    playToEnd(&notes, PlayRingtone);

    EXPECT_EQ(songSettings.tempo, 120);
    EXPECT_EQ(midi.usPerQuarter, 480000);
    EXPECT_EQ(ringtoneSettings.patch, 73);
    const auto log = capture.log.messages();
    ASSERT_GT(log.size(), kRingtoneSetupMessages);
    EXPECT_EQ(log[0].message, 0x0049C0u); // the ringtone's programs on channels 0 and 1
    EXPECT_EQ(log[1].message, 0x0028C1u);

    // TPQN 480 makes a 64th note 30 ticks. 100 ticks with the next note 240 ticks on
    // last 120 (30, 60, 120) and rest 120. 480 ticks with the next note 520 on last 480
    // and the rest of 40 becomes 60. The last note's 200 ticks become 120: 240 would
    // overshoot by more than one unit.
    expectEvents(streamedEvents(log, kRingtoneSetupMessages, 480000, 480), {{0, kNoteOn, 52, 105},
                                                                           {120, kNoteOff, 52, 64},
                                                                           {240, kNoteOn, 88, 105},
                                                                           {360, kNoteOff, 88, 64},
                                                                           {480, kNoteOn, 48, 105},
                                                                           {960, kNoteOff, 48, 64},
                                                                           {1020, kNoteOn, 95, 105},
                                                                           {1140, kNoteOff, 95, 64}});
}

TEST_F(MidiPlayTest, ListsLongerThanOneBufferPlayCompletelyAndInOrder)
{
    // 12000 notes are 72000 words: two buffers of 32766 words (whole events) and a third
    // fill of the first buffer.
    constexpr int kNotes = 12000;
    for (int i = 0; i < kNotes; ++i)
        addNote(notes, i * 4, 4, static_cast<uint8_t>(20 + i % 80));
    playToEnd(&notes, PlayNotes);

    const auto events = streamedEvents(capture.log.messages(), kSetupMessages, 500000, 480);
    ASSERT_EQ(events.size(), 2u * kNotes);
    for (int i = 0; i < kNotes; ++i) {
        const TickedEvent& on = events[2 * i];
        const TickedEvent& off = events[2 * i + 1];
        ASSERT_EQ(on.status, kNoteOn) << i;
        ASSERT_EQ(on.data1, 20 + i % 80) << i;
        ASSERT_EQ(on.tick, 4 * i) << i;
        ASSERT_EQ(off.status, kNoteOff) << i;
        ASSERT_EQ(off.tick, 4 * i + 4) << i;
    }
}

TEST_F(MidiPlayTest, AnEmptyListPostsTheEndWithoutOpeningTheDevice)
{
    playToEnd(&notes, PlayNotes);
    EXPECT_TRUE(capture.log.messages().empty());

    notes.raw = std::make_unique<RawTrack>(4);
    playToEnd(notes.raw.get(), PlayRaw);
    playToEnd(&notes, PlayRingtone);
    EXPECT_TRUE(capture.log.messages().empty());
}

TEST_F(MidiPlayTest, PlaybackClosesTheLiveStreamAndLeavesItClosed)
{
    ASSERT_TRUE(midi.open(capture.id()));
    addNote(notes, 0, 10, 60);
    playToEnd(&notes, PlayNotes);
    const size_t afterPlay = capture.log.messages().size();
    midi.click(37, 100, kPercussionChannel);
    EXPECT_EQ(capture.log.messages().size(), afterPlay);
    EXPECT_FLOAT_EQ(midi.msPerFrame, 28.0f);
    EXPECT_EQ(midi.playKind, 0);
}

TEST_F(MidiPlayTest, ADeviceThatCannotOpenShowsItsErrorAndStillEndsOnce)
{
    RecordingNotifier notifier;
    {
        CaptureDevice<FastForwardMidiClock> gone;
        midi.deviceId = gone.id();
    }
    addNote(notes, 0, 10, 60);
    playToEnd(&notes, PlayNotes);
    const auto boxes = notifier.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].first, "Error");
    EXPECT_EQ(boxes[0].second, midiErrorText(kMidiErrBadDeviceId));
}

// Playbacks on a clock the test moves, to act while they play.
class MidiPlayingTest : public MidiTest {
protected:
    CaptureDevice<ManualMidiClock> capture;
    MessageQueue window;
    NoteSequence notes;
    MidiOut midi;

    void SetUp() override
    {
        MidiTest::SetUp();
        midi.notes = &notes;
        midi.notifyWindow = &window;
        midi.deviceId = capture.id();
        for (int i = 0; i < 8; ++i)
            addNote(notes, i * 480, 480, static_cast<uint8_t>(60 + i));
    }

    std::vector<CapturedMidiMessage> noteOns()
    {
        std::vector<CapturedMidiMessage> ons;
        for (const CapturedMidiMessage& m : capture.log.messages())
            if ((m.status() & 0xF0) == kNoteOn)
                ons.push_back(m);
        return ons;
    }

    // Starts the playback and waits (real time) until its first note has sounded.
    void startAndWaitForFirstNote()
    {
        startPlayer(midi, &notes, PlayNotes);
        ASSERT_TRUE(capture.log.waitForCount(kSetupMessages + 1, std::chrono::seconds(10)));
    }

    void advanceTo(int64_t us)
    {
        while (capture.clock.nowUs() < us)
            capture.clock.advance(std::min<int64_t>(10000, us - capture.clock.nowUs()));
    }

    // Moves virtual time in 10 ms steps until `done`; false after a virtual minute.
    template <typename Done>
    bool advanceUntil(Done done)
    {
        for (int step = 0; step < 6000; ++step) {
            if (done())
                return true;
            capture.clock.advance(10000);
        }
        return done();
    }
};

TEST_F(MidiPlayingTest, PositionCountsTheTicksPlayed)
{
    startAndWaitForFirstNote();
    const int64_t start = capture.log.messages()[kSetupMessages].timeUs;
    advanceTo(start + 750000);
    EXPECT_EQ(midi.position(), 720);
    EXPECT_TRUE(midi.isPlaying);
    midi.stop();
    ASSERT_TRUE(waitForEnd(window));
    EXPECT_EQ(midi.position(), 0);
}

TEST_F(MidiPlayingTest, ATempoChangeDuringPlaybackTakesEffectAtOnce)
{
    startAndWaitForFirstNote();
    ASSERT_TRUE(advanceUntil([&] { return noteOns().size() >= 4; }));
    const int64_t change = capture.clock.nowUs();
    const int64_t fourth = noteOns()[3].timeUs;
    EXPECT_EQ(midi.setTempo(60), 1000000);
    EXPECT_FLOAT_EQ(midi.msPerFrame, 56.0f);
    EXPECT_EQ(songSettings.tempo, 60);

    ASSERT_TRUE(advanceUntil(
        [&] { return noteOns().size() == 8 && soundingNotes(capture.log.messages()).empty(); }));
    capture.clock.advance(kReleaseTailUs);
    ASSERT_TRUE(waitForEnd(window));

    // The 480 ticks after the fourth note: those before the change at 1041.7 us a tick,
    // the rest at 2083.3 us.
    const auto ons = noteOns();
    ASSERT_EQ(ons.size(), 8u);
    const double ticksBefore = static_cast<double>(change - fourth) * 480 / 500000;
    EXPECT_NEAR(static_cast<double>(ons[4].timeUs), change + (480 - ticksBefore) * 1000000 / 480, 2);
    EXPECT_NEAR(static_cast<double>(ons[5].timeUs - ons[4].timeUs), 1000000, 2);
    EXPECT_EQ(ons[1].timeUs - ons[0].timeUs, 500000);
}

TEST_F(MidiPlayingTest, AtTheEndTheLastNotesRingOutBeforeEveryChannelIsSilenced)
{
    startAndWaitForFirstNote();
    ASSERT_TRUE(advanceUntil(
        [&] { return noteOns().size() == 8 && soundingNotes(capture.log.messages()).empty(); }));
    const int64_t lastNoteOff = capture.log.messages().back().timeUs;
    capture.clock.advance(kReleaseTailUs / 2);
    EXPECT_TRUE(midi.isPlaying) << "the reset came before the release time";
    capture.clock.advance(kReleaseTailUs / 2);
    ASSERT_TRUE(waitForEnd(window));
    const auto messages = capture.log.messages();
    const auto soundOff = std::find_if(messages.begin(), messages.end(), [](const CapturedMidiMessage& m) {
        return (m.status() & 0xF0) == 0xB0 && m.data1() == 120;
    });
    ASSERT_NE(soundOff, messages.end());
    EXPECT_GE(soundOff->timeUs - lastNoteOff, kReleaseTailUs);
}

TEST_F(MidiPlayingTest, StopEndsThePlaybackOnceWithNothingLeftSounding)
{
    midi.stop(); // nothing plays yet: nothing happens
    startAndWaitForFirstNote();
    ASSERT_TRUE(advanceUntil([&] { return noteOns().size() >= 2; }));
    midi.stop();
    ASSERT_TRUE(waitForEnd(window));
    EXPECT_EQ(countEndMessages(window, std::chrono::milliseconds(300)), 0);

    EXPECT_FALSE(midi.isOpen);
    EXPECT_FALSE(midi.isPlaying);
    EXPECT_EQ(midi.stream.load(), nullptr);
    EXPECT_EQ(midi.playerThread.load(), nullptr);
    const size_t heard = capture.log.messages().size();
    EXPECT_TRUE(soundingNotes(capture.log.messages()).empty());
    EXPECT_LT(noteOns().size(), 8u);

    capture.clock.advance(10000000);
    EXPECT_EQ(capture.log.messages().size(), heard);
}

TEST_F(MidiPlayingTest, DestroyingTheOutputDuringPlaybackStopsItFirst)
{
    auto owned = std::make_unique<MidiOut>();
    owned->notes = &notes;
    owned->notifyWindow = &window;
    owned->deviceId = capture.id();
    startPlayer(*owned, &notes, PlayNotes);
    ASSERT_TRUE(capture.log.waitForCount(kSetupMessages + 1, std::chrono::seconds(10)));
    owned.reset();
    ASSERT_TRUE(waitForEnd(window));
    EXPECT_TRUE(soundingNotes(capture.log.messages()).empty());
}

} // namespace
