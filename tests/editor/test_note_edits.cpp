// The editor's arithmetic and edits without a window: geometry, zoom, wheel, grid, scrolling,
// the dialog's stepping, the actions, overlap trimming and the undo history.

#include <gtest/gtest.h>

#include <vector>

#include "editor/NoteEdits.h"
#include "editor/PianoRollView.h"

namespace {

void fill(NoteSequence& notes, const std::vector<NoteEvent>& events)
{
    notes.clear();
    for (const NoteEvent& e : events)
        notes.append(e);
}

std::vector<int32_t> starts(const NoteSequence& notes)
{
    std::vector<int32_t> out;
    for (int32_t i = 0; i < notes.count; ++i)
        out.push_back(notes[i].start);
    return out;
}

std::vector<int32_t> durations(const NoteSequence& notes)
{
    std::vector<int32_t> out;
    for (int32_t i = 0; i < notes.count; ++i)
        out.push_back(notes[i].duration);
    return out;
}

PianoRollView preparedView(const NoteSequence& notes, int32_t width = 684)
{
    PianoRollView view;
    const SongSettings song;
    view.create(song);
    view.prepare(notes, width, song);
    view.layOut(344, 20, 16);
    return view;
}

} // namespace

TEST(PianoRollView, RowsAndPitchesOfTheExampleWindow)
{
    NoteSequence notes;
    const PianoRollView view = preparedView(notes);
    EXPECT_EQ(view.middleY, 170);
    EXPECT_EQ(view.rowTop(60), 164);
    EXPECT_EQ(view.rowTop(72), 92);
    // Every pixel of a row reads its pitch, the top one included.
    for (int y = 164; y <= 169; ++y)
        EXPECT_EQ(view.pitchAt(y), 60) << y;
    for (int y = 158; y <= 163; ++y)
        EXPECT_EQ(view.pitchAt(y), 61) << y;
    EXPECT_EQ(view.pitchAt(170), 59);
    EXPECT_EQ(view.pitchAt(92), 72);
    EXPECT_EQ(view.pitchAt(97), 72);
    EXPECT_EQ(view.extentUnits, 684 * 2 / 2);
}

TEST(PianoRollView, FourZoomLevelsKeepTheLeftEdgeInTicks)
{
    NoteSequence notes;
    PianoRollView view = preparedView(notes);
    EXPECT_EQ(view.widthOfTicks(480), 32);
    view.leftTicks = 960;
    view.scrollPx = 64;
    ASSERT_TRUE(view.zoomIn());
    ASSERT_TRUE(view.zoomIn());
    EXPECT_EQ(view.widthOfTicks(480), 128);
    EXPECT_EQ(view.rowHeight, 18);
    EXPECT_FALSE(view.zoomIn());
    EXPECT_EQ(view.zoomX, 8);
    EXPECT_EQ(view.scrollPx, 256);
    EXPECT_EQ(view.leftTicks, 960);
    ASSERT_TRUE(view.zoomOut());
    ASSERT_TRUE(view.zoomOut());
    ASSERT_TRUE(view.zoomOut());
    EXPECT_EQ(view.rowHeight, 4);
    EXPECT_EQ(view.zoomX, 1);
    EXPECT_FALSE(view.zoomOut());
}

TEST(PianoRollView, FourWheelNotchesInOneDirectionMakeOneStep)
{
    PianoRollView view;
    EXPECT_EQ(view.wheel(120), 0);
    EXPECT_EQ(view.wheel(120), 0);
    EXPECT_EQ(view.wheel(120), 0);
    EXPECT_EQ(view.wheel(120), 1);
    EXPECT_EQ(view.wheelSum, 0);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(view.wheel(-120), 0);
    EXPECT_EQ(view.wheel(-120), -1);
}

TEST(PianoRollView, BarLinesOfThreeFourTimeAndOctaveLines)
{
    NoteSequence notes;
    const PianoRollView view = preparedView(notes);
    SongSettings song;
    song.meterNum = 3;
    song.meterDen = 4;
    std::vector<GridLine> vertical;
    std::vector<GridLine> octaves;
    for (const GridLine& line : view.gridLines(684, 20, 328, song)) {
        if (line.vertical)
            vertical.push_back(line);
        else if (line.grey == kBarGrey)
            octaves.push_back(line);
    }
    ASSERT_GE(vertical.size(), 7u);
    const uint8_t expected[] = {kGridGrey, kGridGrey, kGridGrey, kBarGrey, kGridGrey, kGridGrey, kBarGrey};
    for (size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(vertical[i].position, static_cast<int32_t>(32 * i));
        EXPECT_EQ(vertical[i].grey, expected[i]) << i;
    }
    // At the middle line and every 72 pixels above and below it inside the area.
    std::vector<int32_t> ys;
    for (const GridLine& line : octaves)
        ys.push_back(line.position);
    EXPECT_EQ(ys, (std::vector<int32_t>{170, 242, 314, 98, 26}));
}

