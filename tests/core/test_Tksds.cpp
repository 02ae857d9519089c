#include "notes/Tksds.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <vector>

namespace {

float frequencyOf(float pitch) { return 440.0f * std::pow(2.0f, (pitch - 69.0f) / 12.0f); }

NoteEvent note(int32_t start, int16_t duration, uint8_t number, int8_t cents = 0, uint8_t velocity = 100)
{
    return NoteEvent{start, duration, number, velocity, cents};
}

// A note sequence with a fresh raw track, at 480 ticks per quarter and 120 BPM.
class Recognition : public ::testing::Test {
protected:
    void SetUp() override
    {
        savedSettings = songSettings;
        songSettings.tpqn = 480;
        songSettings.recordTempo = 120;
        ASSERT_FALSE(notes.beginRecording(false));
    }
    void TearDown() override { songSettings = savedSettings; }

    void addFrame(int32_t frame, float pitch, int16_t level = 1000, std::initializer_list<int16_t> candidates = {})
    {
        RawFrame raw{frame, static_cast<int32_t>(candidates.size()), frequencyOf(pitch), pitch, level, nullptr};
        if (candidates.size() > 0) {
            raw.candidates = new int16_t[candidates.size()];
            std::copy(candidates.begin(), candidates.end(), raw.candidates);
        }
        ASSERT_TRUE(notes.raw->append(raw));
        notes.maxLevel = std::max<int32_t>(notes.maxLevel, level);
    }

    void addRun(int32_t firstFrame, int32_t length, float pitch, int16_t level = 1000)
    {
        for (int32_t i = 0; i < length; ++i)
            addFrame(firstFrame + i, pitch, level);
    }

    std::vector<int32_t> rawFrameIndices() const
    {
        std::vector<int32_t> frames;
        for (int32_t i = 0; i < notes.raw->count; ++i)
            frames.push_back((*notes.raw)[i].frame);
        return frames;
    }

    std::vector<int32_t> segmentLengths() const
    {
        std::vector<int32_t> lengths;
        for (int32_t i = 0; i < notes.scratch.count; ++i)
            lengths.push_back(notes.scratch[i].weight);
        return lengths;
    }

    NoteSequence notes;
    SongSettings savedSettings;
};

// Segments laid end to end: (length, pitch) pairs.
void fillSegments(DynArray<PitchCandidate>& list, std::initializer_list<std::pair<int16_t, float>> lengthsAndPitches)
{
    list.clear();
    int32_t tag = 0;
    for (const auto& [length, pitch] : lengthsAndPitches) {
        list.append({tag, length, pitch});
        tag += length;
    }
}

} // namespace

TEST_F(Recognition, RunEndStopsAtTheFirstMissingFrame)
{
    for (int32_t frame : {0, 1, 2, 5, 6, 9})
        addFrame(frame, 60.0f);
    EXPECT_EQ(runEnd(*notes.raw, 0), 3);
    EXPECT_EQ(runEnd(*notes.raw, 3), 5);
    EXPECT_EQ(runEnd(*notes.raw, 5), 6);
}

TEST_F(Recognition, MedianFrequencyTakesTruncatedFrequencyAndCandidates)
{
    addFrame(0, 57.0f, 100, {440, 110});
    addFrame(1, 57.0f, 100, {226});
    addFrame(2, 57.0f, 100);
    (*notes.raw)[0].frequency = 220.7f;
    (*notes.raw)[1].frequency = 224.9f;
    (*notes.raw)[2].frequency = 230.0f;
    // 110, 220, 440
    EXPECT_FLOAT_EQ(medianFrequency(*notes.raw, 0, 1), 220.0f);
    // 110, 220, 224, 226, 440
    EXPECT_FLOAT_EQ(medianFrequency(*notes.raw, 0, 2), 224.0f);
    // 224, 226: the mean of the two middle values
    EXPECT_FLOAT_EQ(medianFrequency(*notes.raw, 1, 2), 225.0f);
    // 110, 220, 224, 226, 230, 440
    EXPECT_FLOAT_EQ(medianFrequency(*notes.raw, 0, 3), 225.0f);
    EXPECT_FLOAT_EQ(medianFrequency(*notes.raw, 2, 2), 0.0f);
}

