// The pitch analyser's steps, driven one at a time on hand-made tables.

#include "analysis/Tv2m.h"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <vector>

namespace {

// An analyser begun on a format, ready for single steps.
struct Begun {
    WAVEFORMATEX format;
    NoteSequence sequence;
    PitchAnalyser analyser;

    explicit Begun(WAVEFORMATEX f = kMicrophoneFormat) : format(f)
    {
        analyser.setupParams(sequence, &format);
        analyser.begin(&sequence, false);
    }

    // Loads turning-point rows 1..n (row 0 stays the zero dummy).
    void setRows(std::initializer_list<int32_t> swings, std::initializer_list<int32_t> runLengths)
    {
        PitchAnalyser& a = analyser;
        a.runs = static_cast<int32_t>(swings.size()) + 1;
        int32_t r = 1;
        for (int32_t s : swings)
            a.tpSwing[r++] = s;
        r = 1;
        int32_t position = 0;
        for (int32_t run : runLengths) {
            a.tpRun[r] = run;
            position += std::abs(run);
            a.tpPos[r++] = position;
        }
    }

    void setLabels(int16_t* labels, const std::vector<int16_t>& values)
    {
        analyser.runs = static_cast<int32_t>(values.size());
        std::copy(values.begin(), values.end(), labels);
    }

    void emitAt(int32_t frame, float frequency, int32_t level)
    {
        analyser.frameCounter = frame;
        analyser.level = level;
        analyser.emitFrame(frequency);
    }

    const RawFrame& raw(int32_t i) const { return (*sequence.raw)[i]; }
};

WAVEFORMATEX pcm(uint16_t channels, uint32_t rate, uint16_t bits)
{
    const uint16_t align = static_cast<uint16_t>(channels * bits / 8);
    return WAVEFORMATEX{WAVE_FORMAT_PCM, channels, rate, rate * align, align, bits, 0};
}

} // namespace

TEST(PitchAnalyserParams, DerivedFromTheFormat)
{
    NoteSequence sequence;
    PitchAnalyser analyser;
    const WAVEFORMATEX mic = kMicrophoneFormat;
    analyser.setupParams(sequence, &mic);
    EXPECT_EQ(sequence.params.format, &mic);
    EXPECT_FLOAT_EQ(sequence.params.relFloor, 0.05f);
    EXPECT_NEAR(sequence.params.runTolerance, 0.0973f, 0.0001f);
    EXPECT_FLOAT_EQ(sequence.params.periodDeviation, 0.17f);
    EXPECT_EQ(sequence.params.gate, 1310);
    EXPECT_FLOAT_EQ(sequence.params.sampleRate, 22050.0f);
    EXPECT_FLOAT_EQ(sequence.params.fullScale, 65536.0f);

    const WAVEFORMATEX eightBit = pcm(2, 44100, 8);
    analyser.setupParams(sequence, &eightBit);
    EXPECT_FLOAT_EQ(sequence.params.relFloor, 0.1f);
    EXPECT_NEAR(sequence.params.runTolerance, 0.0478f, 0.0001f);
    EXPECT_EQ(sequence.params.gate, 5);
    EXPECT_FLOAT_EQ(sequence.params.fullScale, 256.0f);
}

TEST(PitchAnalyserFilter, TapCountFollowsTheSampleRate)
{
    PitchAnalyser analyser;
    EXPECT_EQ(analyser.filterTaps, 4);
    const std::pair<float, int32_t> expected[] = {{22050, 8}, {44100, 12}, {11025, 6}, {8000, 4}};
    for (const auto& [rate, taps] : expected) {
        analyser.designFilter(rate);
        EXPECT_EQ(analyser.filterTaps, taps) << rate;
    }
}

