#pragma once
// The edits of the note editor on a note sequence, without any window: the note edit
// dialog's stepping of a start and a duration between the neighbours, the actions it
// returns (apply, merge with the previous or the next note, split, delete), the undo
// history of the edits, and the trimming that keeps loaded notes from overlapping.
//
// No edit makes notes overlap: the stepping keeps a start at or after the previous note's
// end and an end at or before the next note's start, merging adds only the two durations
// to the earlier start, a split divides a note in place, and loaded notes are trimmed to
// the start of the note after them.

#include <cstdint>
#include <vector>

#include "notes/Tv2m_data.h"

enum NoteAction : int32_t {
    ActionNone = 0,
    ActionApply = 1,
    ActionMergePrevious = 2,
    ActionMergeNext = 3,
    ActionSplit = 4,
    ActionDelete = 5
};

// The longest duration a note holds (16 bits).
constexpr int32_t kLongestNote = 32767;

// What the dialog edits of one note, and where its neighbours lie.
struct NoteValues {
    int32_t pitch = 0;
    int32_t start = 0;
    int32_t duration = 0;
    int32_t velocity = 0;
    int32_t prevEnd = 0;   // end of the previous note; 0 for the first
    int32_t nextStart = 0; // start of the next note; 0 for the last
};

NoteValues noteValuesOf(const NoteSequence& notes, int32_t index);

// One tick later (up) or earlier, kept between the neighbours.
int32_t steppedStart(const NoteValues& values, bool up);
// One tick longer (up) or shorter, at least 1, ending by the next note's start.
int32_t steppedDuration(const NoteValues& values, bool up);

// Writes the dialog's values back to note `index`.
void applyNoteValues(NoteSequence& notes, int32_t index, const NoteValues& values);

// Why an action changed nothing.
enum class EditRefusal : uint8_t { None, NoSuchNote, NoNeighbour, TooLong, EmptyPart };

// Merge, split or delete note `index` (actions 2 to 5; 1 changes nothing here). A split
// at `percent` that would leave an empty part, or a merge longer than a note can be, is
// refused and the notes stay as they were.
EditRefusal applyNoteAction(NoteSequence& notes, int32_t index, NoteAction action, int32_t percent);

// Shortens each note to end by the next one's start and drops the notes left empty.
// Returns the number of notes changed or dropped.
int32_t removeOverlaps(NoteSequence& notes);

// Undo and redo of the edits. The editor takes a snapshot before an edit and records it
// with the notes after it; undo brings the snapshot back and keeps the undone notes for
// redo. The history holds only the edits made to the notes it last saw: notes replaced by
// a recognition or a loaded file start a new history.
class EditHistory {
public:
    using Snapshot = std::vector<NoteEvent>;
    static Snapshot snapshotOf(const NoteSequence& notes);

    void recordEdit(Snapshot before, const NoteSequence& after);
    bool undo(NoteSequence& notes);
    bool redo(NoteSequence& notes);
    bool canUndo(const NoteSequence& notes) const;
    bool canRedo(const NoteSequence& notes) const;
    void clear();

private:
    static void restore(NoteSequence& notes, const Snapshot& snapshot);
    bool current(const Snapshot& notes) const;
    bool current(const NoteSequence& notes) const;

    std::vector<Snapshot> undo_;
    std::vector<Snapshot> redo_;
    Snapshot last_;
};