TEST_F(Recognition, PeakLevelIsTheLargestLevelOfTheRange)
{
    addFrame(0, 60.0f, 300);
    addFrame(1, 60.0f, 900);
    addFrame(2, 60.0f, 500);
    EXPECT_EQ(peakLevel(*notes.raw, 0, 3), 900);
    EXPECT_EQ(peakLevel(*notes.raw, 2, 3), 500);
    EXPECT_EQ(peakLevel(*notes.raw, 1, 1), 0);
}

TEST_F(Recognition, CleanUpRemovesIsolatedFramesAndKeepsRunsOfTwo)
{
    addFrame(0, 60.0f, 1000, {261, 523});
    addFrame(3, 62.0f, 1000, {293});
    addFrame(5, 64.0f);
    addFrame(6, 64.0f);
    addRun(9, 3, 67.0f);
    addFrame(20, 69.0f, 1000, {440});
    cleanRawTrack(notes);
    EXPECT_EQ(rawFrameIndices(), (std::vector<int32_t>{5, 6, 9, 10, 11}));

    ASSERT_TRUE(recognise(notes, true));
    ASSERT_EQ(notes.count, 2);
    // Frame 5 starts at tick ceil(5 * 26.88) = 135; two frames last floor(53.76) = 53 ticks.
    EXPECT_EQ(notes[0].start, 135);
    EXPECT_EQ(notes[0].duration, 53);
    EXPECT_EQ(notes[0].note, 64);
    EXPECT_EQ(notes[1].start, 242);
    EXPECT_EQ(notes[1].duration, 80);
    EXPECT_EQ(notes[1].note, 67);
}

TEST_F(Recognition, OctaveAlignmentMovesThePitchOfAStrayFrameButNotItsFrequency)
{
    addRun(0, 2, 60.2f);
    addFrame(2, 48.2f);
    addRun(3, 2, 60.2f);
    const float strayFrequency = (*notes.raw)[2].frequency;
    cleanRawTrack(notes);
    EXPECT_FLOAT_EQ((*notes.raw)[2].pitch, 60.2f);
    EXPECT_FLOAT_EQ((*notes.raw)[2].frequency, strayFrequency);
    EXPECT_FLOAT_EQ((*notes.raw)[0].pitch, 60.2f);
}

TEST_F(Recognition, OctaveAlignmentLeavesTiesAndFarFramesAlone)
{
    // Two frames in each octave: no winner.
    addRun(0, 2, 60.0f);
    addRun(2, 2, 48.0f);
    cleanRawTrack(notes);
    EXPECT_FLOAT_EQ((*notes.raw)[0].pitch, 60.0f);
    EXPECT_FLOAT_EQ((*notes.raw)[1].pitch, 60.0f);
    EXPECT_FLOAT_EQ((*notes.raw)[2].pitch, 48.0f);
    EXPECT_FLOAT_EQ((*notes.raw)[3].pitch, 48.0f);

    // Shifted up an octave, 50 would be 62: more than a semitone from every 60.
    ASSERT_FALSE(notes.beginRecording(false));
    addRun(0, 3, 60.0f);
    addFrame(3, 50.0f);
    cleanRawTrack(notes);
    EXPECT_FLOAT_EQ((*notes.raw)[3].pitch, 50.0f);
}

