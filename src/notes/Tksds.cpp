#include "notes/Tksds.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "midi/MidiTime.h"
#include "notes/QuickSort.h"

namespace {

constexpr int32_t kOctaveCount = 10;
constexpr int32_t kMaxShortRunFrames = 8;
constexpr int32_t kSegmentFrames = 3;
constexpr int32_t kMaxNoteTicks = std::numeric_limits<int16_t>::max();

// Tonic pitch class of each key; keys k and k + 12 are relative major and minor.
constexpr int32_t kTonics[24] = {1, 6, 11, 8, 3, 10, 5, 0, 7, 2, 9, 4,
                                 10, 3, 8, 5, 0, 7, 2, 9, 4, 11, 6, 1};

// Weight of each degree above the tonic: major keys (k < 12), then minor keys.
constexpr float kProfiles[2][12] = {
    {0.105f, 0.05f, 0.1f, 0.06f, 0.105f, 0.1f, 0.05f, 0.1f, 0.07f, 0.1f, 0.06f, 0.1f},
    {0.1f, 0.05f, 0.1f, 0.105f, 0.06f, 0.1f, 0.05f, 0.105f, 0.1f, 0.06f, 0.1f, 0.07f},
};

int16_t truncToInt16(float value)
{
    if (!(value > -32769.0f))
        return value < 0.0f ? std::numeric_limits<int16_t>::min() : 0;
    if (value >= 32768.0f)
        return std::numeric_limits<int16_t>::max();
    return static_cast<int16_t>(value);
}

int32_t truncToInt32(double value)
{
    if (!(value > -2147483649.0))
        return value < 0.0 ? std::numeric_limits<int32_t>::min() : 0;
    if (value >= 2147483648.0)
        return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(value);
}

bool isShort(const PitchCandidate& segment) { return segment.weight < kShortFrames; }

bool fitsNoteLength(int32_t frames) { return frames <= std::numeric_limits<int16_t>::max(); }

// The pitch a note stands for: note number plus its cents.
float notePitch(const NoteEvent& note) { return static_cast<float>(note.note + note.cents * 0.01); }

void recogniseShortRun(NoteSequence& notes, int32_t b, int32_t a)
{
    const RawTrack& raw = *notes.raw;
    const int16_t f = truncToInt16(medianFrequency(raw, b, a));
    addNote(notes, b, a - 1, hertzToPitch(f), peakLevel(raw, b, a));
}

void recogniseLongRun(NoteSequence& notes, int32_t b, int32_t a, bool mergeShortPitchDeviations)
{
    DynArray<PitchCandidate>& segments = notes.scratch;
    cutIntoSegments(notes, b, a);
    mergeEqualSegments(segments);
    if (mergeShortPitchDeviations && !absorbShortSegments(segments))
        absorbShortSegments(segments);
    mergeEqualSegments(segments);
    for (int32_t i = 0; i < segments.count; ++i) {
        const PitchCandidate segment = segments[i];
        const int32_t s = b + segment.tag;
        addNote(notes, s, s + segment.weight - 1, segment.value, peakLevel(*notes.raw, s, s + segment.weight));
    }
}

} // namespace

int32_t runEnd(const RawTrack& raw, int32_t b)
{
    int32_t a = b + 1;
    while (a < raw.count && raw[a].frame == raw[a - 1].frame + 1)
        ++a;
    return std::min(a, raw.count);
}

