#pragma once
// The voice diagram of the main window, drawn on the display's spectrum page: one column
// per analysis frame, a level bar in the pitch-class colour of the sung pitch and, along
// the note strip at the top, the recognised notes. During a take the columns are added
// live; afterwards whole pages are drawn from the raw track and the notes as the shown
// position moves, with the play-position marker above the display.

#include <cstdint>

#include "app/ControllerSeam.h"
#include "app/ConversionController.h"
#include "notes/Tv2m_data.h"
#include "skin/Mfd.h"

class QWidget;

class VoiceDiagram {
public:
    // `marker` is the play-position marker; it sits above the display.
    VoiceDiagram(TMFD& display, QWidget& marker);

    // Levels are scaled so that `fullScale` fills the display's height.
    void setLevelScale(float fullScale);
    float levelScale() const { return levelScale_; }

    // Empties the page and its bookkeeping and clears the display.
    void reset();
    // One live column during a take: the frame's level and colour, or a blank column. A
    // live page is cleared when it would fill the display.
    void addLiveColumn(const VoicedFrame* frame);
    // Outside a take: shows the page that holds frame `p` and moves the marker there.
    // With kPositionReposition the page is drawn again at `currentPosition` (from the
    // beginning when kPositionResetDiagram is set too).
    void updatePage(int32_t p, uint32_t flags, int32_t currentPosition, const NoteSequence& notes,
                    float ticksPerFrame);
    // Moves the page to the one that holds frame `position` and sets the cursors to the
    // first raw frame and note that can show on it; the caller posts the reposition.
    void setPosition(int32_t position, const NoteSequence& notes, float ticksPerFrame);
    // The note under column x of the note strip, or -1.
    int32_t noteAtColumn(int x, const NoteSequence& notes, float ticksPerFrame) const;
    // Puts the marker over frame `position` of the page.
    void moveMarker(int32_t position);

    const tag_arraydrawdata& data() const { return data_; }
    int32_t pageStart() const { return pageStart_; }
    int32_t rawCursor() const { return rawCursor_; }
    int32_t noteCursor() const { return noteCursor_; }

private:
    int32_t columnsPerPage() const { return display_.Tick(); }
    void clearDisplay();
    void drawRawFrames(const NoteSequence& notes);
    void drawNotes(const NoteSequence& notes, float ticksPerFrame);
    void show();

    TMFD& display_;
    QWidget& marker_;
    tag_arraydrawdata data_{};
    float levelScale_ = 0;
    int32_t pageStart_ = 0;
    int32_t rawCursor_ = 0;
    int32_t rawAtPageStart_ = 0;
    int32_t noteCursor_ = 0;
    int32_t notesAtPageStart_ = 0;
};