TEST_F(Recognition, OctaveAlignmentCoversEightFramesIncludingTheEndIndex)
{
    // A run of 3 looks at indices 0..3, which reaches the first frame of the next run.
    addRun(0, 3, 60.2f);
    addRun(10, 2, 48.3f);
    // A run of 12 looks at its first 8 frames only.
    addRun(20, 12, 64.0f);
    (*notes.raw)[5 + 7].pitch = 52.0f;
    (*notes.raw)[5 + 8].pitch = 52.0f;
    cleanRawTrack(notes);
    EXPECT_FLOAT_EQ((*notes.raw)[3].pitch, 60.3f);
    EXPECT_FLOAT_EQ((*notes.raw)[4].pitch, 48.3f);
    EXPECT_FLOAT_EQ((*notes.raw)[5 + 7].pitch, 64.0f);
    EXPECT_FLOAT_EQ((*notes.raw)[5 + 8].pitch, 52.0f);
}

TEST_F(Recognition, OctaveAlignmentIgnoresPitchesOutsideTheCountedOctaves)
{
    addRun(0, 3, 60.0f);
    addFrame(3, 130.0f);
    addFrame(4, -3.0f);
    addFrame(5, 119.6f);
    cleanRawTrack(notes);
    ASSERT_EQ(notes.raw->count, 6);
    EXPECT_FLOAT_EQ((*notes.raw)[3].pitch, 130.0f);
    EXPECT_FLOAT_EQ((*notes.raw)[4].pitch, -3.0f);
    EXPECT_FLOAT_EQ((*notes.raw)[5].pitch, 119.6f);
}

TEST(SameNote, QuarterToneZoneOnlyMatchesItself)
{
    EXPECT_TRUE(sameNote(60.3f, 59.7f));
    EXPECT_TRUE(sameNote(59.7f, 60.3f));
    EXPECT_FALSE(sameNote(60.45f, 60.3f));
    EXPECT_TRUE(sameNote(60.45f, 60.5f));
    EXPECT_FALSE(sameNote(60.5f, 60.7f));
    EXPECT_TRUE(sameNote(60.1f, 60.3f));
    EXPECT_TRUE(sameNote(60.7f, 60.8f));
    EXPECT_FALSE(sameNote(60.3f, 61.3f));
    EXPECT_FALSE(sameNote(60.3f, 58.7f));
    EXPECT_FALSE(sameNote(60.5f, 59.7f));
    // Edges of the quarter-tone zone.
    EXPECT_TRUE(sameNote(60.595f, 60.8f));
    EXPECT_FALSE(sameNote(60.595f, 60.5f));
    EXPECT_TRUE(sameNote(60.43f, 60.58f));
    EXPECT_FALSE(sameNote(60.41f, 60.43f));
}

TEST_F(Recognition, RunOfEightFramesGivesOneNote)
{
    addRun(0, 4, 60.0f);
    addRun(4, 4, 64.0f);
    ASSERT_TRUE(recognise(notes, true));
    ASSERT_EQ(notes.count, 1);
    EXPECT_EQ(notes[0].start, 0);
    EXPECT_EQ(notes[0].duration, 215); // floor(8 * 26.88)
    EXPECT_EQ(notes[0].velocity, 123);
}

TEST_F(Recognition, LongRunsAreCutIntoSegmentsOfThreeWithTheRestInTheLast)
{
    addRun(0, 12, 60.0f);
    cutIntoSegments(notes, 0, 9);
    EXPECT_EQ(segmentLengths(), (std::vector<int32_t>{3, 3, 3}));
    cutIntoSegments(notes, 0, 11);
    EXPECT_EQ(segmentLengths(), (std::vector<int32_t>{3, 3, 5}));
    EXPECT_EQ(notes.scratch[2].tag, 6);
    cutIntoSegments(notes, 0, 12);
    EXPECT_EQ(segmentLengths(), (std::vector<int32_t>{3, 3, 3, 3}));
    EXPECT_NEAR(notes.scratch[0].value, hertzToPitch(static_cast<float>(static_cast<int16_t>(frequencyOf(60.0f)))),
                1e-4);
}