float medianFrequency(const RawTrack& raw, int32_t b, int32_t e)
{
    b = std::max(b, 0);
    e = std::min(e, raw.count);
    size_t total = 0;
    for (int32_t i = b; i < e; ++i)
        total += 1 + static_cast<size_t>(raw[i].candidates != nullptr ? std::max(raw[i].candidateCount, 0) : 0);
    if (total == 0)
        return 0.0f;

    std::vector<int16_t> values;
    values.reserve(total);
    for (int32_t i = b; i < e; ++i) {
        const RawFrame& frame = raw[i];
        values.push_back(truncToInt16(frame.frequency));
        if (frame.candidates != nullptr)
            values.insert(values.end(), frame.candidates, frame.candidates + std::max(frame.candidateCount, 0));
    }

    const int n = static_cast<int>(values.size());
    quickSort(
        0, n - 1, [&](int i) { return values[static_cast<size_t>(i)]; },
        [](int16_t x, int16_t y) { return x < y; },
        [&](int i, int j) { std::swap(values[static_cast<size_t>(i)], values[static_cast<size_t>(j)]); });
    const size_t mid = values.size() / 2;
    if (n % 2 == 1)
        return values[mid];
    return (static_cast<float>(values[mid - 1]) + static_cast<float>(values[mid])) * 0.5f;
}

int32_t peakLevel(const RawTrack& raw, int32_t b, int32_t e)
{
    int32_t peak = 0;
    for (int32_t i = std::max(b, 0); i < std::min(e, raw.count); ++i)
        peak = std::max<int32_t>(peak, raw[i].level);
    return peak;
}

void alignOctaves(NoteSequence& notes, int32_t b, int32_t e)
{
    RawTrack& raw = *notes.raw;
    DynArray<PitchCandidate>& entries = notes.scratch;
    entries.clear();
    int32_t octaveCounts[kOctaveCount] = {};
    const int32_t last = std::min(e, raw.count - 1);

    // One entry per frame (tag = note, weight = octave); weight -1 marks a pitch that
    // lies outside the counted octaves and takes no part.
    for (int32_t i = b; i <= last; ++i) {
        PitchCandidate entry{0, -1, 0.0f};
        const float pitch = raw[i].pitch;
        if (pitch >= 0.0f && pitch < 119.5f) {
            entry.tag = roundHalfUp(pitch);
            entry.weight = static_cast<int16_t>(entry.tag / 12);
            ++octaveCounts[entry.weight];
        }
        if (!entries.append(entry))
            return;
    }

    int32_t winner = 0;
    for (int32_t o = 1; o < kOctaveCount; ++o)
        if (octaveCounts[o] > octaveCounts[winner])
            winner = o;
    for (int32_t o = 0; o < kOctaveCount; ++o)
        if (o != winner && octaveCounts[o] == octaveCounts[winner])
            return;

    for (int32_t q = 0; q < entries.count; ++q) {
        const PitchCandidate& entry = entries[q];
        if (entry.weight < 0 || entry.weight == winner)
            continue;
        const int32_t shift = (winner - entry.weight) * 12;
        const int32_t target = entry.tag + shift;
        for (int32_t r = 0; r < entries.count; ++r) {
            if (entries[r].weight == winner && std::abs(entries[r].tag - target) <= 1) {
                raw[b + q].pitch += static_cast<float>(shift);
                break;
            }
        }
    }
}

void cleanRawTrack(NoteSequence& notes)
{
    if (!notes.raw)
        return;
    RawTrack& raw = *notes.raw;
    int32_t b = 0;
    while (b < raw.count) {
        const int32_t a = runEnd(raw, b);
        const int32_t d = a - b;
        if (d == 1) {
            // An isolated frame; the next run now begins at b.
            raw.removeFrame(b);
            continue;
        }
        if (d > 2)
            alignOctaves(notes, b, b + std::min(d, 7));
        b = a;
    }
}

bool sameNote(float x, float y)
{
    const int32_t ix = static_cast<int32_t>(x);
    const int32_t iy = static_cast<int32_t>(y);
    const float fx = x - static_cast<float>(ix);
    const float fy = y - static_cast<float>(iy);
    if (ix == iy) {
        if (fx < 0.42)
            return fy < 0.42;
        if (fx < 0.59)
            return 0.42 < fy && fy < 0.59;
        return fx > 0.59 && fy > 0.59;
    }
    if (ix - iy == 1)
        return fx < 0.42 && fy > 0.59;
    if (ix - iy == -1)
        return fy < 0.42 && fx > 0.59;
    return false;
}

