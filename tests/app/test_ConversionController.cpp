// The conversion workflow on virtual wave devices, a capture MIDI device and a pumped
// message loop: microphone and file takes with their echoes and the metronome, stopping,
// playback, saving, and what the window is told on the way.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "ControllerTestSupport.h"
#include "midi/Tv2m_treads.h"

namespace {

// The store of a take that ran into its 60 seconds: 2140 chunks of 1236 bytes.
constexpr uint32_t kFullTakeBytes = 2140 * kChunk;

std::string tempPath(const std::string& name)
{
    return testing::TempDir() + "lirrosa_app_" + name;
}

// The pitches the live echo glided to: for each echo note (channel 0, velocity 105), its
// note number moved by the last bend before it ended (bend range 60 semitones).
std::vector<int> echoedPitches(const std::vector<CapturedMidiMessage>& log)
{
    std::vector<int> pitches;
    int note = -1;
    int bend = 8192;
    auto end = [&] {
        if (note >= 0)
            pitches.push_back(static_cast<int>(std::lround(note + (bend - 8192) / (8192.0 / 60))));
        note = -1;
    };
    for (const CapturedMidiMessage& m : log) {
        if (m.status() == 0x90 && m.data2() == 105) {
            end();
            note = m.data1();
        } else if (m.status() == 0xE0 && note >= 0) {
            bend = m.data1() | (m.data2() << 7);
        } else if (m.status() == 0x80 || (m.status() == 0xB0 && m.data1() == 123)) {
            end();
        }
    }
    end();
    return pitches;
}

std::vector<int> withoutRepeats(const std::vector<int>& values)
{
    std::vector<int> out;
    for (int v : values) {
        if (out.empty() || out.back() != v)
            out.push_back(v);
    }
    return out;
}

void expectStoppedButtonsWithTake(RecordingPanel& panel)
{
    for (MainButton b : {MainButton::Convert, MainButton::Mic, MainButton::File, MainButton::Midi,
                         MainButton::Wave, MainButton::Play, MainButton::SaveAs, MainButton::Export,
                         MainButton::Finish, MainButton::PlayPB})
        EXPECT_TRUE(panel.buttonEnabled(b)) << static_cast<int>(b);
    EXPECT_EQ(panel.buttonLook(MainButton::Convert), kLookEnabled);
    EXPECT_EQ(panel.buttonLook(MainButton::Play), kLookEnabled);
    EXPECT_EQ(panel.stateLabel, "");
}

// ---- Microphone takes ----

TEST(MicrophoneTake, FullStoreStopsTheTakeAfter2140ChunksAndLaterBuffersOnlyRepeatInputEnded)
{
    Bench<> bench(melodySamples(7)); // 61 s: more than the store holds
    bench.chooseNoEcho();
    // Hold the first end back a moment, so that the buffers still queued come back full
    // before the take is stopped.
    bench.spy.before = [&](const WindowMessage& m) {
        if (m.msg == UM_INPUT_ENDED && bench.spy.count(UM_INPUT_ENDED) == 1)
            std::this_thread::sleep_for(200ms);
    };
    bench.controller->ibtn_ConvertClick();
    ASSERT_TRUE(bench.pumpUntil([&] { return bench.controller->isStopped(); }, 60s));
    bench.settle();

    EXPECT_EQ(bench.controller->store().validCount, kFullTakeBytes);
    EXPECT_EQ(bench.controller->analysedFrames(), 2140);
    EXPECT_GE(bench.spy.count(UM_INPUT_ENDED), 2);
    // Only the first end finished the take; the others found it finished.
    EXPECT_EQ(bench.panel.analysedTakes, 1);
    EXPECT_EQ(bench.controller->store().validCount, kFullTakeBytes);
    EXPECT_GT(bench.controller->notes().count, 0);
    expectStoppedButtonsWithTake(bench.panel);
}

TEST(MicrophoneTake, MidiEchoFollowsTheSungMelodyAndTheLabelsShowTimeAndNote)
{
    Bench<> bench(melodySamples());
    bench.recordWholeSource();

    EXPECT_EQ(noteNumbers(bench.controller->notes()), kMelodyNotes);
    const std::vector<int> echoed = withoutRepeats(echoedPitches(bench.midi.log.messages()));
    EXPECT_EQ(echoed, withoutRepeats(kMelodyNotes));
    // The status the window showed: the sung notes by name, and the time of the take.
    const std::vector<std::string>& labels = bench.panel.noteLabels;
    EXPECT_NE(std::find(labels.begin(), labels.end(), " G4"), labels.end());
    EXPECT_NE(std::find(labels.begin(), labels.end(), " E5"), labels.end());
    EXPECT_NE(std::find(labels.begin(), labels.end(), ""), labels.end());
    // A frame of the microphone format lasts 618 samples at 22050 Hz, a little over 28 ms.
    const size_t chunks = bench.sourceBytes / kChunk;
    const auto frameMs = static_cast<float>(618 * 1000.0 / 22050);
    EXPECT_NE(std::find(bench.panel.timeLabels.begin(), bench.panel.timeLabels.end(),
                        timeText(static_cast<int32_t>(static_cast<float>(chunks) * frameMs))),
              bench.panel.timeLabels.end());
    // The echo is closed with the take: no note is left sounding.
    EXPECT_FALSE(bench.controller->midiOut().isOpen);
}

TEST(MicrophoneTake, AMidiOutputThatFailsEndsTheEchoWithOneMessageAndTheTakeGoesOn)
{
    // An output that goes away after its first 40 messages, as when its JACK server stops.
    std::atomic<int> sends{0};
    class FailingSink : public MidiSink {
    public:
        explicit FailingSink(std::atomic<int>& sends) : sends(sends) {}
        MidiResult send(uint32_t, int64_t) override { return ++sends > 40 ? kMidiErrJackStopped : kMidiOk; }

    private:
        std::atomic<int>& sends;
    };
    PrivateMidiDevice failing(
        [&sends](std::unique_ptr<MidiSink>& sink) {
            sink = std::make_unique<FailingSink>(sends);
            return kMidiOk;
        },
        steadyMidiClock());
    Bench<> bench(melodySamples());
    bench.panel.midiOutList = static_cast<int32_t>(failing.id()) + 1;
    bench.recordWholeSource();

    const auto boxes = bench.notifier.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].second, kEchoEndedText + midiErrorText(kMidiErrJackStopped) + kTakeGoesOnText);
    // Every whole chunk of the source was recorded.
    EXPECT_EQ(bench.controller->store().validCount, bench.sourceBytes / kChunk * kChunk);
    EXPECT_EQ(noteNumbers(bench.controller->notes()), kMelodyNotes);
}