TEST_F(Recognition, NineFramesOfThreePitchesGiveThreeNotes)
{
    addRun(0, 3, 60.0f);
    addRun(3, 3, 64.0f);
    addRun(6, 3, 67.0f);
    ASSERT_TRUE(recognise(notes, true));
    ASSERT_EQ(notes.count, 3);
    EXPECT_EQ(notes[0].note, 60);
    EXPECT_EQ(notes[1].note, 64);
    EXPECT_EQ(notes[2].note, 67);
    EXPECT_EQ(notes[1].start, 81);  // ceil(3 * 26.88)
    EXPECT_EQ(notes[2].start, 162); // ceil(6 * 26.88)
    EXPECT_EQ(notes[2].duration, 80);
}

TEST(Segments, EqualNeighboursMergeAndKeepTheFirstPitch)
{
    DynArray<PitchCandidate> list(0);
    fillSegments(list, {{3, 60.1f}, {3, 60.3f}, {3, 59.8f}, {3, 62.0f}});
    mergeEqualSegments(list);
    ASSERT_EQ(list.count, 2);
    EXPECT_EQ(list[0].weight, 9);
    EXPECT_FLOAT_EQ(list[0].value, 60.1f);
    EXPECT_EQ(list[1].tag, 9);
}

TEST(Segments, ShortSegmentBetweenLongOnesIsSplitBetweenThem)
{
    DynArray<PitchCandidate> list(0);
    fillSegments(list, {{12, 60.0f}, {4, 64.0f}, {12, 67.0f}});
    EXPECT_TRUE(absorbShortSegments(list));
    ASSERT_EQ(list.count, 2);
    EXPECT_EQ(list[0].weight, 14);
    EXPECT_EQ(list[1].tag, 14);
    EXPECT_EQ(list[1].weight, 14);
    EXPECT_FLOAT_EQ(list[1].value, 67.0f);
}

TEST(Segments, TwoShortSegmentsNeedASecondPass)
{
    DynArray<PitchCandidate> list(0);
    fillSegments(list, {{12, 60.0f}, {3, 64.0f}, {3, 65.0f}, {12, 67.0f}});
    EXPECT_FALSE(absorbShortSegments(list));
    ASSERT_EQ(list.count, 3);
    EXPECT_EQ(list[0].weight, 15);
    EXPECT_TRUE(absorbShortSegments(list));
    ASSERT_EQ(list.count, 2);
    EXPECT_EQ(list[0].weight, 16);
    EXPECT_EQ(list[1].tag, 16);
    EXPECT_EQ(list[1].weight, 14);
}

TEST(Segments, ShortSegmentsAtEitherEndJoinTheirLongNeighbour)
{
    DynArray<PitchCandidate> leading(0);
    fillSegments(leading, {{3, 64.0f}, {12, 60.0f}});
    EXPECT_TRUE(absorbShortSegments(leading));
    ASSERT_EQ(leading.count, 1);
    EXPECT_EQ(leading[0].tag, 0);
    EXPECT_EQ(leading[0].weight, 15);
    EXPECT_FLOAT_EQ(leading[0].value, 60.0f);

    DynArray<PitchCandidate> trailing(0);
    fillSegments(trailing, {{12, 60.0f}, {4, 64.0f}});
    EXPECT_TRUE(absorbShortSegments(trailing));
    ASSERT_EQ(trailing.count, 1);
    EXPECT_EQ(trailing[0].weight, 16);
    EXPECT_FLOAT_EQ(trailing[0].value, 60.0f);

    DynArray<PitchCandidate> allShort(0);
    fillSegments(allShort, {{3, 60.0f}, {3, 64.0f}, {3, 67.0f}});
    EXPECT_FALSE(absorbShortSegments(allShort));
    EXPECT_EQ(allShort.count, 3);
}

