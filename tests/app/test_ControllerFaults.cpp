// Faults of the conversion controller at the edges of its workflow: devices lost during a
// take or a playback, Stop pressed the moment after Play, a playback's end arriving in a
// take started since, long file names in the input label.

#include <gtest/gtest.h>

#include "ControllerTestSupport.h"
#include "midi/Tv2m_treads.h"

namespace {

const std::string kDeviceLostText = "The device was removed or stopped working.";

bool errorShown(ScriptedNotifier& notifier, const std::string& text)
{
    for (const auto& box : notifier.boxes()) {
        if (box == std::make_pair(std::string("Error"), text))
            return true;
    }
    return false;
}

TEST(LostDevice, MicrophoneTakeEndsByItselfWithTheDevicesErrorAndKeepsOnlyRecordedBytes)
{
    Bench<> bench(countingSamples(2000));
    bench.chooseNoEcho();
    bench.controller->ibtn_ConvertClick();
    ASSERT_TRUE(bench.pumpUntil([&] { return bench.spy.count(UM_POSITION) >= 20; }));
    bench.driver.removeDevices();

    ASSERT_TRUE(bench.pumpUntil([&] { return bench.controller->isStopped(); }, 5s)) << "the take never ended";
    bench.settle();
    EXPECT_EQ(bench.controller->deviceFailure(), kDeviceLostText);
    EXPECT_TRUE(errorShown(bench.notifier, kDeviceLostText));
    // The returned, unfilled buffers add no silence: the store is the source's beginning.
    const SampleStore& store = bench.controller->store();
    ASSERT_GE(store.validCount, 20 * kChunk);
    const std::vector<uint8_t> source = countingSamples(2000);
    EXPECT_TRUE(std::equal(store.data, store.data + store.validCount, source.begin()));
    EXPECT_TRUE(bench.panel.buttonEnabled(MainButton::Convert));
    EXPECT_EQ(bench.panel.stateLabel, "");
}

TEST(LostDevice, WavePlaybackEndsByItselfWithTheDevicesError)
{
    Bench<> bench(countingSamples(300));
    bench.chooseNoEcho();
    bench.recordWholeSource();
    bench.panel.button(MainButton::Play).enabled = true;
    bench.chooseWave();
    bench.controller->ibtn_PlayClick();
    ASSERT_TRUE(bench.pumpUntil([&] { return bench.driver.played().size() >= 10 * kChunk; }));
    bench.driver.removeDevices();

    ASSERT_TRUE(bench.pumpUntil([&] { return bench.controller->isStopped(); }, 5s)) << "the playback never ended";
    bench.settle();
    EXPECT_EQ(bench.controller->deviceFailure(), kDeviceLostText);
    EXPECT_TRUE(errorShown(bench.notifier, kDeviceLostText));
    EXPECT_EQ(bench.controller->store().validCount, 300 * kChunk);
}

TEST(MidiPlayback, StopRightAfterPlayEndsThePlaybackAndTheNextPlayWorks)
{
    Bench<ManualLoopClock> bench({}, false);
    bench.chooseNoEcho();
    bench.chooseFile(kMelodyPath);
    bench.controller->ibtn_ConvertClick();
    bench.controller->ibtn_MIDIClick();
    bench.controller->ibtn_PlayNTClick();
    for (int round = 0; round < 2; ++round) {
        bench.controller->ibtn_PlayClick();
        ASSERT_FALSE(bench.controller->isStopped());
        // Before the player thread has begun; the MIDI clock stands still, so a playback
        // that was not stopped would never end.
        bench.controller->ibtn_StopClick();
        EXPECT_TRUE(bench.controller->isStopped());
        ASSERT_TRUE(bench.pumpUntil([&] { return TPlayThread::running() == 0; }, 5s)) << "round " << round;
        bench.settle(100ms);
        EXPECT_FALSE(bench.controller->midiOut().isPlaying);
        EXPECT_FALSE(bench.controller->midiOut().isOpen);
    }
    EXPECT_FALSE(errorShown(bench.notifier, kCannotPlayMidi));
}

TEST(MidiPlayback, EndOfAPlaybackDoesNotEndATakeStartedSince)
{
    Bench<> bench(melodySamples(3));
    bench.chooseNoEcho();
    bench.controller->ibtn_ConvertClick();
    ASSERT_TRUE(bench.pumpUntil([&] { return bench.spy.count(UM_POSITION) >= 5; }));
    // The end of a playback that was stopped before this take began.
    ASSERT_TRUE(bench.loop.target().post(UM_MIDI_POSITION, static_cast<WPARAM>(-1), -1));
    ASSERT_TRUE(bench.pumpUntil([&] { return bench.spy.count(UM_MIDI_POSITION) == 1; }));
    EXPECT_FALSE(bench.controller->isStopped());
    EXPECT_TRUE(bench.controller->isAnalysing());
    bench.controller->ibtn_StopClick();
    bench.settle();
}

TEST(FileTake, InputLabelCutsTheNameAtFifteenCharactersNotBytes)
{
    // 20 two-byte characters: cut at 15 bytes, the label would end inside one.
    std::string name;
    for (int i = 0; i < 20; ++i)
        name += "\xC3\xA9"; // é
    const std::string path = testing::TempDir() + name + ".wav";
    std::vector<uint8_t> samples = melodySamples();
    ASSERT_TRUE(WriteWaveFile(path, kMicrophoneFormat, static_cast<uint32_t>(samples.size()), samples.data()));
    Bench<> bench({}, false);
    bench.chooseNoEcho();
    bench.chooseFile(path);
    bench.controller->ibtn_ConvertClick();
    std::string expected = "file: ";
    for (int i = 0; i < 15; ++i)
        expected += "\xC3\xA9";
    EXPECT_EQ(bench.panel.inputLabel, expected + "...");
    std::remove(path.c_str());
}

} // namespace