TEST(MicrophoneTake, WaveEchoPlaysEveryRecordedChunkOnceInOrder)
{
    Bench<> bench(countingSamples(60));
    bench.chooseWave();
    bench.controller->ibtn_ConvertClick();
    // The store belongs to the driver thread until the take stops: count the chunks' positions.
    ASSERT_TRUE(bench.pumpUntil([&] { return bench.spy.count(UM_POSITION) == 60; }));
    ASSERT_TRUE(bench.pumpUntil([&] { return bench.driver.played().size() >= 60 * kChunk; }));
    bench.controller->ibtn_StopClick();
    bench.settle();

    const SampleStore& store = bench.controller->store();
    const std::vector<uint8_t> recorded(store.data, store.data + store.validCount);
    EXPECT_EQ(recorded, countingSamples(60));
    EXPECT_EQ(bench.driver.played(), recorded);
}

TEST(MicrophoneTake, MetronomeClicksAtTheTempoIntervalOnlyDuringMicrophoneTakes)
{
    Bench<ManualLoopClock> bench(countingSamples(40));
    bench.chooseNoEcho();
    bench.panel.metronomeOn = true;
    bench.panel.metronomeSound = kMaracasNote;
    songSettings.tempo = 100;
    auto clicks = [&] {
        std::vector<CapturedMidiMessage> found;
        for (const CapturedMidiMessage& m : bench.midi.log.messages()) {
            if (m.status() == 0x99)
                found.push_back(m);
        }
        return found;
    };
    // Steps the loop's time and notes when clicks were heard.
    auto runFor = [&](std::chrono::milliseconds span) {
        std::vector<int64_t> times;
        for (auto t = 0ms; t < span; t += 50ms) {
            const size_t before = clicks().size();
            bench.clock.advance(50ms);
            bench.loop.pumpOnce(0ms);
            if (clicks().size() > before)
                times.push_back(bench.clock.now().count());
        }
        return times;
    };

    bench.controller->ibtn_ConvertClick();
    ASSERT_TRUE(bench.pumpUntil([&] { return bench.spy.count(UM_POSITION) == 40; }));
    EXPECT_EQ(bench.loop.timerInterval(kTimerMetr), 600ms);
    const std::vector<int64_t> during = runFor(2000ms);
    EXPECT_EQ(during, (std::vector<int64_t>{600, 1200, 1800}));
    for (const CapturedMidiMessage& m : clicks()) {
        EXPECT_EQ(m.data1(), 0x46);
        EXPECT_EQ(m.data2(), 0x64);
    }
    bench.controller->ibtn_StopClick();
    bench.settle();
    EXPECT_TRUE(runFor(2000ms).empty());

    // A file take has no metronome.
    bench.chooseFile(kMelodyPath);
    bench.controller->ibtn_ConvertClick();
    EXPECT_FALSE(bench.loop.timerRunning(kTimerMetr));
    EXPECT_EQ(clicks().size(), 3u);
}