TEST(PitchAnalyserFilter, PassesTheVoiceAndDampsHighTones)
{
    Begun b;
    PitchAnalyser& a = b.analyser;
    const auto swingAfterFilter = [&](double hz) {
        a.sampleCount = 600;
        for (int32_t i = 0; i < a.sampleCount; ++i)
            a.samples[i] = static_cast<int32_t>(10000 * std::sin(2 * M_PI * hz * i / 22050.0));
        a.filterSamples();
        int32_t lo = 0, hi = 0;
        for (int32_t i = 100; i < 500; ++i) {
            lo = std::min(lo, a.samples[i]);
            hi = std::max(hi, a.samples[i]);
        }
        return hi - lo;
    };
    EXPECT_GT(swingAfterFilter(200), 16000);
    EXPECT_LT(swingAfterFilter(3000), 3000);
}

TEST(PitchAnalyserLifecycle, FeedOutsideBeginAndStopDoesNothing)
{
    NoteSequence sequence;
    PitchAnalyser analyser;
    const WAVEFORMATEX mic = kMicrophoneFormat;
    const std::vector<uint8_t> chunk(1236, 0x40);
    analyser.feed(chunk.data(), static_cast<uint32_t>(chunk.size()));
    EXPECT_EQ(analyser.frameCounter, 0);
    EXPECT_FALSE(analyser.active);

    analyser.setupParams(sequence, &mic);
    analyser.begin(&sequence, false);
    EXPECT_TRUE(analyser.active);
    EXPECT_EQ(analyser.sampleCapacity, 633);
    EXPECT_EQ(analyser.bytesPerSample, 2);
    EXPECT_EQ(analyser.frameMs, 28);
    analyser.feed(chunk.data(), static_cast<uint32_t>(chunk.size()));
    EXPECT_EQ(analyser.frameCounter, 1);

    analyser.stop();
    EXPECT_FALSE(analyser.active);
    EXPECT_EQ(analyser.samples, nullptr);
    EXPECT_EQ(analyser.tpPos, nullptr);
    analyser.feed(chunk.data(), static_cast<uint32_t>(chunk.size()));
    EXPECT_EQ(analyser.frameCounter, 1);
}

TEST(PitchAnalyserLifecycle, BeginResetsTheRunningStateAndTheTrack)
{
    Begun b;
    PitchAnalyser& a = b.analyser;
    b.emitAt(0, 220.0f, 5000);
    a.jumpDir = 1;
    a.frameCounter = 9;
    songSettings.tempo = 90;
    a.begin(&b.sequence, true);
    EXPECT_EQ(b.sequence.raw->count, 0);
    EXPECT_EQ(a.frameCounter, 0);
    EXPECT_EQ(a.prevFreq, 0);
    EXPECT_EQ(a.prevPitch, 0.0f);
    EXPECT_EQ(a.prevLevel, 0);
    EXPECT_EQ(a.runCounter, 0);
    EXPECT_EQ(a.jumpDir, 0);
    EXPECT_EQ(songSettings.tempo, 120);
    EXPECT_EQ(a.settings, &songSettings);
    EXPECT_EQ(a.params, &b.sequence.params);
}

TEST(PitchAnalyserLifecycle, UnsupportedFormatsLeaveTheAnalyserIdle)
{
    const WAVEFORMATEX unsupported[] = {pcm(1, 22050, 24), pcm(0, 22050, 16), pcm(1, 1000, 16),
                                        pcm(1, 1000000, 16)};
    for (const WAVEFORMATEX& format : unsupported) {
        Begun b(format);
        EXPECT_FALSE(b.analyser.active) << format.wBitsPerSample << " " << format.nSamplesPerSec;
        ASSERT_TRUE(b.sequence.raw);
        const uint8_t bytes[64] = {};
        b.analyser.feed(bytes, sizeof bytes);
        EXPECT_EQ(b.analyser.frameCounter, 0);
    }
    NoteSequence sequence;
    PitchAnalyser analyser;
    analyser.setupParams(sequence, nullptr);
    analyser.begin(&sequence, false);
    EXPECT_FALSE(analyser.active);
}