TEST_F(Recognition, ShortDeviationInALongRunIsKeptOnlyWithMergingOff)
{
    addRun(0, 12, 60.0f);
    addRun(12, 3, 64.0f);
    addRun(15, 12, 67.0f);

    ASSERT_TRUE(recognise(notes, false));
    ASSERT_EQ(notes.count, 3);
    EXPECT_EQ(notes[1].note, 64);
    EXPECT_EQ(notes[1].duration, 80);

    ASSERT_TRUE(recognise(notes, true));
    ASSERT_EQ(notes.count, 2);
    // 13 frames of 60 then 14 frames of 67.
    EXPECT_EQ(notes[0].note, 60);
    EXPECT_EQ(notes[0].duration, 349);
    EXPECT_EQ(notes[1].note, 67);
    EXPECT_EQ(notes[1].start, 350);
    EXPECT_EQ(notes[1].duration, 376);
}

TEST_F(Recognition, TwoShortDeviationsInARowNeedTheSecondAbsorption)
{
    addRun(0, 12, 60.0f);
    addRun(12, 3, 64.0f);
    addRun(15, 3, 65.0f);
    addRun(18, 12, 67.0f);
    ASSERT_TRUE(recognise(notes, true));
    ASSERT_EQ(notes.count, 2);
    // 16 frames of 60 then 14 frames of 67.
    EXPECT_EQ(notes[0].duration, 430);
    EXPECT_EQ(notes[1].note, 67);
    EXPECT_EQ(notes[1].start, 431);
    EXPECT_EQ(notes[1].duration, 376);
}

TEST_F(Recognition, ShortNoteMergingNeedsAdjacentShortAndLongNotes)
{
    for (const NoteEvent& n : {note(0, 12, 60), note(12, 4, 64), note(16, 12, 67), note(30, 4, 69)})
        notes.append(n);
    mergeSameNotes(notes);
    EXPECT_EQ(notes.count, 4);
    mergeShortNotes(notes);
    ASSERT_EQ(notes.count, 3);
    EXPECT_EQ(notes[0].duration, 16);
    EXPECT_EQ(notes[0].note, 60);
    EXPECT_EQ(notes[1].start, 16);
    EXPECT_EQ(notes[2].start, 30); // after a gap: stays

    notes.clear();
    notes.append(note(0, 4, 64, 10, 100));
    notes.append(note(4, 12, 60, -20, 81));
    mergeShortNotes(notes);
    ASSERT_EQ(notes.count, 1);
    EXPECT_EQ(notes[0].note, 60);
    EXPECT_EQ(notes[0].cents, -20);
    EXPECT_EQ(notes[0].velocity, 90);
    EXPECT_EQ(notes[0].duration, 16);
}

TEST_F(Recognition, SameNoteMergingAveragesThePitch)
{
    notes.append(note(0, 5, 60, 30));
    notes.append(note(5, 5, 60, -30));
    notes.append(note(10, 5, 60, 45));
    notes.append(note(15, 5, 61, -30));
    notes.append(note(20, 5, 61, -20));
    mergeSameNotes(notes);
    ASSERT_EQ(notes.count, 3);
    EXPECT_EQ(notes[0].note, 60);
    EXPECT_EQ(notes[0].cents, 0);
    EXPECT_EQ(notes[0].duration, 10);
    EXPECT_EQ(notes[1].cents, 45);
    // 60.7 and 60.8 average to 60.75: note 61, 25 cents below it.
    EXPECT_EQ(notes[2].note, 61);
    EXPECT_EQ(notes[2].cents, -25);
    EXPECT_EQ(notes[2].start, 15);
    EXPECT_EQ(notes[2].duration, 10);
}

TEST_F(Recognition, MergingNeverOverflowsANoteLength)
{
    notes.append(note(0, 20000, 60));
    notes.append(note(20000, 20000, 60));
    notes.append(note(40000, 5, 60));
    mergeSameNotes(notes);
    mergeShortNotes(notes);
    ASSERT_EQ(notes.count, 2);
    EXPECT_EQ(notes[0].duration, 20000);
    EXPECT_EQ(notes[1].duration, 20005);
}