TEST(PianoRollView, CentringAndFollowingFindTheFirstNoteInView)
{
    NoteSequence notes;
    std::vector<NoteEvent> events;
    for (int i = 0; i < 100; ++i)
        events.push_back(NoteEvent{i * 480, 480, 60, 100, 0});
    fill(notes, events);
    PianoRollView view = preparedView(notes);
    // Note 50 starts at 24000 ticks = 1600 px: centred, the view starts 342 px before it.
    const int32_t bar = view.scrollTo(static_cast<int32_t>(24000 * view.pxPerTick), ScrollMode::Centre, notes, 684);
    EXPECT_EQ(view.scrollPx, 1600 - 342);
    EXPECT_EQ(view.xOfTicks(24000), 342);
    EXPECT_EQ(view.firstVisible, (1600 - 342) / 32);
    EXPECT_EQ(bar, 100 * view.scrollPx / (2 * view.extentUnits));
    // Back to the start.
    view.scrollTo(0, ScrollMode::Pixels, notes, 684);
    EXPECT_EQ(view.firstVisible, 0);

    // The marker reaching the right edge pages the view to the play position.
    view.setPlayPosition(480 * 20);
    EXPECT_FALSE(view.reachedRightEdge(684));
    view.lastDrawn = 22;
    view.setPlayPosition(480 * 22);
    EXPECT_EQ(view.markerX, 704);
    ASSERT_TRUE(view.reachedRightEdge(684));
    EXPECT_EQ(view.scrollTo(0, ScrollMode::FollowPlay, notes, 684), 100 * view.playPx / (2 * view.extentUnits));
    EXPECT_EQ(view.leftTicks, 480 * 22);
    EXPECT_EQ(view.markerX, 0);
    EXPECT_LE(view.firstVisible, 22);
    EXPECT_GE(view.firstVisible, 21);
}

TEST(NoteEdits, SplitAtThePercentOfTheSlider)
{
    NoteSequence notes;
    fill(notes, {{0, 100, 60, 90, 5}, {200, 100, 62, 90, 0}});
    ASSERT_EQ(applyNoteAction(notes, 0, ActionSplit, 50), EditRefusal::None);
    EXPECT_EQ(starts(notes), (std::vector<int32_t>{0, 50, 200}));
    EXPECT_EQ(durations(notes), (std::vector<int32_t>{50, 50, 100}));
    EXPECT_EQ(notes[1].note, 60);
    EXPECT_EQ(notes[1].cents, 5);
    ASSERT_EQ(applyNoteAction(notes, 2, ActionSplit, 33), EditRefusal::None);
    EXPECT_EQ(starts(notes), (std::vector<int32_t>{0, 50, 200, 233}));
    EXPECT_EQ(durations(notes), (std::vector<int32_t>{50, 50, 33, 67}));
    // No empty part: at the ends the note stays whole.
    EXPECT_EQ(applyNoteAction(notes, 0, ActionSplit, 0), EditRefusal::EmptyPart);
    EXPECT_EQ(applyNoteAction(notes, 0, ActionSplit, 100), EditRefusal::EmptyPart);
    EXPECT_EQ(notes.count, 4);
}

TEST(NoteEdits, MergeKeepsTheEarlierStartAndAddsTheDurations)
{
    NoteSequence notes;
    fill(notes, {{0, 480, 60, 90, 0}, {960, 240, 64, 80, 3}, {1400, 100, 67, 70, -2}});
    ASSERT_EQ(applyNoteAction(notes, 1, ActionMergePrevious, 0), EditRefusal::None);
    EXPECT_EQ(starts(notes), (std::vector<int32_t>{0, 1400}));
    EXPECT_EQ(durations(notes), (std::vector<int32_t>{720, 100}));
    EXPECT_EQ(notes[0].note, 60);
    ASSERT_EQ(applyNoteAction(notes, 0, ActionMergeNext, 0), EditRefusal::None);
    ASSERT_EQ(notes.count, 1);
    EXPECT_EQ(notes[0].duration, 820);
    EXPECT_EQ(notes[0].note, 67);
    EXPECT_EQ(notes[0].cents, -2);
    EXPECT_EQ(applyNoteAction(notes, 0, ActionMergeNext, 0), EditRefusal::NoNeighbour);
    EXPECT_EQ(applyNoteAction(notes, 0, ActionMergePrevious, 0), EditRefusal::NoNeighbour);

    // A merge longer than a note can hold changes nothing.
    fill(notes, {{0, 30000, 60, 90, 0}, {30000, 3000, 62, 90, 0}});
    EXPECT_EQ(applyNoteAction(notes, 0, ActionMergeNext, 0), EditRefusal::TooLong);
    EXPECT_EQ(durations(notes), (std::vector<int32_t>{30000, 3000}));
    ASSERT_EQ(applyNoteAction(notes, 1, ActionDelete, 0), EditRefusal::None);
    EXPECT_EQ(notes.count, 1);
    EXPECT_EQ(applyNoteAction(notes, 1, ActionDelete, 0), EditRefusal::NoSuchNote);
}