TEST(PitchAnalyserDecoding, EightBitIsUnsignedAndStereoTakesTheFirstChannel)
{
    Begun mono8(pcm(1, 22050, 8));
    const uint8_t bytes8[] = {0, 128, 255, 1};
    mono8.analyser.decodeSamples(bytes8, sizeof bytes8);
    ASSERT_EQ(mono8.analyser.sampleCount, 4);
    EXPECT_EQ(mono8.analyser.samples[0], -128);
    EXPECT_EQ(mono8.analyser.samples[1], 0);
    EXPECT_EQ(mono8.analyser.samples[2], 127);
    EXPECT_EQ(mono8.analyser.samples[3], -127);

    Begun stereo8(pcm(2, 22050, 8));
    stereo8.analyser.decodeSamples(bytes8, sizeof bytes8);
    ASSERT_EQ(stereo8.analyser.sampleCount, 2);
    EXPECT_EQ(stereo8.analyser.samples[0], -128);
    EXPECT_EQ(stereo8.analyser.samples[1], 127);

    Begun stereo16(pcm(2, 22050, 16));
    const uint8_t bytes16[] = {0x01, 0x80, 0xff, 0x7f, 0xfe, 0xff, 0x00, 0x00, 0x7f};
    stereo16.analyser.decodeSamples(bytes16, sizeof bytes16);
    ASSERT_EQ(stereo16.analyser.sampleCount, 2); // the odd trailing byte is ignored
    EXPECT_EQ(stereo16.analyser.samples[0], -32767);
    EXPECT_EQ(stereo16.analyser.samples[1], -2);
}

TEST(PitchAnalyserDecoding, BufferSizesAreSafe)
{
    Begun b;
    PitchAnalyser& a = b.analyser;
    std::vector<uint8_t> large(10000);
    for (size_t i = 0; i < large.size(); i += 2)
        large[i + 1] = static_cast<uint8_t>(60 * std::sin(i * 0.02));
    a.feed(large.data(), static_cast<uint32_t>(large.size()));
    EXPECT_EQ(a.sampleCount, a.sampleCapacity);
    EXPECT_EQ(a.frameCounter, 1);

    a.feed(large.data(), 0);
    EXPECT_EQ(a.sampleCount, 0);
    a.feed(nullptr, 1236);
    EXPECT_EQ(a.sampleCount, 0);
    a.feed(large.data(), 3);
    EXPECT_EQ(a.sampleCount, 1);
    EXPECT_EQ(a.frameCounter, 4); // every buffer counts as a frame, the empty ones unvoiced
}

TEST(PitchAnalyserTurningPoints, DirectionsKeepThroughEqualSamplesAndRowsCarrySwingAndRun)
{
    Begun b;
    PitchAnalyser& a = b.analyser;
    const int32_t y[] = {0, 5, 5, 3, 3, 4, 10, 2};
    a.sampleCount = 8;
    std::copy(std::begin(y), std::end(y), a.samples);
    a.findDirections();
    const uint8_t expectedDir[] = {1, 1, 1, 0, 0, 1, 1, 0};
    for (int32_t i = 0; i < 8; ++i)
        EXPECT_EQ(a.dir[i], expectedDir[i]) << i;
    ASSERT_EQ(a.runs, 4);

    a.buildTurningPointTable();
    const int32_t pos[] = {0, 2, 4, 6};
    const int32_t swing[] = {0, 5, -2, 7};
    const int32_t run[] = {0, 2, -2, 2};
    for (int32_t r = 0; r < 4; ++r) {
        EXPECT_EQ(a.tpPos[r], pos[r]) << r;
        EXPECT_EQ(a.tpSwing[r], swing[r]) << r;
        EXPECT_EQ(a.tpRun[r], run[r]) << r;
    }
}