TEST_F(Recognition, AddNoteRoundsToTheNearestNoteAndCountsQuarterTones)
{
    addRun(0, 4, 60.0f);
    addNote(notes, 0, 3, 60.25f, 1000);
    addNote(notes, 0, 3, 60.75f, 0);
    addNote(notes, 1, 2, 60.5f, 1000);
    ASSERT_EQ(notes.count, 3);
    EXPECT_EQ(notes[0].note, 60);
    EXPECT_EQ(notes[0].cents, 25);
    EXPECT_EQ(notes[0].duration, 4);
    EXPECT_EQ(notes[1].note, 61);
    EXPECT_EQ(notes[1].cents, -25);
    EXPECT_EQ(notes[1].velocity, 61);
    EXPECT_EQ(notes[2].note, 60);
    EXPECT_EQ(notes[2].cents, 50);
    EXPECT_EQ(notes[2].start, 1);
    EXPECT_EQ(notes[2].duration, 2);
    EXPECT_EQ(notes.nearHalfCount, 1);
}

TEST(KeyDetection, ChoosesTheBestFittingKey)
{
    NoteSequence notes;
    for (const NoteEvent& n : {note(0, 20, 60), note(0, 8, 64), note(0, 16, 67), note(0, 4, 65), note(0, 4, 62),
                               note(0, 2, 70)})
        notes.append(n);
    EXPECT_EQ(chooseKey(notes), 7); // C major

    notes.clear();
    for (const NoteEvent& n : {note(0, 20, 69), note(0, 8, 72), note(0, 16, 76), note(0, 4, 68), note(0, 2, 66),
                               note(0, 4, 71)})
        notes.append(n);
    EXPECT_EQ(chooseKey(notes), 19); // A minor

    // A long F sung a quarter tone sharp also counts as F#, which tips C major into G major.
    notes.clear();
    for (const NoteEvent& n : {note(0, 8, 60), note(0, 8, 62), note(0, 8, 64), note(0, 8, 67), note(0, 8, 69),
                               note(0, 16, 71), note(0, 20, 65, 48)})
        notes.append(n);
    EXPECT_EQ(chooseKey(notes), 8);

    // Relative major and minor keys share their scale.
    for (int32_t k = 0; k < 12; ++k)
        for (int32_t pc = 0; pc < 12; ++pc)
            EXPECT_EQ(keyWeight(pc, k) >= 0.1f, keyWeight(pc, k + 12) >= 0.1f) << "key " << k << " pc " << pc;
    EXPECT_FLOAT_EQ(keyWeight(0, 7), 0.105f);
    EXPECT_FLOAT_EQ(keyWeight(9, 19), 0.1f);
    EXPECT_FLOAT_EQ(keyWeight(0, 19), 0.105f);
}

TEST_F(Recognition, QuarterToneNoteIsResolvedByTheKey)
{
    // C, E, G, then a C sung a quarter tone sharp, then D and F.
    const float cMelody[] = {60.0f, 64.0f, 67.0f, 60.5f, 62.0f, 65.0f};
    for (int i = 0; i < 6; ++i)
        addRun(i * 10, 8, cMelody[i]);
    ASSERT_TRUE(recognise(notes, true));
    EXPECT_EQ(notes.nearHalfCount, 1);
    ASSERT_EQ(notes.count, 6);
    EXPECT_EQ(notes[3].note, 60);
    EXPECT_EQ(notes[3].cents, 40);

    // A, C#, E, the same quarter-tone note, B, D, G#: A major prefers C#.
    ASSERT_FALSE(notes.beginRecording(false));
    const float aMelody[] = {69.0f, 73.0f, 76.0f, 60.5f, 71.0f, 74.0f, 68.0f};
    for (int i = 0; i < 7; ++i)
        addRun(i * 10, 8, aMelody[i]);
    ASSERT_TRUE(recognise(notes, true));
    ASSERT_EQ(notes.count, 7);
    EXPECT_EQ(notes[3].note, 61);
    EXPECT_EQ(notes[3].cents, -40);
}