TEST(MicrophoneTake, WithoutAWaveInDeviceIsAbandoned)
{
    Bench<> bench(countingSamples(10));
    bench.driver.removeDevices();
    bench.controller->ibtn_ConvertClick();
    bench.settle(50ms);
    EXPECT_TRUE(bench.controller->isStopped());
    EXPECT_FALSE(bench.controller->isAnalysing());
    EXPECT_FALSE(bench.loop.timerRunning(kTimer1));
    EXPECT_TRUE(bench.panel.buttonEnabled(MainButton::Convert));
    EXPECT_EQ(bench.panel.buttonLook(MainButton::Convert), kLookEnabled);
    EXPECT_FALSE(bench.panel.buttonEnabled(MainButton::Play));
}

// ---- File takes ----

TEST(FileTake, WithoutEchoRunsAtFullSpeedAndStopsByItself)
{
    Bench<> bench({}, false);
    bench.chooseNoEcho();
    bench.chooseFile(kMelodyPath);
    const auto start = std::chrono::steady_clock::now();
    bench.controller->ibtn_ConvertClick(); // returns when the file is done
    const auto took = std::chrono::steady_clock::now() - start;

    EXPECT_TRUE(bench.controller->isStopped());
    EXPECT_FALSE(bench.controller->isAnalysing());
    EXPECT_EQ(noteNumbers(bench.controller->notes()), kMelodyNotes);
    // 8.8 s of melody, fed without waiting for anything.
    EXPECT_LT(took, 8s);
    EXPECT_EQ(bench.panel.inputLabel, "file: melody.wav");
    expectStoppedButtonsWithTake(bench.panel);
    EXPECT_TRUE(bench.panel.buttonEnabled(MainButton::PlayNT));
    EXPECT_TRUE(bench.panel.buttonEnabled(MainButton::Edit));
    EXPECT_EQ(bench.panel.buttonLook(MainButton::PlayPB), kLookChecked);
}

TEST(FileTake, StopDuringTheTakeEndsTheFeedingLoopAtTheNextChunk)
{
    Bench<> bench({}, false);
    bench.chooseNoEcho();
    bench.chooseFile(kMelodyPath);
    bench.spy.before = [&](const WindowMessage& m) {
        if (m.msg == UM_POSITION && m.wParam == 50)
            bench.controller->ibtn_StopClick();
    };
    bench.controller->ibtn_ConvertClick();

    EXPECT_EQ(bench.controller->analysedFrames(), 50);
    EXPECT_TRUE(bench.controller->isStopped());
    EXPECT_EQ(bench.panel.analysedTakes, 1);
    EXPECT_EQ(bench.panel.buttonLook(MainButton::PlayPB), kLookChecked);
}

TEST(FileTake, GoesOnWithoutAWaveInDevice)
{
    Bench<> bench({}, false);
    bench.driver.removeDevices();
    bench.chooseNoEcho();
    bench.chooseFile(kMelodyPath);
    bench.controller->ibtn_ConvertClick();
    EXPECT_EQ(noteNumbers(bench.controller->notes()), kMelodyNotes);
    EXPECT_TRUE(bench.controller->isStopped());
}