TEST(PitchAnalyserTurningPoints, FlatFrameHasOneRun)
{
    Begun b;
    PitchAnalyser& a = b.analyser;
    a.sampleCount = 100;
    std::fill(a.samples, a.samples + 100, 42);
    a.findDirections();
    EXPECT_EQ(a.runs, 1);
}

TEST(PitchAnalyserGroups, PeaksSkipOneStrayRunAndTroughsGroupByMagnitude)
{
    Begun b;
    PitchAnalyser& a = b.analyser;
    // Row 3 is close in size to the main peaks but its run is half again as long.
    b.setRows({10000, -10000, 8000, -9900, 7500, -9800, 9950, -300}, {10, -10, 15, -10, 10, -10, 10, -5});
    EXPECT_EQ(a.buildGroups(), 2);
    const int16_t expected[] = {0, 1, 2, 0, 2, 1, 2, 1, 0};
    for (int32_t r = 0; r < a.runs; ++r)
        EXPECT_EQ(a.tpGroup[r], expected[r]) << r;
    EXPECT_EQ(a.firstPeakCount, 3);
    EXPECT_EQ(a.firstTroughCount, 3);
    EXPECT_EQ(a.sumDiff, 50 + 2450);
    EXPECT_EQ(a.sumSwing, 9950 + 7500);
    EXPECT_FALSE(a.steady); // 6 of 9 rows in the main groups
    EXPECT_EQ(a.level, 57150 / 6);
    EXPECT_EQ(a.meanSwing, 10000); // first frame: the largest swing
    a.frameCounter = 1;
    a.buildGroups();
    EXPECT_EQ(a.meanSwing, 57150 / 6);
}

TEST(PitchAnalyserGroups, LoneSwingsFormNoGroupAndLaterGroupsGetHigherLabels)
{
    Begun b;
    PitchAnalyser& a = b.analyser;
    b.setRows({10000, -10000, 5000, -10000, 10000, -6000, 5000, -6000, 2000, -300},
              {10, -10, 10, -10, 10, -10, 10, -10, 10, -10});
    EXPECT_EQ(a.buildGroups(), 4);
    const int16_t expected[] = {0, 1, 2, 3, 2, 1, 4, 3, 4, 0, 0};
    for (int32_t r = 0; r < a.runs; ++r)
        EXPECT_EQ(a.tpGroup[r], expected[r]) << r;
    EXPECT_EQ(a.peakGroups, 2);
    EXPECT_EQ(a.troughGroups, 2);
}

TEST(PitchAnalyserGroups, CleanWaveIsSteady)
{
    Begun b;
    PitchAnalyser& a = b.analyser;
    b.setRows({10000, -10000, 9900, -9950, 10000, -10000, 9950, -9900}, {10, -10, 10, -10, 10, -10, 10, -10});
    EXPECT_EQ(a.buildGroups(), 2);
    EXPECT_TRUE(a.steady);
}

TEST(PitchAnalyserGroups, SwingAtTheGateFormsNoGroups)
{
    Begun b;
    PitchAnalyser& a = b.analyser;
    b.setRows({1310, -1310, 1310, -1310}, {10, -10, 10, -10});
    EXPECT_EQ(a.buildGroups(), 0);
    EXPECT_EQ(a.level, 0);
    b.setRows({1311, -1310, 1310, -1310}, {10, -10, 10, -10});
    EXPECT_EQ(a.buildGroups(), 2);
}