TEST_F(Recognition, FramesBecomeTicksAtTheRecordingTempo)
{
    notes.append(note(10, 5, 60));
    convertToTicks(notes);
    EXPECT_EQ(notes[0].start, 269);
    EXPECT_EQ(notes[0].duration, 134);

    notes.clear();
    songSettings.recordTempo = 60;
    songSettings.tpqn = 96;
    notes.append(note(10, 5, 60));
    convertToTicks(notes);
    EXPECT_EQ(notes[0].start, 27);    // ceil(26.88)
    EXPECT_EQ(notes[0].duration, 13); // floor(13.44)
}

TEST_F(Recognition, NoteTooLongForSixteenBitsIsSplitNotWrapped)
{
    notes.append(note(0, 10, 60));
    notes.append(note(10, 2143, 62)); // 60 s: 57603 ticks
    notes.append(note(2153, 10, 64));
    convertToTicks(notes);
    ASSERT_EQ(notes.count, 4);
    EXPECT_EQ(notes[1].note, 62);
    EXPECT_EQ(notes[2].note, 62);
    EXPECT_EQ(notes[1].start, 269);
    EXPECT_EQ(notes[1].duration, 28802);
    EXPECT_EQ(notes[2].start, 269 + 28802);
    EXPECT_EQ(notes[2].duration, 28801);
    EXPECT_EQ(notes[3].start, 57873); // ceil(2153 * 26.88)
    EXPECT_EQ(notes[3].note, 64);
}

TEST_F(Recognition, VeryLongRunGivesNotesThatFitSixteenBits)
{
    addRun(0, 40000, 60.0f);
    ASSERT_TRUE(recognise(notes, true));
    int64_t total = 0;
    int32_t expectedStart = 0;
    for (int32_t i = 0; i < notes.count; ++i) {
        EXPECT_GT(notes[i].duration, 0);
        EXPECT_EQ(notes[i].note, 60);
        EXPECT_GE(notes[i].start, expectedStart);
        expectedStart = notes[i].start + notes[i].duration;
        total += notes[i].duration;
    }
    // Pieces of 16384 + 23616 frames, each floor(frames * 26.88) ticks long.
    EXPECT_EQ(total, 440401 + 634798);
}

TEST(Velocity, FollowsThePeakRelativeToTheLoudestFrame)
{
    EXPECT_EQ(noteVelocity(1000, 1000), 123);
    EXPECT_EQ(noteVelocity(0, 1000), 61);
    EXPECT_EQ(noteVelocity(357, 1000), 91);
    EXPECT_EQ(noteVelocity(0, 0), 61);
    EXPECT_EQ(noteVelocity(500, 0), 61);
}

TEST(Summary, QuantiseToPowersOfTwoOfTheUnit)
{
    EXPECT_EQ(quantise(120, 30), 120);
    EXPECT_EQ(quantise(134, 30), 120);
    EXPECT_EQ(quantise(215, 30), 240);
    EXPECT_EQ(quantise(53, 30), 60);
    EXPECT_EQ(quantise(0, 30), 30);
    EXPECT_EQ(quantise(5, 0), 4); // a unit below 1 counts as 1
}

TEST(Summary, MedianOfAWorkList)
{
    DynArray<PitchCandidate> list(0);
    EXPECT_FLOAT_EQ(scratchMedian(list, true), 0.0f);
    list.append({480, 5, 0.0f});
    EXPECT_FLOAT_EQ(scratchMedian(list, true), 480.0f);
    EXPECT_FLOAT_EQ(scratchMedian(list, false), 5.0f);
    list.append({120, 4, 0.0f});
    EXPECT_FLOAT_EQ(scratchMedian(list, true), 300.0f);
    list.append({960, 6, 0.0f});
    EXPECT_FLOAT_EQ(scratchMedian(list, true), 480.0f);
    list.append({30, 3, 0.0f});
    EXPECT_FLOAT_EQ(scratchMedian(list, false), 4.5f);
}