uint8_t noteVelocity(int32_t peak, int32_t maxLevel)
{
    const double relative = maxLevel != 0 ? static_cast<double>(peak) / static_cast<double>(maxLevel) : 0.0;
    return static_cast<uint8_t>(63.5 / (std::exp(-10.0 * (relative - 0.357)) + 1.0) + 60.0);
}

void addNote(NoteSequence& notes, int32_t first, int32_t last, float x, int32_t peak)
{
    const RawTrack& raw = *notes.raw;
    NoteEvent event{};
    event.start = raw[first].frame;
    event.duration = static_cast<int16_t>(raw[last].frame + 1 - event.start);

    const int32_t whole = static_cast<int32_t>(x);
    const float frac = x - static_cast<float>(whole);
    if (frac >= 0.59) {
        const int32_t note = whole + 1;
        event.note = static_cast<uint8_t>(note);
        event.cents = static_cast<int8_t>((x - static_cast<float>(note)) * 100.0f);
    } else {
        event.note = static_cast<uint8_t>(whole);
        if (frac > 0.42)
            ++notes.nearHalfCount;
        event.cents = static_cast<int8_t>(frac * 100.0f);
    }
    event.velocity = noteVelocity(peak, notes.maxLevel);
    notes.append(event);
}

void cutIntoSegments(NoteSequence& notes, int32_t b, int32_t a)
{
    DynArray<PitchCandidate>& segments = notes.scratch;
    segments.clear();
    int32_t i = b;
    while (i < a) {
        // The last segment takes the rest of the run (3 to 5 frames).
        const int32_t e = (a < i + 2 * kSegmentFrames) ? a : i + kSegmentFrames;
        segments.append({i - b, static_cast<int16_t>(e - i), hertzToPitch(medianFrequency(*notes.raw, i, e))});
        i = e;
    }
}

void mergeEqualSegments(DynArray<PitchCandidate>& segments)
{
    int32_t i = 1;
    while (i < segments.count) {
        if (sameNote(segments[i - 1].value, segments[i].value)) {
            segments[i - 1].weight = static_cast<int16_t>(segments[i - 1].weight + segments[i].weight);
            segments.removeAt(i);
        } else {
            ++i;
        }
    }
}

bool absorbShortSegments(DynArray<PitchCandidate>& segments)
{
    for (int32_t i = 1; i < segments.count; ++i) {
        PitchCandidate& cur = segments[i - 1];
        PitchCandidate& next = segments[i];
        if (!isShort(cur))
            continue;
        if (i >= 2 && !isShort(segments[i - 2])) {
            PitchCandidate& prev = segments[i - 2];
            if (!isShort(next)) {
                // Split the short one between its neighbours.
                const int16_t h = static_cast<int16_t>(cur.weight / 2);
                prev.weight = static_cast<int16_t>(prev.weight + h);
                cur.value = next.value;
                cur.tag += h;
                cur.weight = static_cast<int16_t>(next.weight + (cur.weight - h));
                segments.removeAt(i);
            } else {
                prev.weight = static_cast<int16_t>(prev.weight + cur.weight);
                segments.removeAt(i - 1);
            }
        } else if (!isShort(next)) {
            cur.value = next.value;
            cur.weight = static_cast<int16_t>(cur.weight + next.weight);
            segments.removeAt(i);
        }
    }

    const int32_t n = segments.count;
    if (n >= 2 && isShort(segments[n - 1]) && !isShort(segments[n - 2])) {
        segments[n - 2].weight = static_cast<int16_t>(segments[n - 2].weight + segments[n - 1].weight);
        segments.removeAt(n - 1);
    }

    for (int32_t i = 0; i < segments.count; ++i)
        if (isShort(segments[i]))
            return false;
    return true;
}

float keyWeight(int32_t pc, int32_t k)
{
    return kProfiles[k < 12 ? 0 : 1][(pc + 12 - kTonics[k]) % 12];
}