TEST(FileTake, WithMidiEchoEchoesTheMelodyAtItsOwnPace)
{
    Bench<> bench({}, false);
    bench.chooseFile(kMelodyPath);
    const auto start = std::chrono::steady_clock::now();
    bench.controller->ibtn_ConvertClick();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(noteNumbers(bench.controller->notes()), kMelodyNotes);
    EXPECT_EQ(withoutRepeats(echoedPitches(bench.midi.log.messages())), withoutRepeats(kMelodyNotes));
    // 313 chunks of 28 ms.
    EXPECT_GE(took, 8s);
}

TEST(FileTake, WithWaveEchoPlaysTheFileWhileAnalysingItAndEndsThroughInputEnded)
{
    Bench<> bench({}, false);
    bench.chooseFile(kMelodyPath);
    bench.chooseWave();
    bench.controller->ibtn_ConvertClick(); // returns at once: the player paces the take
    EXPECT_TRUE(bench.controller->isAnalysing());
    ASSERT_TRUE(bench.pumpUntil([&] { return bench.controller->isStopped(); }));
    bench.settle();
    EXPECT_GE(bench.spy.count(UM_INPUT_ENDED), 1);
    EXPECT_EQ(noteNumbers(bench.controller->notes()), kMelodyNotes);
    // Whole chunks, from the start of the file, in order; the stop may cut the two
    // chunks still queued when the end of the file was found.
    const SampleStore& store = bench.controller->store();
    const std::vector<uint8_t> played = bench.driver.played();
    const size_t wholeChunks = (store.validCount - 1) / kChunk;
    EXPECT_EQ(played.size() % kChunk, 0u);
    EXPECT_LE(played.size(), wholeChunks * kChunk);
    EXPECT_GE(played.size(), (wholeChunks - 2) * kChunk);
    EXPECT_TRUE(std::equal(played.begin(), played.end(), store.data));
}

TEST(FileTake, CancelledDialogOrRefusedFileStartsNothingAndKeepsTheTake)
{
    Bench<> bench({}, false);
    bench.chooseNoEcho();
    bench.chooseFile(kMelodyPath);
    bench.controller->ibtn_ConvertClick();
    const uint32_t kept = bench.controller->store().validCount;
    ASSERT_EQ(bench.controller->notes().count, 14);

    bench.panel.takeFile.reset(); // the dialog is cancelled
    bench.controller->ibtn_ConvertClick();
    EXPECT_EQ(bench.notifier.boxes().back().second, kAskDiscardTake);
    EXPECT_TRUE(bench.controller->isStopped());
    EXPECT_EQ(bench.panel.buttonLook(MainButton::Convert), kLookEnabled);
    expectStoppedButtonsWithTake(bench.panel);
    EXPECT_EQ(bench.controller->store().validCount, kept);
    EXPECT_EQ(bench.controller->notes().count, 14);
    EXPECT_EQ(bench.panel.analysedTakes, 1);

    bench.panel.takeFile = tempPath("not-a-wave.txt");
    std::ofstream(*bench.panel.takeFile) << "not a wave file";
    bench.controller->ibtn_ConvertClick();
    EXPECT_EQ(bench.controller->lastFileRefusal(), WaveRefusal::TooShort);
    EXPECT_EQ(bench.controller->store().validCount, kept);
    EXPECT_EQ(bench.controller->notes().count, 14);

    // "No" to the question keeps the take too.
    bench.notifier.answer = MessageAnswer::No;
    bench.panel.takeFile = kMelodyPath;
    bench.controller->ibtn_ConvertClick();
    EXPECT_EQ(bench.panel.analysedTakes, 1);
    EXPECT_EQ(bench.controller->store().validCount, kept);
    expectStoppedButtonsWithTake(bench.panel);
}