TEST(PitchAnalyserRanks, RanksFollowRunLengthWithinEachPeriod)
{
    Begun b;
    PitchAnalyser& a = b.analyser;
    b.setLabels(a.tpGroup, {0, 1, 2, 0, 3, 1, 2, 1, 2, 3, 4, 5});
    const int32_t runs[] = {0, 10, -12, -3, 13, 10, -10, 20, -20, 8, -8, 7};
    std::copy(std::begin(runs), std::end(runs), a.tpRun);
    a.buildRankLabels();
    // Period 1: lengths 13, 12, 10 -> ranks 1, 1, 2 (a step counts above 10 %); the
    // unlabelled row is skipped.
    // Period 2: a tie puts the newer row first and both share rank 1.
    // Period 3: only four rows are ranked.
    const int16_t expected[] = {0, 2, 1, 0, 1, 1, 1, 1, 1, 2, 2, 0};
    for (int32_t r = 0; r < a.runs; ++r)
        EXPECT_EQ(a.tpRank[r], expected[r]) << r;
}

namespace {

// Two label windows of length n, the second 100 samples after the first, and the
// number of candidates a search finds between them.
int32_t searchTwoWindows(Begun& b, int32_t n, std::vector<int16_t> first, std::vector<int16_t> second)
{
    PitchAnalyser& a = b.analyser;
    std::vector<int16_t> labels{0};
    labels.insert(labels.end(), first.begin(), first.end());
    labels.insert(labels.end(), second.begin(), second.end());
    b.setLabels(a.tpGroup, labels);
    for (int32_t r = 0; r < a.runs; ++r)
        a.tpPos[r] = r < 1 + n ? 10 : 110;
    a.candidates.clear();
    return a.patternSearch(a.tpGroup, n);
}

} // namespace

TEST(PitchAnalyserPatterns, ScoreThresholdsByWindowLength)
{
    Begun b;
    // Window 8: squared differences of 36 + 4 = 40 still match, 41 do not.
    EXPECT_EQ(searchTwoWindows(b, 8, {1, 2, 0, 0, 0, 0, 0, 0}, {1, 8, 2, 0, 0, 0, 0, 0}), 1);
    ASSERT_EQ(b.analyser.candidates.count, 1);
    EXPECT_EQ(b.analyser.candidates[0].tag, 0);
    EXPECT_EQ(b.analyser.candidates[0].weight, 8);
    EXPECT_FLOAT_EQ(b.analyser.candidates[0].value, 220.5f);
    EXPECT_EQ(searchTwoWindows(b, 8, {1, 2, 0, 0, 0, 0, 0, 0}, {1, 8, 2, 1, 0, 0, 0, 0}), 0);
    // Window 4: a sum of 2 matches, 3 does not. Window 2: only identical windows match.
    EXPECT_EQ(searchTwoWindows(b, 4, {1, 2, 3, 4}, {1, 3, 4, 4}), 1);
    EXPECT_EQ(searchTwoWindows(b, 4, {1, 2, 3, 4}, {1, 3, 4, 5}), 0);
    EXPECT_EQ(searchTwoWindows(b, 2, {1, 2}, {1, 2}), 1);
    EXPECT_EQ(searchTwoWindows(b, 2, {1, 2}, {1, 3}), 0);
    // A short last window ends the search.
    EXPECT_EQ(searchTwoWindows(b, 4, {1, 2, 3, 4}, {1, 2, 3}), 0);
}

TEST(PitchAnalyserPatterns, EveryMatchingPairGivesAPeriodWithinRange)
{
    Begun b;
    PitchAnalyser& a = b.analyser;
    b.setLabels(a.tpGroup, {0, 3, 1, 2, 0, 1, 2, 1, 2, 1, 2});
    const int32_t pos[] = {0, 5, 10, 60, 70, 110, 160, 200, 205, 210, 215};
    std::copy(std::begin(pos), std::end(pos), a.tpPos);
    // Windows start at rows 2, 5, 7, 9: periods 100, 90 (match each) and 10 (out of range).
    EXPECT_EQ(a.patternSearch(a.tpGroup, 2), 2);
    ASSERT_EQ(a.candidates.count, 2);
    EXPECT_FLOAT_EQ(a.candidates[0].value, 220.5f);
    EXPECT_FLOAT_EQ(a.candidates[1].value, 245.0f);
}

