#include "notes/Tv2m_data.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

NoteEvent note(int32_t start, int16_t duration, uint8_t number = 60)
{
    return NoteEvent{start, duration, number, 100, 0};
}

std::vector<int32_t> starts(const DynArray<NoteEvent>& list)
{
    std::vector<int32_t> values;
    for (int32_t i = 0; i < list.count; ++i)
        values.push_back(list[i].start);
    return values;
}

RawFrame frameWithCandidates(int32_t frame, std::vector<int16_t> candidates)
{
    RawFrame raw{frame, static_cast<int32_t>(candidates.size()), 440.0f, 69.0f, 100, nullptr};
    if (!candidates.empty()) {
        raw.candidates = new int16_t[candidates.size()];
        std::copy(candidates.begin(), candidates.end(), raw.candidates);
    }
    return raw;
}

// Keeps the process-wide song settings as they were before the test.
class SongSettingsGuard : public ::testing::Test {
protected:
    void SetUp() override
    {
        savedCurrent = songSettings;
        savedStored = storedSongSettings;
    }
    void TearDown() override
    {
        songSettings = savedCurrent;
        storedSongSettings = savedStored;
    }
    SongSettings savedCurrent;
    SongSettings savedStored;
};

} // namespace

TEST(DynArray, AppendGrowsByElevenAndKeepsTheElements)
{
    DynArray<NoteEvent> list(0);
    EXPECT_EQ(list.capacity, 0);
    EXPECT_EQ(list.data, nullptr);
    for (int32_t i = 0; i < 11; ++i)
        ASSERT_TRUE(list.append(note(i, 1)));
    EXPECT_EQ(list.capacity, 11);
    ASSERT_TRUE(list.append(note(11, 1)));
    EXPECT_EQ(list.capacity, 22);
    EXPECT_EQ(list.count, 12);
    EXPECT_EQ(list.end, list.data + 12);
    for (int32_t i = 0; i < 12; ++i)
        EXPECT_EQ(list[i].start, i);
    // Storage past the count is zero-filled.
    EXPECT_EQ(list.data[21].start, 0);
    EXPECT_EQ(list.data[21].duration, 0);
}

TEST(DynArray, InsertGrowsByFiveAndShiftsUpward)
{
    DynArray<NoteEvent> list(0);
    ASSERT_TRUE(list.insertAt(note(2, 1), 0));
    EXPECT_EQ(list.capacity, 5);
    ASSERT_TRUE(list.insertAt(note(0, 1), 0));
    ASSERT_TRUE(list.insertAt(note(1, 1), 1));
    ASSERT_TRUE(list.insertAt(note(9, 1), 100)); // past the end: appended
    ASSERT_TRUE(list.insertAt(note(3, 1), 3));
    EXPECT_EQ(starts(list), (std::vector<int32_t>{0, 1, 2, 3, 9}));
    EXPECT_EQ(list.capacity, 5);
    ASSERT_TRUE(list.insertAt(note(4, 1), 4));
    EXPECT_EQ(list.capacity, 10);
    EXPECT_EQ(starts(list), (std::vector<int32_t>{0, 1, 2, 3, 4, 9}));
    EXPECT_EQ(list.end, list.data + 6);
}

TEST(DynArray, RemoveAtShiftsDownAndIgnoresBadPositions)
{
    DynArray<NoteEvent> list(0);
    list.removeAt(0);
    EXPECT_EQ(list.count, 0);
    for (int32_t i = 0; i < 5; ++i)
        list.append(note(i, 1));
    list.removeAt(5);
    list.removeAt(-1);
    EXPECT_EQ(starts(list), (std::vector<int32_t>{0, 1, 2, 3, 4}));
    list.removeAt(0);
    list.removeAt(1);
    list.removeAt(2);
    EXPECT_EQ(starts(list), (std::vector<int32_t>{1, 3}));
    EXPECT_EQ(list.end, list.data + 2);
}

TEST(DynArray, AtReturnsNullOutsideTheElementsAndClearKeepsStorage)
{
    DynArray<NoteEvent> list(4);
    EXPECT_EQ(list.at(0), nullptr);
    list.append(note(7, 1));
    EXPECT_EQ(list.at(-1), nullptr);
    EXPECT_EQ(list.at(1), nullptr);
    ASSERT_NE(list.at(0), nullptr);
    EXPECT_EQ(list.at(0)->start, 7);
    EXPECT_EQ(list.last(), list.at(0));

    NoteEvent* storage = list.data;
    list.error = true;
    list.clear();
    EXPECT_FALSE(list.error);
    EXPECT_EQ(list.count, 0);
    EXPECT_EQ(list.data, storage);
    EXPECT_EQ(list.end, storage);
    EXPECT_EQ(list.capacity, 4);
    EXPECT_EQ(list.last(), nullptr);
}

TEST(RawTrack, RemovingFramesAndDestroyingTheTrackFreeTheirCandidates)
{
    // The sanitizer build reports any candidates array freed twice or never.
    auto track = std::make_unique<RawTrack>(2);
    track->append(frameWithCandidates(0, {220, 440}));
    track->append(frameWithCandidates(1, {}));
    track->append(frameWithCandidates(2, {330}));
    track->append(frameWithCandidates(3, {110, 220, 440}));
    track->removeFrame(0);
    track->removeFrame(1);
    track->removeFrame(7);
    ASSERT_EQ(track->count, 2);
    EXPECT_EQ((*track)[0].frame, 1);
    EXPECT_EQ((*track)[0].candidates, nullptr);
    EXPECT_EQ((*track)[1].frame, 3);
    ASSERT_EQ((*track)[1].candidateCount, 3);
    EXPECT_EQ((*track)[1].candidates[2], 440);
    track.reset();
}