TEST_F(Recognition, SummaryOfAMelody)
{
    // Lengths quantise to 120, 240, 480, 480, 960 (median 480: quarter notes, division 4);
    // octaves 5, 5, 5, 4, 6 (median 5, lowest 4, highest 6).
    for (const NoteEvent& n : {note(0, 120, 60), note(120, 240, 62), note(360, 470, 64), note(830, 490, 48),
                               note(1320, 950, 72)})
        notes.append(n);
    songSettings.suggestedShift = 9;
    computeSummary(notes);
    EXPECT_EQ(notes.noteDivision, 4);
    EXPECT_EQ(notes.medianOctave, 5);
    EXPECT_EQ(notes.octaveShift, 0);
    EXPECT_EQ(notes.octaveRoom, 2);
    EXPECT_EQ(songSettings.suggestedShift, 0);

    // A low melody: octave 3 throughout, lengths 100 -> 120 (sixteenths).
    notes.clear();
    for (const NoteEvent& n : {note(0, 100, 40), note(100, 100, 43), note(200, 100, 45)})
        notes.append(n);
    computeSummary(notes);
    EXPECT_EQ(notes.noteDivision, 16);
    EXPECT_EQ(notes.medianOctave, 3);
    EXPECT_EQ(notes.octaveShift, 1);
    EXPECT_EQ(notes.octaveRoom, 3);
    EXPECT_EQ(songSettings.suggestedShift, 1);

    // A very high melody is shifted down.
    notes.clear();
    for (const NoteEvent& n : {note(0, 480, 96), note(480, 480, 100)})
        notes.append(n);
    computeSummary(notes);
    EXPECT_EQ(notes.octaveShift, -4);

    // One note: its own length and octave.
    notes.clear();
    notes.append(note(0, 480, 60));
    computeSummary(notes);
    EXPECT_EQ(notes.noteDivision, 4);
    EXPECT_EQ(notes.medianOctave, 5);
    EXPECT_EQ(notes.octaveRoom, 1);
}

TEST_F(Recognition, RecognitionFillsTheSummary)
{
    // Four eighth-ish notes of 8 frames (215 ticks -> 240) at C5, E5, G5, C6.
    const float pitches[] = {60.0f, 64.0f, 67.0f, 72.0f};
    for (int i = 0; i < 4; ++i)
        addRun(i * 10, 8, pitches[i]);
    songSettings.suggestedShift = 9;
    ASSERT_TRUE(recognise(notes, true));
    ASSERT_EQ(notes.count, 4);
    EXPECT_TRUE(notes.recognised);
    EXPECT_EQ(notes[3].note, 72);
    EXPECT_EQ(notes.noteDivision, 8);
    EXPECT_EQ(notes.medianOctave, 5);
    EXPECT_EQ(notes.octaveShift, 0);
    EXPECT_EQ(notes.octaveRoom, 1);
    EXPECT_EQ(songSettings.suggestedShift, 0);

    // Running again replaces the notes with the same result.
    std::vector<int32_t> starts;
    for (int32_t i = 0; i < notes.count; ++i)
        starts.push_back(notes[i].start);
    ASSERT_TRUE(recognise(notes, true));
    ASSERT_EQ(notes.count, 4);
    for (int32_t i = 0; i < notes.count; ++i)
        EXPECT_EQ(notes[i].start, starts[static_cast<size_t>(i)]);
}

TEST_F(Recognition, NothingToRecogniseLeavesTheNotes)
{
    notes.append(note(0, 10, 60));
    EXPECT_FALSE(recognise(notes, true));
    EXPECT_EQ(notes.count, 1);
    EXPECT_FALSE(notes.recognised);

    NoteSequence fresh;
    fresh.append(note(0, 10, 60));
    EXPECT_FALSE(recognise(fresh, true));
    EXPECT_EQ(fresh.count, 1);
    cleanRawTrack(fresh);
    EXPECT_EQ(fresh.count, 1);
}