TEST(FileTake, FinishDuringTheTakeDoesNothingAndAfterwardsRecognisesAgain)
{
    Bench<> bench({}, false);
    bench.chooseNoEcho();
    bench.chooseFile(kMelodyPath);
    int notesAtFinish = -1;
    bench.spy.before = [&](const WindowMessage& m) {
        if (m.msg == UM_POSITION && m.wParam == 100) {
            bench.panel.button(MainButton::Finish).enabled = true; // even if the window let it through
            bench.controller->ibtn_FinishClick();
            notesAtFinish = bench.controller->notes().count;
            bench.panel.button(MainButton::Finish).enabled = false;
        }
    };
    bench.controller->ibtn_ConvertClick();
    EXPECT_EQ(notesAtFinish, 0);
    EXPECT_FALSE(bench.panel.buttonLook(MainButton::PlayNT) == kLookChecked);

    bench.panel.mergeShortDeviations = false;
    bench.controller->ibtn_FinishClick();
    EXPECT_GE(bench.controller->notes().count, 14);
    EXPECT_EQ(bench.panel.buttonLook(MainButton::PlayNT), kLookChecked);
    EXPECT_EQ(bench.panel.buttonLook(MainButton::PlayPB), kLookEnabled);
    EXPECT_TRUE(bench.panel.buttonEnabled(MainButton::Edit));
}

TEST(FileTake, ThePreciseEngineRecognisesTheTakeAndFinishRecognisesItAgain)
{
    Bench<> bench({}, false);
    bench.panel.engine = RecognitionEngine::Precise;
    bench.chooseNoEcho();
    bench.chooseFile(kMelodyPath);
    bench.controller->ibtn_ConvertClick();
    EXPECT_EQ(noteNumbers(bench.controller->notes()), kMelodyNotes);
    EXPECT_TRUE(bench.controller->notes().recognised);
    EXPECT_GT(bench.controller->notes().raw->count, 0);
    EXPECT_TRUE(bench.panel.buttonEnabled(MainButton::PlayNT));

    // Finish discards edits and recognises the take's sound again.
    bench.controller->notes().removeAt(0);
    bench.panel.button(MainButton::Finish).enabled = true;
    bench.controller->ibtn_FinishClick();
    EXPECT_EQ(noteNumbers(bench.controller->notes()), kMelodyNotes);
}

TEST(FileTake, ANewTakeStartedFromWithinTheFeedingLoopIsNotFedByIt)
{
    Bench<> bench(countingSamples(20));
    bench.chooseNoEcho();
    bench.chooseFile(kMelodyPath);
    bench.spy.before = [&](const WindowMessage& m) {
        if (m.msg == UM_POSITION && m.wParam == 30) {
            bench.spy.before = nullptr;
            bench.controller->ibtn_StopClick();
            bench.controller->ibtn_MicClick();
            bench.controller->ibtn_ConvertClick(); // a microphone take, while the loop waits
        }
    };
    bench.controller->ibtn_ConvertClick();
    EXPECT_FALSE(bench.controller->isStopped()); // the microphone take runs on
    ASSERT_TRUE(bench.pumpUntil([&] { return bench.source.exhausted(); }));
    bench.settle(300ms);
    bench.controller->ibtn_StopClick();
    bench.settle();
    EXPECT_EQ(bench.controller->analysedFrames(), 20);
    const SampleStore& store = bench.controller->store();
    EXPECT_EQ(std::vector<uint8_t>(store.data, store.data + store.validCount), countingSamples(20));
}

// ---- Input and echo choice ----

TEST(Choice, LampsToggleAsTheWindowsButtonsDo)
{
    Bench<> bench;
    ControlPanel& panel = bench.panel;
    ConversionController& c = *bench.controller;
    c.ibtn_MicClick();
    EXPECT_EQ(panel.lampLook(Lamp::File), kLampOn);
    EXPECT_EQ(panel.lampLook(Lamp::Mic), kLampOff);
    EXPECT_EQ(panel.inputLabel, "file");
    c.ibtn_MicClick(); // the File button toggles back too
    EXPECT_EQ(panel.lampLook(Lamp::Mic), kLampOn);
    EXPECT_EQ(panel.inputLabel, "mic");

    c.ibtn_MIDIClick(); // MIDI was selected: no echo
    EXPECT_EQ(panel.lampLook(Lamp::Midi), kLampOff);
    EXPECT_EQ(panel.lampLook(Lamp::Wave), kLampOff);
    c.ibtn_WAVEClick();
    EXPECT_EQ(panel.lampLook(Lamp::Wave), kLampOn);
    EXPECT_EQ(panel.lampLook(Lamp::Midi), kLampOff);
    c.ibtn_MIDIClick();
    EXPECT_EQ(panel.lampLook(Lamp::Midi), kLampOn);
    EXPECT_EQ(panel.lampLook(Lamp::Wave), kLampOff);

    panel.button(MainButton::Mic).enabled = false;
    c.ibtn_MicClick();
    EXPECT_EQ(panel.lampLook(Lamp::Mic), kLampOn);
}