TEST_F(SongSettingsGuard, NewSequenceStartsEmptyWithTheStoredSettings)
{
    storedSongSettings.tempo = 90;
    songSettings.tempo = 150;
    NoteSequence notes;
    EXPECT_EQ(notes.count, 0);
    EXPECT_EQ(notes.capacity, 32);
    EXPECT_EQ(notes.scratch.capacity, 0);
    EXPECT_EQ(notes.raw, nullptr);
    EXPECT_FALSE(notes.recognised);
    EXPECT_EQ(notes.params.format, nullptr);
    EXPECT_EQ(songSettings.tempo, 90);
}

TEST_F(SongSettingsGuard, BeginRecordingStartsAFreshTake)
{
    NoteSequence notes;
    songSettings.tempo = 90;
    songSettings.recordTempo = 90;
    songSettings.meterNum = 3;
    songSettings.meterDen = 8;
    notes.append(note(0, 10));
    notes.nearHalfCount = 3;
    notes.maxLevel = 500;
    notes.recognised = true;

    ASSERT_FALSE(notes.beginRecording(false));
    EXPECT_EQ(notes.count, 0);
    EXPECT_EQ(notes.nearHalfCount, 0);
    EXPECT_EQ(notes.maxLevel, 0);
    EXPECT_FALSE(notes.recognised);
    ASSERT_NE(notes.raw, nullptr);
    EXPECT_EQ(notes.raw->capacity, 100);
    EXPECT_EQ(notes.raw->count, 0);
    EXPECT_EQ(songSettings.tempo, 90);
    EXPECT_EQ(songSettings.recordTempo, 90);
    EXPECT_EQ(songSettings.meterNum, 4);
    EXPECT_EQ(songSettings.meterDen, 4);

    // A second take replaces the raw track, freeing the old frames' candidates.
    notes.raw->append(frameWithCandidates(0, {220, 440}));
    ASSERT_FALSE(notes.beginRecording(true));
    EXPECT_EQ(notes.raw->count, 0);
    EXPECT_EQ(songSettings.tempo, 120);
    EXPECT_EQ(songSettings.recordTempo, 120);
    notes.raw->append(frameWithCandidates(0, {330}));
}

TEST(FindNoteAt, EmptyAndSingleNoteListsAlwaysGiveZero)
{
    NoteSequence notes;
    EXPECT_EQ(notes.findNoteAt(100, false), 0);
    EXPECT_EQ(notes.findNoteAt(100, true), 0);
    notes.append(note(50, 10));
    for (int32_t t : {0, 50, 60, 1000}) {
        EXPECT_EQ(notes.findNoteAt(t, false), 0);
        EXPECT_EQ(notes.findNoteAt(t, true), 0);
    }
}

TEST(FindNoteAt, ExactFindsTheNoteUpToAndIncludingItsEnd)
{
    NoteSequence notes;
    notes.append(note(10, 10));
    notes.append(note(30, 5));
    notes.append(note(40, 20));
    EXPECT_EQ(notes.findNoteAt(30, true), 1);
    EXPECT_EQ(notes.findNoteAt(35, true), 1);  // start + duration
    EXPECT_EQ(notes.findNoteAt(36, true), -1); // in the gap
    EXPECT_EQ(notes.findNoteAt(36, false), 1);
    EXPECT_EQ(notes.findNoteAt(5, true), -1);
    EXPECT_EQ(notes.findNoteAt(5, false), -1);
    EXPECT_EQ(notes.findNoteAt(60, true), 2);
    EXPECT_EQ(notes.findNoteAt(61, true), -1);
    EXPECT_EQ(notes.findNoteAt(500, false), 2);
}

TEST(FindNoteAt, AgreesWithALinearScanOnLongLists)
{
    for (int32_t size : {2, 3, 7, 16, 33, 100}) {
        NoteSequence notes;
        int32_t start = 5;
        for (int32_t i = 0; i < size; ++i) {
            notes.append(note(start, static_cast<int16_t>(3 + i % 4)));
            start += 4 + (i * 7) % 5;
        }
        for (int32_t t = 0; t < start + 10; ++t) {
            int32_t expected = -1;
            for (int32_t i = 0; i < notes.count; ++i)
                if (notes[i].start <= t)
                    expected = i;
            ASSERT_EQ(notes.findNoteAt(t, false), expected) << "size " << size << " t " << t;
            const bool inside = expected >= 0 && t <= notes[expected].start + notes[expected].duration;
            ASSERT_EQ(notes.findNoteAt(t, true), inside ? expected : -1) << "size " << size << " t " << t;
        }
    }
}

TEST(Pitch, HertzToPitchAndRounding)
{
    EXPECT_NEAR(hertzToPitch(440.0f), 69.0f, 1e-4);
    EXPECT_NEAR(hertzToPitch(110.0f), 45.0f, 1e-4);
    EXPECT_NEAR(hertzToPitch(220.0f * 1.0594631f), 58.0f, 1e-3);
    EXPECT_EQ(roundHalfUp(60.5f), 61);
    EXPECT_EQ(roundHalfUp(60.49f), 60);
}