namespace {

void fill(DynArray<PitchCandidate>& list, std::initializer_list<float> values)
{
    for (float v : values)
        list.append(PitchCandidate{0, 4, v});
}

} // namespace

TEST(PitchAnalyserVote, Cases)
{
    PitchAnalyser a;
    DynArray<PitchCandidate> one;
    fill(one, {220.0f});
    EXPECT_EQ(a.voteFrequency(one, 0), 0.0f);

    DynArray<PitchCandidate> close;
    fill(close, {200.0f, 205.0f});
    EXPECT_FLOAT_EQ(a.voteFrequency(close, 0), 202.5f);

    DynArray<PitchCandidate> spread; // 8 % apart: binned, the fuller bin wins
    fill(spread, {100.0f, 108.0f, 100.0f});
    EXPECT_FLOAT_EQ(a.voteFrequency(spread, 0), 100.0f);

    DynArray<PitchCandidate> winner;
    fill(winner, {100.0f, 500.0f, 101.0f, 300.0f, 102.0f});
    EXPECT_FLOAT_EQ(a.voteFrequency(winner, 0), 101.0f);
}

TEST(PitchAnalyserVote, TieFallsBackToTheMeanOrRetriesWithTheHint)
{
    PitchAnalyser a;
    DynArray<PitchCandidate> tie;
    fill(tie, {100.0f, 200.0f, 100.0f, 200.0f});
    EXPECT_FLOAT_EQ(a.voteFrequency(tie, 0), 150.0f); // bins 2, 0, 2
    EXPECT_EQ(tie.count, 4);

    EXPECT_FLOAT_EQ(a.voteFrequency(tie, 110), 310.0f / 3.0f);
    ASSERT_EQ(tie.count, 5); // the hint stays in the list, once
    EXPECT_EQ(tie[4].tag, 0);
    EXPECT_EQ(tie[4].weight, 0);
    EXPECT_FLOAT_EQ(tie[4].value, 110.0f);

    DynArray<PitchCandidate> stillTied;
    fill(stillTied, {100.0f, 200.0f, 100.0f, 200.0f});
    EXPECT_FLOAT_EQ(a.voteFrequency(stillTied, 150), 150.0f);
    EXPECT_EQ(stillTied.count, 5);
}

TEST(PitchAnalyserGroupPeriods, SelectionAlternatesAndPeriodsDropOutliers)
{
    Begun b;
    PitchAnalyser& a = b.analyser;
    // Group 1 (peaks) every 100 samples, group 2 (troughs) every 100 with one stray period.
    b.setLabels(a.tpGroup, {0, 1, 2, 1, 2, 1, 2, 1, 2, 3, 4});
    const int32_t pos[] = {0, 100, 150, 200, 250, 300, 330, 400, 450, 460, 470};
    std::copy(std::begin(pos), std::end(pos), a.tpPos);
    a.peakGroups = 2;
    a.troughGroups = 2;
    a.countGroupMembers();
    EXPECT_EQ(a.histograms[0][0], 2);
    EXPECT_EQ(a.histograms[0][1], 4);
    EXPECT_EQ(a.histograms[0][2], 1);
    EXPECT_EQ(a.histograms[1][1], 4);
    a.histograms[0][2] = 2;
    a.histograms[1][2] = 2;
    a.selectGroups();
    ASSERT_EQ(a.selection[0], 4);
    EXPECT_EQ(a.selection[1], 1);
    EXPECT_EQ(a.selection[2], 2);
    EXPECT_EQ(a.selection[3], 3);
    EXPECT_EQ(a.selection[4], 4);

    a.candidates.clear();
    a.measureGroupPeriod(1, a.periodLists[1]);
    EXPECT_EQ(a.periodLists[1][0], 100);
    EXPECT_EQ(a.periodLists[1][3], 400);
    ASSERT_EQ(a.candidates.count, 1);
    EXPECT_EQ(a.candidates[0].tag, 1);
    EXPECT_EQ(a.candidates[0].weight, 1); // the last period against the last position
    EXPECT_FLOAT_EQ(a.candidates[0].value, 221.0f); // ceil(22050 / 100)

    // Periods 100, 80, 120: every neighbour strays by more than 17 %.
    a.measureGroupPeriod(2, a.periodLists[2]);
    EXPECT_EQ(a.candidates.count, 1);
    EXPECT_EQ(a.groupCandidates, 1);
}