// ---- Playback ----

TEST(Playback, WaveOfAMicrophoneTakeEndsThroughPlaybackEnded)
{
    Bench<> bench(countingSamples(30));
    bench.chooseNoEcho();
    bench.recordWholeSource();
    ASSERT_FALSE(bench.controller->notes().hasRawFrames()); // a ramp has no pitch
    // Play needs a take with a raw track; this one is played all the same.
    bench.panel.button(MainButton::Play).enabled = true;
    bench.chooseWave();
    const int endsBefore = bench.spy.count(UM_INPUT_ENDED);
    bench.controller->ibtn_PlayClick();
    EXPECT_EQ(bench.panel.stateLabel, "playback");
    ASSERT_TRUE(bench.pumpUntil([&] { return bench.controller->isStopped(); }));
    bench.settle();
    EXPECT_GE(bench.spy.count(UM_PLAYBACK_ENDED), 1);
    EXPECT_EQ(bench.spy.count(UM_INPUT_ENDED), endsBefore);
    const std::vector<uint8_t> played = bench.driver.played();
    const std::vector<uint8_t> take = countingSamples(30);
    ASSERT_GE(played.size(), take.size() - 2 * kChunk);
    EXPECT_TRUE(std::equal(played.begin(), played.end(), take.begin()));
}

TEST(Playback, WaveOfAFileTakeEndsThroughInputEnded)
{
    Bench<> bench({}, false);
    bench.chooseNoEcho();
    bench.chooseFile(kMelodyPath);
    bench.controller->ibtn_ConvertClick();
    bench.chooseWave();
    bench.controller->ibtn_PlayClick();
    ASSERT_TRUE(bench.pumpUntil([&] { return bench.controller->isStopped(); }));
    bench.settle();
    EXPECT_GE(bench.spy.count(UM_INPUT_ENDED), 1);
    EXPECT_EQ(bench.spy.count(UM_PLAYBACK_ENDED), 0);
    const SampleStore& store = bench.controller->store();
    const std::vector<uint8_t> played = bench.driver.played();
    EXPECT_GT(played.size(), store.validCount / 2);
    EXPECT_TRUE(std::equal(played.begin(), played.end(), store.data));
    expectStoppedButtonsWithTake(bench.panel);
}

TEST(Playback, ChunkArrivingAfterThePlayerClosedIsFreed)
{
    Bench<> bench;
    uint8_t* chunk = newAudioBuffer(kChunk);
    ASSERT_TRUE(bench.loop.target().post(UM_PLAY_CHUNK, reinterpret_cast<WPARAM>(chunk), kChunk));
    bench.settle(50ms);
    // A leak would be reported by LeakSanitizer at exit.
    EXPECT_EQ(bench.spy.count(UM_PLAY_CHUNK), 1);
}

TEST(Playback, MidiThenMidiAgainLeavesNoPlaybackType)
{
    Bench<> bench({}, false);
    bench.chooseNoEcho();
    bench.chooseFile(kMelodyPath);
    bench.controller->ibtn_ConvertClick();
    bench.controller->ibtn_MIDIClick();
    bench.controller->ibtn_MIDIClick();
    bench.controller->ibtn_PlayClick();
    ASSERT_FALSE(bench.notifier.boxes().empty());
    EXPECT_EQ(bench.notifier.boxes().back(), std::make_pair(std::string("Error"), std::string(kNoPlaybackType)));
    EXPECT_TRUE(bench.controller->isStopped());
    expectStoppedButtonsWithTake(bench.panel);
}

