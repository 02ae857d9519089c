#pragma once
// The arithmetic of the piano-roll editor without any window: where a pitch row and a tick
// lie on the screen, the pitch under a y coordinate, the four zoom levels, scrolling by
// pixels or to the play position, the search for the first note in view, and the lines of
// the grid. The editor window keeps one of these as its view state.

#include <cstdint>
#include <vector>

#include "notes/Tv2m_data.h"

// Bits of the display flags: a full redraw (note images, background and grid).
constexpr uint32_t kDisplayFullRedraw = 0x20;
constexpr uint32_t kDisplayMarkerOnly = 4;
constexpr uint32_t kDisplayStartFlags = 36;

// Scroll modes: to the play position, to a pixel position, centred on a pixel position.
enum class ScrollMode : uint8_t { FollowPlay = 0, Pixels = 1, Centre = 2 };

// Greys of the grid: row and beat lines, bar and octave lines.
constexpr uint8_t kGridGrey = 102;
constexpr uint8_t kBarGrey = 128;
constexpr int kScrollBarMaximum = 100;

struct GridLine {
    bool vertical = false;
    int32_t position = 0; // x of a vertical line, y of a horizontal one
    uint8_t grey = kGridGrey;
};

struct PianoRollView {
    bool gridOn = true;
    int16_t refPitch = 60;
    int16_t rowHeight = 6;
    int16_t zoomX = 2;
    int32_t unitsPerQuarter = 16;
    float unitsPerTick = 16.0f / 480.0f;
    float pxPerTick = 2 * 16.0f / 480.0f;
    float ticksPerFrame = 26.88f;
    int32_t extentUnits = 0;
    int32_t middleY = 0;
    int32_t scrollPx = 0;
    int32_t leftTicks = 0;
    int32_t playPx = 0;
    int32_t playTicks = 0;
    int32_t markerX = 0;
    int32_t firstVisible = 0;
    int32_t lastDrawn = 0;
    uint32_t displayFlags = kDisplayStartFlags;
    int32_t selectedIndex = -1;
    // The running sum of the mouse wheel's deltas.
    int32_t wheelSum = 0;

    // The state at creation: ticks per frame from the song, an extent of one minute of frames.
    void create(const SongSettings& song);
    // No selection; scroll and play state back to the start.
    void reset();
    // The scale from the song's ticks per quarter note and the extent from the notes.
    void prepare(const NoteSequence& notes, int32_t clientWidth, const SongSettings& song);

    // Geometry of the area between header and footer: sets middleY.
    void layOut(int32_t clientHeight, int32_t headerH, int32_t footerH);
    int32_t rowTop(int32_t pitch) const;
    int32_t xOfTicks(int32_t ticks) const;
    int32_t widthOfTicks(int32_t ticks) const;
    // The pitch of the row that holds y.
    int32_t pitchAt(int32_t y) const;

    void setPlayPosition(int32_t ticks);
    // The play marker reached the right edge: time to page the view to the play position.
    bool reachedRightEdge(int32_t clientWidth) const { return zoomX + markerX >= clientWidth; }
    // Moves the view; returns the scroll bar's new position, or -1 when it stays.
    int32_t scrollTo(int32_t value, ScrollMode mode, const NoteSequence& notes, int32_t clientWidth);
    // Scroll bar position to pixel position.
    int32_t pixelsOfBar(int32_t barPosition) const;

    // One zoom step; false when already at the end of the range.
    bool zoomIn();
    bool zoomOut();
    // Adds a wheel delta; +1 zoom in, -1 zoom out, 0 nothing yet.
    int wheel(int32_t delta);

    // The grid for a client of `width` with its area from `top` to `bottom`.
    std::vector<GridLine> gridLines(int32_t width, int32_t top, int32_t bottom, const SongSettings& song) const;

private:
    void rescale();
    void findFirstVisible(const NoteSequence& notes, int32_t from, bool forward);
};