TEST(PitchAnalyserEmit, FirstFrameSetsTheRunningValues)
{
    Begun b;
    PitchAnalyser& a = b.analyser;
    a.candidates.append(PitchCandidate{0, 4, 219.7f});
    a.candidates.append(PitchCandidate{1, 0, 221.0f});
    b.emitAt(0, 220.0f, 5000);
    ASSERT_EQ(b.sequence.raw->count, 1);
    const RawFrame& r = b.raw(0);
    EXPECT_EQ(r.frame, 0);
    EXPECT_FLOAT_EQ(r.frequency, 220.0f);
    EXPECT_NEAR(r.pitch, 57.0f, 0.001f);
    EXPECT_EQ(r.level, 5000);
    ASSERT_EQ(r.candidateCount, 2);
    EXPECT_EQ(r.candidates[0], 219);
    EXPECT_EQ(r.candidates[1], 221);
    EXPECT_EQ(a.prevFreq, 220);
    EXPECT_NEAR(a.prevPitch, 57.0f, 0.001f);
    EXPECT_EQ(a.prevLevel, 5000);
    EXPECT_EQ(a.runCounter, 1);
    EXPECT_EQ(b.sequence.maxLevel, 5000);

    a.emitFrame(0.5f);
    EXPECT_EQ(b.sequence.raw->count, 1);
}

TEST(PitchAnalyserEmit, OneFrameGapIsFilledWithThePreviousPitchAndMeanLevel)
{
    Begun b;
    PitchAnalyser& a = b.analyser;
    b.emitAt(0, 220.0f, 4001);
    b.emitAt(2, 233.0f, 6000);
    ASSERT_EQ(b.sequence.raw->count, 3);
    const RawFrame& gap = b.raw(1);
    EXPECT_EQ(gap.frame, 1);
    EXPECT_EQ(gap.candidateCount, 0);
    EXPECT_EQ(gap.candidates, nullptr);
    EXPECT_FLOAT_EQ(gap.frequency, 220.0f);
    EXPECT_FLOAT_EQ(gap.pitch, b.raw(0).pitch);
    EXPECT_EQ(gap.level, 5000);
    EXPECT_EQ(b.raw(2).frame, 2);
    EXPECT_EQ(a.runCounter, 3);

    b.emitAt(5, 233.0f, 6000); // two frames missing: no fill
    EXPECT_EQ(b.sequence.raw->count, 4);
}

TEST(PitchAnalyserEmit, JumpGuardHoldsOneFrameJumps)
{
    Begun b;
    for (int32_t f = 0; f < 5; ++f)
        b.emitAt(f, 220.0f, 8000);
    b.analyser.candidates.append(PitchCandidate{0, 4, 440.0f});
    b.analyser.candidates.append(PitchCandidate{0, 4, 441.0f});
    b.emitAt(5, 440.0f, 8000);
    EXPECT_NEAR(b.raw(5).pitch, 57.0f, 0.01f);
    EXPECT_FLOAT_EQ(b.raw(5).frequency, 220.0f);
    EXPECT_EQ(b.raw(5).candidateCount, 0);
    b.analyser.candidates.clear();
    b.emitAt(6, 220.0f, 8000);
    EXPECT_NEAR(b.raw(6).pitch, 57.0f, 0.01f);
    EXPECT_EQ(b.analyser.jumpDir, 0);

    // A jump that lasts enters one frame late.
    b.emitAt(7, 440.0f, 8000);
    b.emitAt(8, 440.0f, 8000);
    EXPECT_NEAR(b.raw(7).pitch, 57.0f, 0.01f);
    EXPECT_NEAR(b.raw(8).pitch, 69.0f, 0.01f);
    EXPECT_FLOAT_EQ(b.raw(8).frequency, 440.0f);
    EXPECT_EQ(b.analyser.jumpDir, 2);
}