int32_t chooseKey(const NoteSequence& notes)
{
    int32_t keys[24];
    float scores[24];
    for (int32_t k = 0; k < 24; ++k) {
        keys[k] = k;
        scores[k] = 0.0f;
        for (int32_t i = 0; i < notes.count; ++i) {
            const NoteEvent& note = notes[i];
            const int32_t pc = note.note % 12;
            const float duration = static_cast<float>(note.duration);
            scores[k] += duration * keyWeight(pc, k);
            if (note.cents > 42 && note.cents < 59)
                scores[k] += duration * keyWeight((pc + 1) % 12, k);
        }
    }
    quickSort(
        0, 23, [&](int i) { return scores[i]; }, [](float x, float y) { return x > y; },
        [&](int i, int j) {
            std::swap(scores[i], scores[j]);
            std::swap(keys[i], keys[j]);
        });
    return keys[0];
}

void resolveQuarterTones(NoteSequence& notes, int32_t key)
{
    for (int32_t i = 0; i < notes.count; ++i) {
        NoteEvent& note = notes[i];
        if (note.cents <= 42 || note.cents >= 59)
            continue;
        const int32_t pc = note.note % 12;
        if (keyWeight(pc, key) > keyWeight((pc + 1) % 12, key)) {
            note.cents = 40;
        } else {
            note.note = static_cast<uint8_t>(note.note + 1);
            note.cents = -40;
        }
    }
}

void mergeSameNotes(NoteSequence& notes)
{
    int32_t a = 1;
    while (a < notes.count) {
        NoteEvent& p = notes[a - 1];
        const NoteEvent& q = notes[a];
        const float px = notePitch(p);
        const float qx = notePitch(q);
        if (p.start + p.duration == q.start && fitsNoteLength(p.duration + q.duration) && sameNote(px, qx)) {
            const float d = (px + qx) * 0.5f;
            int32_t note = static_cast<int32_t>(d);
            if (d - static_cast<float>(note) >= 0.5f)
                ++note;
            // Cents are measured from the chosen note, so they are negative when the
            // mean was rounded up.
            p.note = static_cast<uint8_t>(note);
            p.cents = static_cast<int8_t>((d - static_cast<float>(note)) * 100.0f);
            p.duration = static_cast<int16_t>(p.duration + q.duration);
            notes.removeAt(a);
        } else {
            ++a;
        }
    }
}

void mergeShortNotes(NoteSequence& notes)
{
    int32_t a = 1;
    while (a < notes.count) {
        NoteEvent& p = notes[a - 1];
        const NoteEvent& q = notes[a];
        const bool pShort = p.duration < kShortFrames;
        const bool qShort = q.duration < kShortFrames;
        if (p.start + p.duration == q.start && pShort != qShort && fitsNoteLength(p.duration + q.duration)) {
            if (pShort) {
                p.note = q.note;
                p.cents = q.cents;
                p.velocity = static_cast<uint8_t>((p.velocity + q.velocity) * 0.5);
            }
            p.duration = static_cast<int16_t>(p.duration + q.duration);
            notes.removeAt(a);
        } else {
            ++a;
        }
    }
}

void convertToTicks(NoteSequence& notes)
{
    const double factor = midiTicksPerFrame(songSettings, takeFrameDuration(notes));
    for (int32_t i = 0; i < notes.count; ++i) {
        const int32_t start = truncToInt32(std::ceil(notes[i].start * factor));
        const int32_t total = std::max(truncToInt32(std::floor(notes[i].duration * factor)), 0);
        const int32_t pieces = (total + kMaxNoteTicks - 1) / kMaxNoteTicks;
        notes[i].start = start;
        if (pieces <= 1) {
            notes[i].duration = static_cast<int16_t>(total);
            continue;
        }
        // Too long for one note: equal adjacent pieces, the first ones a tick longer.
        NoteEvent piece = notes[i];
        int32_t pieceStart = start;
        int32_t added = 0;
        for (int32_t p = 0; p < pieces; ++p) {
            piece.start = pieceStart;
            piece.duration = static_cast<int16_t>(total / pieces + (p < total % pieces ? 1 : 0));
            pieceStart += piece.duration;
            if (p == 0)
                notes[i] = piece;
            else if (notes.insertAt(piece, i + p))
                ++added;
            else
                break;
        }
        i += added;
    }
}