TEST(NoteEdits, DialogSteppingStaysBetweenTheNeighbours)
{
    NoteValues between{60, 480, 240, 100, 480, 720};
    EXPECT_EQ(steppedStart(between, true), 480);
    EXPECT_EQ(steppedStart(between, false), 480);
    EXPECT_EQ(steppedDuration(between, true), 240);
    EXPECT_EQ(steppedDuration(between, false), 239);

    const NoteValues first{60, 0, 100, 100, 0, 500};
    EXPECT_EQ(steppedStart(first, false), 0);
    EXPECT_EQ(steppedStart(first, true), 1);

    NoteValues last{60, 1000, 300, 100, 900, 0};
    EXPECT_EQ(steppedDuration(last, true), 301);
    EXPECT_EQ(steppedStart(last, true), 1001);
    last.duration = kLongestNote;
    EXPECT_EQ(steppedDuration(last, true), kLongestNote);

    const NoteValues shortest{60, 0, 1, 100, 0, 0};
    EXPECT_EQ(steppedDuration(shortest, false), 1);

    NoteSequence notes;
    fill(notes, {{0, 480, 60, 90, 0}, {480, 240, 62, 90, 0}, {720, 10, 64, 90, 0}});
    const NoteValues read = noteValuesOf(notes, 1);
    EXPECT_EQ(read.prevEnd, 480);
    EXPECT_EQ(read.nextStart, 720);
    EXPECT_EQ(noteValuesOf(notes, 2).nextStart, 0);
}

TEST(NoteEdits, LoadedNotesAreTrimmedToTheNextStart)
{
    NoteSequence notes;
    fill(notes, {{0, 600, 60, 90, 0}, {480, 100, 62, 90, 0}, {480, 50, 64, 90, 0}, {700, 10, 65, 90, 0}});
    EXPECT_EQ(removeOverlaps(notes), 2);
    EXPECT_EQ(starts(notes), (std::vector<int32_t>{0, 480, 700}));
    EXPECT_EQ(durations(notes), (std::vector<int32_t>{480, 50, 10}));
    EXPECT_EQ(notes[1].note, 64);
}

TEST(NoteEdits, UndoAndRedoEveryEditUntilTheNotesAreReplaced)
{
    NoteSequence notes;
    fill(notes, {{0, 100, 60, 90, 0}, {100, 100, 62, 90, 0}});
    EditHistory history;
    EditHistory::Snapshot before = EditHistory::snapshotOf(notes);
    applyNoteAction(notes, 0, ActionSplit, 50);
    history.recordEdit(before, notes);
    before = EditHistory::snapshotOf(notes);
    applyNoteAction(notes, 2, ActionDelete, 0);
    history.recordEdit(before, notes);
    EXPECT_EQ(starts(notes), (std::vector<int32_t>{0, 50}));

    ASSERT_TRUE(history.undo(notes));
    EXPECT_EQ(starts(notes), (std::vector<int32_t>{0, 50, 100}));
    ASSERT_TRUE(history.undo(notes));
    EXPECT_EQ(durations(notes), (std::vector<int32_t>{100, 100}));
    EXPECT_FALSE(history.undo(notes));
    ASSERT_TRUE(history.redo(notes));
    ASSERT_TRUE(history.redo(notes));
    EXPECT_EQ(starts(notes), (std::vector<int32_t>{0, 50}));
    EXPECT_FALSE(history.redo(notes));

    // A recognition puts other notes in place: the old edits are gone.
    fill(notes, {{10, 20, 70, 90, 0}});
    EXPECT_FALSE(history.undo(notes));
    EXPECT_EQ(notes.count, 1);
}
