// The ringtone page's tempo bar during a ringtone preview on a capture device whose
// clock the test moves: the next notes follow the new tempo at once.

#include "export/RingtoneTempo.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "midi/MidiTestSupport.h"

namespace {

class RingtoneTempoBar : public MidiTest {
protected:
    CaptureDevice<ManualMidiClock> capture;
    MessageQueue window;
    NoteSequence notes;
    MidiOut midi;
    RingtoneDefaults defaults;

    void SetUp() override
    {
        MidiTest::SetUp();
        midi.notes = &notes;
        midi.ringtone = &ringtoneSettings;
        midi.notifyWindow = &window;
        midi.deviceId = capture.id();
        for (int i = 0; i < 8; ++i)
            notes.append(NoteEvent{i * 480, 480, static_cast<uint8_t>(60 + i), 100, 0});
        defaults = RingtoneFromRecognition(ringtoneSettings);
    }

    std::vector<int64_t> noteOnTimes()
    {
        std::vector<int64_t> times;
        for (const CapturedMidiMessage& m : capture.log.messages())
            if ((m.status() & 0xF0) == 0x90)
                times.push_back(m.timeUs);
        return times;
    }

    // Moves virtual time in 1 ms steps until `count` notes have sounded, pausing a moment in
    // real time now and then: the player thread opens its stream on that clock only once it
    // runs, and time moved before then passes no note.
    bool advanceUntilNotes(size_t count)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        for (int step = 1; noteOnTimes().size() < count && std::chrono::steady_clock::now() < deadline; ++step) {
            capture.clock.advance(1000);
            if (step % 50 == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return noteOnTimes().size() >= count;
    }
};

TEST_F(RingtoneTempoBar, MovingTheBarDuringThePreviewChangesItsTempoAtOnce)
{
    startPlayer(midi, &notes, PlayRingtone);
    ASSERT_TRUE(advanceUntilNotes(2));
    EXPECT_EQ(ringtoneTempoBarMoved(0, ringtoneSettings, defaults, midi), "d=1,o=4,b=25,s=n,l=0");
    EXPECT_EQ(midi.usPerQuarter, 2400000);
    ASSERT_TRUE(advanceUntilNotes(4));
    EXPECT_EQ(ringtoneTempoBarMoved(31, ringtoneSettings, defaults, midi), "d=1,o=4,b=900,s=n,l=0");
    ASSERT_TRUE(advanceUntilNotes(8));
    midi.stop();
    ASSERT_TRUE(waitForEnd(window));

    // A quarter lasts 480 ms at 125, 2400 ms at 25 and 66.7 ms at 900 beats per minute.
    const std::vector<int64_t> on = noteOnTimes();
    EXPECT_NEAR(static_cast<double>(on[1] - on[0]), 480000, 1000);
    EXPECT_NEAR(static_cast<double>(on[3] - on[2]), 2400000, 1000);
    EXPECT_NEAR(static_cast<double>(on[7] - on[6]), 66667, 1000);
    EXPECT_EQ(songSettings.tempo, 120);
    EXPECT_EQ(ringtoneSettings.tempoIndex, 31);
}

TEST_F(RingtoneTempoBar, WithoutARingtonePreviewOnlyTheRingtoneTempoChanges)
{
    const int32_t before = midi.usPerQuarter;
    EXPECT_EQ(ringtoneTempoBarMoved(40, ringtoneSettings, defaults, midi), "d=1,o=4,b=900,s=n,l=0");
    EXPECT_EQ(ringtoneSettings.tempoIndex, 31);
    EXPECT_EQ(midi.usPerQuarter, before);
    EXPECT_EQ(songSettings.tempo, 120);
}

} // namespace
