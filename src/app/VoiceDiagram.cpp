#include "app/VoiceDiagram.h"

#include <QWidget>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "notes/NoteNames.h"

namespace {

int32_t pitchColour(int32_t note)
{
    const NoteColour& colour = kNoteColours[pitchClass(note)];
    return colourRef(colour.r, colour.g, colour.b);
}

// A tick position or length in whole frames, rounded up.
int32_t framesOfTicks(int32_t ticks, float ticksPerFrame)
{
    return static_cast<int32_t>(std::ceil(ticks / ticksPerFrame));
}

} // namespace

VoiceDiagram::VoiceDiagram(TMFD& display, QWidget& marker) : display_(display), marker_(marker) {}

void VoiceDiagram::setLevelScale(float fullScale)
{
    levelScale_ = fullScale > 0 ? static_cast<float>(display_.height()) / fullScale : 0.0f;
}

void VoiceDiagram::reset()
{
    pageStart_ = 0;
    rawCursor_ = rawAtPageStart_ = 0;
    noteCursor_ = notesAtPageStart_ = 0;
    clearDisplay();
}

void VoiceDiagram::clearDisplay()
{
    std::memset(&data_, 0, sizeof data_);
    display_.Clear();
}

void VoiceDiagram::show()
{
    display_.SetSpectrPageData(&data_);
}

void VoiceDiagram::addLiveColumn(const VoicedFrame* frame)
{
    if (data_.count + 1 >= columnsPerPage()) {
        data_.count = 0;
        display_.Clear();
    }
    tag_drawcolumn& column = data_.column[data_.count];
    if (frame != nullptr) {
        column.barColour = pitchColour(nearestNote(frame->pitch));
        column.level = std::max(0, static_cast<int32_t>(frame->level * levelScale_));
    } else {
        column.level = 0;
    }
    column.noteColour = 0;
    ++data_.count;
    show();
}

void VoiceDiagram::updatePage(int32_t p, uint32_t flags, int32_t currentPosition, const NoteSequence& notes,
                              float ticksPerFrame)
{
    const int32_t tick = columnsPerPage();
    if (tick <= 0)
        return;
    if (flags & kPositionReposition) {
        data_.count = 0;
        if (flags & kPositionResetDiagram) {
            reset();
        } else {
            display_.Clear();
            rawCursor_ = rawAtPageStart_;
            noteCursor_ = notesAtPageStart_;
        }
        p = currentPosition;
    } else if (p >= pageStart_ + tick) {
        pageStart_ += tick;
        data_.count = 0;
        display_.Clear();
    }
    moveMarker(p);
    if (data_.count > 0)
        return;
    drawRawFrames(notes);
    if (ticksPerFrame > 0)
        drawNotes(notes, ticksPerFrame);
    show();
}

// The page's level bars, from the raw frame at the cursor on; a frame beyond the page stays
// for the next one. Frames without a raw frame get no bar.
void VoiceDiagram::drawRawFrames(const NoteSequence& notes)
{
    const int32_t tick = columnsPerPage();
    rawAtPageStart_ = rawCursor_;
    int32_t j = 0;
    int32_t i = pageStart_;
    const int32_t rawCount = notes.raw ? notes.raw->count : 0;
    while (rawCursor_ < rawCount) {
        const RawFrame& r = (*notes.raw)[rawCursor_];
        for (; i < r.frame && j < tick; ++i, ++j) {
            data_.column[j].level = 0;
            data_.column[j].noteColour = 0;
        }
        if (j >= tick)
            break;
        data_.column[j].barColour = pitchColour(nearestNote(r.pitch));
        data_.column[j].level = std::max(0, static_cast<int32_t>(r.level * levelScale_));
        data_.column[j].noteColour = 0;
        ++j;
        ++i;
        ++rawCursor_;
    }
    data_.count = j;
}

// The page's note marks, from the note at the cursor on. A note that runs past the page is
// drawn up to its edge and not shown again on the next page.
void VoiceDiagram::drawNotes(const NoteSequence& notes, float ticksPerFrame)
{
    const int32_t tick = columnsPerPage();
    notesAtPageStart_ = noteCursor_;
    int32_t k = 0;
    int32_t i = pageStart_;
    while (noteCursor_ < notes.count) {
        const NoteEvent& note = notes[noteCursor_];
        const int32_t start = framesOfTicks(note.start, ticksPerFrame);
        for (; start > i && k < tick; ++i, ++k)
            data_.column[k].noteColour = 0;
        if (k >= tick)
            break;
        // A note that began before the page (the page was moved into it) shows its rest.
        const int32_t end = start + framesOfTicks(note.duration, ticksPerFrame);
        const int32_t colour = pitchColour(note.note);
        for (; i < end; ++i, ++k)
            if (k < tick)
                data_.column[k].noteColour = colour;
        ++noteCursor_;
    }
    data_.count = std::max(data_.count, std::min(k, tick));
}

void VoiceDiagram::setPosition(int32_t position, const NoteSequence& notes, float ticksPerFrame)
{
    const int32_t tick = std::max<int32_t>(columnsPerPage(), 1);
    pageStart_ = position - position % tick;
    const int32_t rawCount = notes.raw ? notes.raw->count : 0;
    rawCursor_ = rawCount;
    for (int32_t r = 0; r < rawCount; ++r)
        if ((*notes.raw)[r].frame > pageStart_) {
            rawCursor_ = r;
            break;
        }
    rawAtPageStart_ = rawCursor_;
    const int32_t pageTicks = static_cast<int32_t>(pageStart_ * ticksPerFrame);
    noteCursor_ = notes.count;
    for (int32_t n = 0; n < notes.count; ++n)
        if (notes[n].start + notes[n].duration > pageTicks) {
            noteCursor_ = n;
            break;
        }
    notesAtPageStart_ = noteCursor_;
}

int32_t VoiceDiagram::noteAtColumn(int x, const NoteSequence& notes, float ticksPerFrame) const
{
    const int32_t column = x / std::max<int>(display_.TickWidth(), 1) + pageStart_;
    const int32_t t = static_cast<int32_t>(column * ticksPerFrame);
    const int32_t found = notes.findNoteAt(t, true);
    return found >= 0 && found < notes.count ? found : -1;
}

void VoiceDiagram::moveMarker(int32_t position)
{
    const int32_t tick = std::max<int32_t>(columnsPerPage(), 1);
    const int32_t column = ((position - pageStart_) % tick + tick) % tick;
    marker_.move(display_.x() + column * display_.TickWidth(), marker_.y());
}
