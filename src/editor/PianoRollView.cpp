#include "editor/PianoRollView.h"

#include <algorithm>
#include <cmath>

namespace {

int32_t noteEnd(const NoteEvent& note)
{
    return note.start + note.duration;
}

} // namespace

void PianoRollView::create(const SongSettings& song)
{
    ticksPerFrame = static_cast<float>(song.recordTempo) * static_cast<float>(song.tpqn) * 28.0f / 60000.0f;
    extentUnits = ticksPerFrame > 0 ? static_cast<int32_t>(60000.0f / ticksPerFrame) : 0;
}

void PianoRollView::reset()
{
    selectedIndex = -1;
    scrollPx = leftTicks = playPx = playTicks = markerX = firstVisible = lastDrawn = 0;
}

void PianoRollView::prepare(const NoteSequence& notes, int32_t clientWidth, const SongSettings& song)
{
    unitsPerTick = 16.0f / static_cast<float>(song.tpqn > 0 ? song.tpqn : 480);
    pxPerTick = static_cast<float>(zoomX) * unitsPerTick;
    if (notes.count > 0) {
        const NoteEvent& last = *notes.last();
        const double lastEnd = std::ceil(static_cast<double>(noteEnd(last)) * unitsPerTick);
        extentUnits = static_cast<int32_t>(lastEnd + clientWidth / (2 * zoomX));
    } else {
        extentUnits = clientWidth * 2 / zoomX;
    }
    scrollPx = leftTicks = playPx = playTicks = markerX = 0;
}

void PianoRollView::layOut(int32_t clientHeight, int32_t headerH, int32_t footerH)
{
    const int32_t areaH = clientHeight - headerH - footerH;
    middleY = (areaH / (2 * rowHeight)) * rowHeight + headerH;
}

int32_t PianoRollView::rowTop(int32_t pitch) const
{
    return middleY - rowHeight - (pitch - refPitch) * rowHeight;
}

int32_t PianoRollView::xOfTicks(int32_t ticks) const
{
    return static_cast<int32_t>(static_cast<float>(ticks - leftTicks) * static_cast<float>(zoomX) * unitsPerTick);
}

int32_t PianoRollView::widthOfTicks(int32_t ticks) const
{
    return static_cast<int32_t>(static_cast<float>(ticks) * static_cast<float>(zoomX) * unitsPerTick);
}

// The rows above the middle line are counted upward from 1, those on and below it from 0
// downward, so every pixel of a row, its top one included, reads that row's pitch.
int32_t PianoRollView::pitchAt(int32_t y) const
{
    const int32_t a = middleY - rowHeight - y;
    int32_t p = refPitch + a / rowHeight;
    if (a > 0 && a % rowHeight != 0)
        p += 1;
    return p;
}

void PianoRollView::setPlayPosition(int32_t ticks)
{
    playTicks = ticks;
    playPx = static_cast<int32_t>(static_cast<float>(ticks) * pxPerTick);
    markerX = static_cast<int32_t>(static_cast<float>(ticks) * unitsPerTick) * zoomX - scrollPx;
}

int32_t PianoRollView::scrollTo(int32_t value, ScrollMode mode, const NoteSequence& notes, int32_t clientWidth)
{
    if (mode == ScrollMode::FollowPlay) {
        leftTicks = playTicks;
        scrollPx = playPx;
        markerX = 0;
        findFirstVisible(notes, lastDrawn - 1, false);
    } else {
        const int32_t wanted = mode == ScrollMode::Centre ? std::max(0, value - clientWidth / 2) : value;
        const bool forward = scrollPx < wanted;
        scrollPx = wanted;
        leftTicks = pxPerTick > 0 ? static_cast<int32_t>(static_cast<float>(scrollPx) / pxPerTick) : 0;
        findFirstVisible(notes, firstVisible, forward);
    }
    const int64_t span = static_cast<int64_t>(zoomX) * extentUnits;
    if (mode == ScrollMode::Pixels || span <= 0)
        return mode == ScrollMode::Pixels ? -1 : 0;
    const int64_t px = mode == ScrollMode::FollowPlay ? playPx : scrollPx;
    return static_cast<int32_t>(std::clamp<int64_t>(kScrollBarMaximum * px / span, 0, kScrollBarMaximum));
}

int32_t PianoRollView::pixelsOfBar(int32_t barPosition) const
{
    return static_cast<int32_t>(static_cast<int64_t>(barPosition) * extentUnits * zoomX / kScrollBarMaximum);
}

void PianoRollView::findFirstVisible(const NoteSequence& notes, int32_t from, bool forward)
{
    int32_t i = std::min(from, notes.count - 1);
    if (forward) {
        i = std::max(i, 0);
        while (i < notes.count && leftTicks >= noteEnd(notes[i]))
            ++i;
    } else {
        while (i >= 0 && leftTicks < noteEnd(notes[i]))
            --i;
    }
    firstVisible = std::max(i, 0);
}

bool PianoRollView::zoomIn()
{
    if (rowHeight - 2 >= 16)
        return false;
    rowHeight = static_cast<int16_t>(2 * rowHeight - 2);
    zoomX = static_cast<int16_t>(2 * zoomX);
    rescale();
    return true;
}

bool PianoRollView::zoomOut()
{
    if (rowHeight - 2 <= 2)
        return false;
    rowHeight = static_cast<int16_t>(rowHeight - (rowHeight - 2) / 2);
    zoomX = static_cast<int16_t>(zoomX - zoomX / 2);
    rescale();
    return true;
}

// The left edge keeps its tick position.
void PianoRollView::rescale()
{
    pxPerTick = static_cast<float>(zoomX) * unitsPerTick;
    scrollPx = static_cast<int32_t>(static_cast<float>(leftTicks) * pxPerTick);
    playPx = static_cast<int32_t>(static_cast<float>(playTicks) * pxPerTick);
    markerX = playPx - scrollPx;
}

int PianoRollView::wheel(int32_t delta)
{
    wheelSum += delta;
    if (delta == 0 || wheelSum != 4 * delta)
        return 0;
    wheelSum = 0;
    return delta > 0 ? 1 : -1;
}

std::vector<GridLine> PianoRollView::gridLines(int32_t width, int32_t top, int32_t bottom,
                                               const SongSettings& song) const
{
    std::vector<GridLine> lines;
    for (int32_t y = top; y < bottom; y += rowHeight)
        lines.push_back(GridLine{false, y, kGridGrey});

    const int32_t meterNum = song.meterNum > 0 ? song.meterNum : 4;
    const int32_t meterDen = song.meterDen > 0 ? song.meterDen : 4;
    const int32_t beatPx = zoomX * unitsPerQuarter * 4 / meterDen;
    int32_t x = 0;
    int32_t k = 0;
    if (scrollPx > 0 && song.tpqn > 0) {
        k = static_cast<int32_t>(static_cast<int64_t>(meterDen) * leftTicks / (static_cast<int64_t>(song.tpqn) * 4));
        x = static_cast<int32_t>((static_cast<int64_t>(k) * beatPx - scrollPx) % beatPx);
        k %= meterNum;
    }
    for (; beatPx > 0 && x < width; x += beatPx) {
        lines.push_back(GridLine{true, x, k == meterNum ? kBarGrey : kGridGrey});
        k = k == meterNum ? 1 : k + 1;
    }

    const int32_t octave = 12 * rowHeight;
    for (int32_t y = middleY; y < bottom; y += octave)
        lines.push_back(GridLine{false, y, kBarGrey});
    for (int32_t y = middleY - octave; y > top; y -= octave)
        lines.push_back(GridLine{false, y, kBarGrey});
    return lines;
}