TEST(Playback, MidiPlaysTheChosenNotesPollsThePositionAndEndsByItself)
{
    Bench<ManualLoopClock> bench({}, false);
    bench.chooseNoEcho();
    bench.chooseFile(kMelodyPath);
    bench.controller->ibtn_ConvertClick();
    bench.controller->ibtn_MIDIClick(); // MIDI again
    bench.controller->ibtn_PlayNTClick();
    bench.midi.log.clear();
    bench.controller->ibtn_PlayClick();
    EXPECT_EQ(bench.loop.timerInterval(kTimer1), 28ms);
    EXPECT_FALSE(bench.controller->isStopped());

    std::vector<int32_t> positions;
    for (int step = 0; step < 1000 && !bench.controller->isStopped(); ++step) {
        bench.midi.clock.advance(28000);
        bench.clock.advance(28ms);
        bench.loop.pumpOnce(5ms);
        positions.push_back(bench.controller->currentPosition());
    }
    ASSERT_TRUE(bench.pumpUntil([&] { return TPlayThread::running() == 0; }));
    bench.settle(100ms);
    EXPECT_TRUE(bench.controller->isStopped());
    EXPECT_EQ(bench.loop.timerInterval(kTimer1), 0ms);
    // The position climbs to the last note's end (a poll that meets the closing stream
    // reads 0, and the end sets -1).
    const auto highest = std::max_element(positions.begin(), positions.end());
    EXPECT_TRUE(std::is_sorted(positions.begin(), highest));
    const NoteEvent& last = bench.controller->notes()[bench.controller->notes().count - 1];
    // The last poll comes at most one 28 ms step (27 ticks) before the end.
    EXPECT_LE(*highest, last.start + last.duration);
    EXPECT_GE(*highest, last.start + last.duration - 27);
    std::vector<int> played;
    for (const CapturedMidiMessage& m : bench.midi.log.messages()) {
        if ((m.status() & 0xF0) == 0x90 && m.data2() > 0)
            played.push_back(m.data1());
    }
    EXPECT_EQ(played, kMelodyNotes);
    expectStoppedButtonsWithTake(bench.panel);
}

TEST(Playback, StopDuringMidiPlaybackEndsItOnce)
{
    Bench<ManualLoopClock> bench({}, false);
    bench.chooseNoEcho();
    bench.chooseFile(kMelodyPath);
    bench.controller->ibtn_ConvertClick();
    bench.controller->ibtn_MIDIClick();
    bench.controller->ibtn_PlayClick(); // the raw notes
    EXPECT_EQ(bench.panel.buttonLook(MainButton::PlayPB), kLookChecked);
    ASSERT_TRUE(bench.pumpUntil([&] { return bench.controller->midiOut().isPlaying.load(); }));
    bench.midi.clock.advance(500000);
    bench.controller->ibtn_StopClick();
    ASSERT_TRUE(bench.pumpUntil([&] { return TPlayThread::running() == 0; }));
    bench.settle(100ms);
    EXPECT_EQ(bench.spy.count(UM_MIDI_POSITION), 1); // the end, once; the timer never ran
    EXPECT_FALSE(bench.controller->midiOut().isOpen);
    expectStoppedButtonsWithTake(bench.panel);
}