TEST(PitchAnalyserEmit, JumpGuardStandsAsideWhenThePitchWasMoving)
{
    Begun b;
    const float line[] = {220.0f, 220.0f, 233.1f, 247.0f};
    for (int32_t f = 0; f < 4; ++f)
        b.emitAt(f, line[f], 8000);
    b.emitAt(4, 330.0f, 8000);
    EXPECT_NEAR(b.raw(4).pitch, hertzToPitch(330.0f), 0.001f);
}

TEST(PitchAnalyserEmit, LevelCollapseHoldsThePreviousPitch)
{
    Begun b;
    for (int32_t f = 0; f < 4; ++f)
        b.emitAt(f, 220.0f, 12000);
    b.analyser.candidates.append(PitchCandidate{0, 4, 225.0f});
    b.analyser.candidates.append(PitchCandidate{0, 4, 225.0f});
    b.emitAt(4, 225.0f, 2000); // 12000 / 2000 = 6
    EXPECT_FLOAT_EQ(b.raw(4).frequency, 220.0f);
    EXPECT_EQ(b.raw(4).candidateCount, 0);
    EXPECT_EQ(b.raw(4).level, 2000);
    b.emitAt(5, 225.0f, 1400); // 7000 / 1400 = 5
    EXPECT_FLOAT_EQ(b.raw(5).frequency, 225.0f);
}

TEST(PitchAnalyserEmit, OctaveSnapEarlyInARunMovesThePitchOnly)
{
    Begun b;
    b.emitAt(0, 220.0f, 8000);
    b.emitAt(1, 440.0f, 8000);
    EXPECT_NEAR(b.raw(1).pitch, 57.0f, 0.01f);
    EXPECT_FLOAT_EQ(b.raw(1).frequency, 440.0f);

    EXPECT_FLOAT_EQ(PitchAnalyser::snapToOctave(52.0f, 57.0f), 52.0f);
    EXPECT_FLOAT_EQ(PitchAnalyser::snapToOctave(44.5f, 57.0f), 56.5f);
    EXPECT_FLOAT_EQ(PitchAnalyser::snapToOctave(69.5f, 57.0f), 57.5f);
    EXPECT_FLOAT_EQ(PitchAnalyser::snapToOctave(38.0f, 57.0f), 62.0f); // 19 below: one octave, then one more
}

TEST(PitchAnalyserEmit, GateRisesWithLoudFramesOnly)
{
    Begun b;
    b.emitAt(0, 220.0f, 2000);
    EXPECT_EQ(b.sequence.params.gate, 1310);
    b.emitAt(1, 220.0f, 20000);
    EXPECT_EQ(b.sequence.params.gate, 1420);
    b.emitAt(2, 220.0f, 3000);
    EXPECT_EQ(b.sequence.params.gate, 1420);
}

TEST(PitchAnalyserEmit, LevelIsCappedAtFullScaleAndAtTheRecordsRange)
{
    Begun eightBit(pcm(1, 22050, 8));
    eightBit.emitAt(0, 220.0f, 300);
    EXPECT_EQ(eightBit.raw(0).level, 256);
    EXPECT_EQ(eightBit.sequence.maxLevel, 256);

    Begun loud;
    loud.emitAt(0, 220.0f, 40000);
    EXPECT_EQ(loud.raw(0).level, 32767);
    EXPECT_EQ(loud.sequence.maxLevel, 32767);
}