int32_t quantise(int32_t len, int32_t unit)
{
    unit = std::max(unit, 1);
    int32_t c = unit;
    while (c < len)
        c *= 2;
    return (c - len > unit) ? c / 2 : c;
}

float scratchMedian(const DynArray<PitchCandidate>& list, bool byTag)
{
    std::vector<float> values;
    values.reserve(static_cast<size_t>(list.count));
    for (int32_t i = 0; i < list.count; ++i)
        values.push_back(byTag ? static_cast<float>(list[i].tag) : static_cast<float>(list[i].weight));
    if (values.empty())
        return 0.0f;
    const int n = static_cast<int>(values.size());
    quickSort(
        0, n - 1, [&](int i) { return values[static_cast<size_t>(i)]; }, [](float x, float y) { return x < y; },
        [&](int i, int j) { std::swap(values[static_cast<size_t>(i)], values[static_cast<size_t>(j)]); });
    const size_t mid = values.size() / 2;
    if (n % 2 == 1)
        return values[mid];
    return (values[mid - 1] + values[mid]) * 0.5f;
}

void computeSummary(NoteSequence& notes)
{
    DynArray<PitchCandidate>& lengths = notes.scratch;
    lengths.clear();
    const int32_t whole = 4 * songSettings.tpqn;
    const int32_t sixtyFourth = whole / 64;
    int32_t minOct = 12;
    int32_t maxOct = 0;
    for (int32_t i = 0; i < notes.count; ++i) {
        const int32_t oct = notes[i].note / 12;
        if (oct < minOct)
            minOct = oct;
        else if (oct > maxOct)
            maxOct = oct;
        lengths.append({quantise(notes[i].duration, sixtyFourth), static_cast<int16_t>(oct), 0.0f});
    }

    int32_t m = static_cast<int32_t>(scratchMedian(lengths, true));
    if (m == 0)
        m = 1;
    notes.noteDivision = static_cast<uint8_t>(m > whole ? 1 : whole / m);
    notes.medianOctave = static_cast<uint8_t>(scratchMedian(lengths, false));

    int32_t octaveShift = 0;
    const int32_t s = minOct - 4;
    if (s < 0)
        octaveShift = -s;
    else if (maxOct > 7 && s > 0)
        octaveShift = -s;
    notes.octaveShift = static_cast<int8_t>(octaveShift);

    int32_t octaveRoom = 7 - notes.medianOctave;
    const int32_t t = octaveRoom + minOct - 7;
    if (t >= 0)
        octaveRoom -= t + 1;
    notes.octaveRoom = static_cast<int8_t>(octaveRoom);

    songSettings.suggestedShift = notes.octaveShift;
}

bool recognise(NoteSequence& notes, bool mergeShortPitchDeviations)
{
    notes.scratch.clear();
    if (!notes.hasRawFrames())
        return false;
    notes.clear();

    const RawTrack& raw = *notes.raw;
    int32_t b = 0;
    while (b < raw.count) {
        const int32_t a = std::min(runEnd(raw, b), b + kMaxRunFrames);
        if (a - b > kMaxShortRunFrames)
            recogniseLongRun(notes, b, a, mergeShortPitchDeviations);
        else
            recogniseShortRun(notes, b, a);
        b = a;
    }
    if (notes.count == 0)
        return false;

    if (notes.nearHalfCount > 0)
        resolveQuarterTones(notes, chooseKey(notes));
    mergeSameNotes(notes);
    if (mergeShortPitchDeviations)
        mergeShortNotes(notes);
    convertToTicks(notes);
    computeSummary(notes);
    notes.recognised = true;
    return true;
}