TEST(Playback, NotesLoadedWithoutATakePlayAsNotes)
{
    Bench<ManualLoopClock> bench({}, false);
    NoteSequence loaded;
    for (int i = 0; i < 3; ++i)
        loaded.append(NoteEvent{i * 480, 480, static_cast<uint8_t>(60 + 2 * i), 100, 0});
    ASSERT_TRUE(bench.controller->loadNotes(loaded));
    EXPECT_TRUE(bench.panel.buttonEnabled(MainButton::Play));
    EXPECT_EQ(bench.panel.buttonLook(MainButton::PlayNT), kLookChecked);
    EXPECT_FALSE(bench.panel.buttonEnabled(MainButton::PlayPB));
    // Loaded (and edited) notes can be saved as a MIDI file; there is no sound to save.
    EXPECT_TRUE(bench.panel.buttonEnabled(MainButton::SaveAs));

    bench.controller->ibtn_PlayClick();
    ASSERT_FALSE(bench.controller->isStopped());
    for (int step = 0; step < 200 && !bench.controller->isStopped(); ++step) {
        bench.midi.clock.advance(28000);
        bench.loop.pumpOnce(5ms);
    }
    ASSERT_TRUE(bench.pumpUntil([&] { return TPlayThread::running() == 0 && bench.controller->isStopped(); }));
    std::vector<int> played;
    for (const CapturedMidiMessage& m : bench.midi.log.messages()) {
        if ((m.status() & 0xF0) == 0x90 && m.data2() > 0)
            played.push_back(m.data1());
    }
    EXPECT_EQ(played, (std::vector<int>{60, 62, 64}));
    EXPECT_TRUE(bench.panel.buttonEnabled(MainButton::Play));

    // A take in progress is not replaced.
    bench.chooseNoEcho();
    bench.chooseFile(kMelodyPath);
    bool refused = false;
    bench.spy.before = [&](const WindowMessage& m) {
        if (m.msg == UM_POSITION && m.wParam == 10)
            refused = !bench.controller->loadNotes(loaded);
    };
    bench.controller->ibtn_ConvertClick();
    EXPECT_TRUE(refused);
    EXPECT_EQ(noteNumbers(bench.controller->notes()), kMelodyNotes);
}

// ---- Saving ----

TEST(SaveAs, EmptyTakeIsNotSavedAndASavedTakeReloads)
{
    Bench<> bench(melodySamples());
    const std::string wave = tempPath("take");
    std::remove((wave + ".wav").c_str());
    bench.panel.saveChoice = SaveChoice{wave, SaveKind::Wave};
    bench.panel.button(MainButton::SaveAs).enabled = true;
    bench.controller->ibtn_SaveAsClick();
    EXPECT_FALSE(std::filesystem::exists(wave + ".wav"));
    EXPECT_TRUE(bench.notifier.boxes().empty());

    bench.recordWholeSource();
    bench.controller->ibtn_SaveAsClick();
    WAVEFORMATEX format{};
    SampleStore reloaded;
    ASSERT_TRUE(LoadWaveFile(wave + ".wav", format, reloaded));
    const SampleStore& store = bench.controller->store();
    EXPECT_EQ(reloaded.validCount, store.validCount - 16);
    EXPECT_TRUE(std::equal(reloaded.data, reloaded.data + reloaded.validCount, store.data + 16));
    EXPECT_EQ(format.nSamplesPerSec, 22050u);

    const std::string midi = tempPath("take-notes");
    bench.panel.saveChoice = SaveChoice{midi, SaveKind::Midi};
    bench.controller->ibtn_SaveAsClick();
    std::ifstream in(midi + ".mid", std::ios::binary);
    char magic[4] = {};
    in.read(magic, 4);
    EXPECT_EQ(std::string(magic, 4), "MThd");
    EXPECT_TRUE(bench.notifier.boxes().empty());

    bench.panel.saveChoice = SaveChoice{"/nonexistent-folder/take.wav", SaveKind::Wave};
    bench.controller->ibtn_SaveAsClick();
    ASSERT_EQ(bench.notifier.boxes().size(), 1u);
    EXPECT_EQ(bench.notifier.boxes()[0], std::make_pair(std::string("Error"), std::string(kWriteError)));
}

// ---- Start-up and the time text ----

TEST(StartUp, WithoutTheSettingsAsksToRunSetup)
{
    const std::string registry = tempPath("no-settings/registry.reg");
    setenv("LIRROSA_REGISTRY", registry.c_str(), 1);
    Bench<> bench;
    EXPECT_FALSE(bench.controller->startUp());
    ASSERT_EQ(bench.notifier.boxes().size(), 1u);
    EXPECT_EQ(bench.notifier.boxes()[0].second, "Please run Lirrosa Setup");
    unsetenv("LIRROSA_REGISTRY");
}

TEST(TimeText, ShowsMinutesSecondsAndHundredthsInSinglePrecision)
{
    EXPECT_EQ(timeText(0), "00:00:00");
    EXPECT_EQ(timeText(59999), "00:59:99");
    EXPECT_EQ(timeText(600000), "10:00:00");
    EXPECT_EQ(timeText(10), "00:00:00");
    EXPECT_EQ(timeText(65430), "01:05:43");
}

} // namespace
