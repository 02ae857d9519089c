#include "editor/NoteEdits.h"

#include <algorithm>
#include <utility>

namespace {

int32_t endOf(const NoteEvent& note)
{
    return note.start + note.duration;
}

bool sameNote(const NoteEvent& a, const NoteEvent& b)
{
    return a.start == b.start && a.duration == b.duration && a.note == b.note && a.velocity == b.velocity &&
           a.cents == b.cents;
}

bool sameNotes(const std::vector<NoteEvent>& a, const NoteEvent* b, int32_t count)
{
    return static_cast<int32_t>(a.size()) == count && std::equal(a.begin(), a.end(), b, sameNote);
}

} // namespace

NoteValues noteValuesOf(const NoteSequence& notes, int32_t index)
{
    NoteValues values;
    const NoteEvent* note = notes.at(index);
    if (note == nullptr)
        return values;
    values.pitch = note->note;
    values.start = note->start;
    values.duration = note->duration;
    values.velocity = note->velocity;
    values.prevEnd = index > 0 ? endOf(notes[index - 1]) : 0;
    values.nextStart = index + 1 < notes.count ? notes[index + 1].start : 0;
    return values;
}

int32_t steppedStart(const NoteValues& values, bool up)
{
    int32_t s = values.start + (up ? 1 : -1);
    if (s < values.prevEnd)
        s = values.prevEnd;
    else if (values.nextStart > 0 && s + values.duration > values.nextStart)
        s = values.nextStart - values.duration;
    return s;
}

// The last note grows without a neighbour's limit, but no longer than a note can be.
int32_t steppedDuration(const NoteValues& values, bool up)
{
    int32_t d = values.duration + (up ? 1 : -1);
    if (d <= 0)
        d = 1;
    else if (values.nextStart > 0 && values.start + d > values.nextStart)
        d = values.nextStart - values.start;
    return std::min(d, kLongestNote);
}

void applyNoteValues(NoteSequence& notes, int32_t index, const NoteValues& values)
{
    NoteEvent* note = notes.at(index);
    if (note == nullptr)
        return;
    note->note = static_cast<uint8_t>(std::clamp(values.pitch, 0, 127));
    note->start = values.start;
    note->duration = static_cast<int16_t>(std::clamp(values.duration, 1, kLongestNote));
    note->velocity = static_cast<uint8_t>(std::clamp(values.velocity, 0, 127));
}

EditRefusal applyNoteAction(NoteSequence& notes, int32_t index, NoteAction action, int32_t percent)
{
    NoteEvent* note = notes.at(index);
    if (note == nullptr)
        return EditRefusal::NoSuchNote;
    switch (action) {
    case ActionMergePrevious: {
        NoteEvent* previous = notes.at(index - 1);
        if (previous == nullptr)
            return EditRefusal::NoNeighbour;
        if (previous->duration + note->duration > kLongestNote)
            return EditRefusal::TooLong;
        previous->duration = static_cast<int16_t>(previous->duration + note->duration);
        notes.removeAt(index);
        break;
    }
    case ActionMergeNext: {
        const NoteEvent* next = notes.at(index + 1);
        if (next == nullptr)
            return EditRefusal::NoNeighbour;
        if (note->duration + next->duration > kLongestNote)
            return EditRefusal::TooLong;
        note->duration = static_cast<int16_t>(note->duration + next->duration);
        note->note = next->note;
        note->cents = next->cents;
        notes.removeAt(index + 1);
        break;
    }
    case ActionSplit: {
        const int32_t a = note->duration * percent / 100;
        if (a <= 0 || a >= note->duration)
            return EditRefusal::EmptyPart;
        NoteEvent second = *note;
        second.start = note->start + a;
        second.duration = static_cast<int16_t>(note->duration - a);
        note->duration = static_cast<int16_t>(a);
        notes.insertAt(second, index + 1);
        break;
    }
    case ActionDelete:
        notes.removeAt(index);
        break;
    case ActionNone:
    case ActionApply:
        break;
    }
    return EditRefusal::None;
}

int32_t removeOverlaps(NoteSequence& notes)
{
    int32_t changed = 0;
    for (int32_t i = 0; i + 1 < notes.count;) {
        NoteEvent& note = notes[i];
        const int32_t room = notes[i + 1].start - note.start;
        if (room <= 0) {
            notes.removeAt(i);
            ++changed;
            continue;
        }
        if (note.duration > room) {
            note.duration = static_cast<int16_t>(room);
            ++changed;
        }
        ++i;
    }
    return changed;
}

EditHistory::Snapshot EditHistory::snapshotOf(const NoteSequence& notes)
{
    return Snapshot(notes.data, notes.data + notes.count);
}

void EditHistory::restore(NoteSequence& notes, const Snapshot& snapshot)
{
    notes.clear();
    for (const NoteEvent& note : snapshot)
        notes.append(note);
}

bool EditHistory::current(const NoteSequence& notes) const
{
    return (!undo_.empty() || !redo_.empty()) && sameNotes(last_, notes.data, notes.count);
}

bool EditHistory::current(const Snapshot& notes) const
{
    return (!undo_.empty() || !redo_.empty()) && sameNotes(last_, notes.data(), static_cast<int32_t>(notes.size()));
}

void EditHistory::recordEdit(Snapshot before, const NoteSequence& after)
{
    if (!current(before))
        clear();
    undo_.push_back(std::move(before));
    redo_.clear();
    last_ = snapshotOf(after);
}

bool EditHistory::canUndo(const NoteSequence& notes) const
{
    return !undo_.empty() && current(notes);
}

bool EditHistory::canRedo(const NoteSequence& notes) const
{
    return !redo_.empty() && current(notes);
}

bool EditHistory::undo(NoteSequence& notes)
{
    if (!canUndo(notes))
        return false;
    redo_.push_back(snapshotOf(notes));
    restore(notes, undo_.back());
    undo_.pop_back();
    last_ = snapshotOf(notes);
    return true;
}

bool EditHistory::redo(NoteSequence& notes)
{
    if (!canRedo(notes))
        return false;
    undo_.push_back(snapshotOf(notes));
    restore(notes, redo_.back());
    redo_.pop_back();
    last_ = snapshotOf(notes);
    return true;
}

void EditHistory::clear()
{
    undo_.clear();
    redo_.clear();
    last_.clear();
}
