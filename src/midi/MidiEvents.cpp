#include "midi/MidiEvents.h"

#include <algorithm>
#include <cmath>

namespace {

void ensureStorage(EventList& events)
{
    if (events.data == nullptr)
        events.init(kEventListInitialWords);
}

bool appendWord(EventList& events, uint32_t word)
{
    return !events.error && events.append(word);
}

bool appendEvent(EventList& events, uint32_t delta, uint32_t message)
{
    return appendWord(events, delta) && appendWord(events, 0) && appendWord(events, message);
}

uint32_t clampDelta(int64_t ticks)
{
    return static_cast<uint32_t>(std::clamp<int64_t>(ticks, 0, kMaxDeltaTicks));
}

uint8_t dataByte(int32_t value)
{
    return static_cast<uint8_t>(std::clamp(value, 0, 127));
}

// Ticks of a distance in frames, truncated toward zero.
uint32_t framesToTicks(int64_t frames, double ticksPerFrame)
{
    const double ticks = std::trunc(static_cast<double>(frames) * ticksPerFrame);
    if (!(ticks > 0))
        return 0;
    return ticks >= kMaxDeltaTicks ? kMaxDeltaTicks : static_cast<uint32_t>(ticks);
}

uint8_t noteOfPitch(double pitch)
{
    if (!(pitch > 0))
        return 0;
    return pitch >= 127 ? 127 : static_cast<uint8_t>(pitch);
}

// Pitch-bend message for an offset in semitones from the sounding note.
uint32_t bendMessage(uint8_t channel, double semitones)
{
    const double value = std::trunc(semitones * kPlaybackBendUnitsPerSemitone + kBendCentre);
    const int32_t bend = std::isnan(value) ? kBendCentre : static_cast<int32_t>(std::clamp(value, 0.0, 16383.0));
    return shortMessage(kPitchBendStatus | channel, bend & 0x7F, (bend >> 7) & 0x7F);
}

} // namespace

uint32_t shortMessage(uint8_t status, uint8_t data1, uint8_t data2)
{
    return static_cast<uint32_t>(status) | static_cast<uint32_t>(data1) << 8 | static_cast<uint32_t>(data2) << 16;
}

uint8_t clampNote(int32_t note)
{
    return dataByte(note);
}

uint8_t shiftedNote(uint8_t note, const SongSettings& song)
{
    return clampNote(song.octaveShift * 12 + note);
}

uint8_t melodyChannel(const SongSettings& song)
{
    return song.channel & 0x0F;
}

void buildNoteEvents(const NoteSequence& notes, const SongSettings& song, EventList& events, float* lastNote)
{
    ensureStorage(events);
    const uint8_t channel = melodyChannel(song);
    int64_t prevEnd = 0;
    for (int32_t i = 0; i < notes.count; ++i) {
        const NoteEvent& n = notes[i];
        const uint8_t note = shiftedNote(n.note, song);
        const uint32_t delta = clampDelta(n.start - prevEnd);
        const uint32_t duration = clampDelta(n.duration);
        if (!appendEvent(events, delta, shortMessage(kNoteOnStatus | channel, note, dataByte(n.velocity))))
            return;
        if (lastNote != nullptr)
            *lastNote = note;
        if (!appendEvent(events, duration, shortMessage(kNoteOffStatus | channel, note, 0)))
            return;
        prevEnd += static_cast<int64_t>(delta) + duration;
    }
}

void buildRawEvents(const RawTrack& raw, const SongSettings& song, double ticksPerFrame, EventList& events)
{
    ensureStorage(events);
    const uint8_t channel = melodyChannel(song);
    bool sounding = false;
    int64_t expected = 0;
    int64_t last = 0;
    uint8_t base = 0;
    for (int32_t i = 0; i < raw.count; ++i) {
        const RawFrame& r = raw[i];
        const double pitch = song.octaveShift * 12 + static_cast<double>(r.pitch);
        if (sounding && r.frame != expected) {
            const int64_t end = expected - 1;
            if (!appendEvent(events, framesToTicks(end - last, ticksPerFrame),
                             shortMessage(kNoteOffStatus | channel, base, kReleaseVelocity)))
                return;
            last = end;
            sounding = false;
        }
        const uint32_t delta = framesToTicks(r.frame - last, ticksPerFrame);
        if (sounding) {
            if (!appendEvent(events, delta, bendMessage(channel, pitch - base)))
                return;
        } else {
            base = noteOfPitch(pitch);
            if (!appendEvent(events, delta, shortMessage(kNoteOnStatus | channel, base, kPlayVelocity)) ||
                !appendEvent(events, 0, bendMessage(channel, pitch - base)))
                return;
            sounding = true;
        }
        last = r.frame;
        expected = static_cast<int64_t>(r.frame) + 1;
    }
}

void buildRingtoneEvents(const NoteSequence& notes, const SongSettings& song, const RingtoneSettings& ringtone,
                         EventList& events)
{
    ensureStorage(events);
    if (notes.count == 0)
        return;
    const uint8_t channel = melodyChannel(song);
    const int32_t unit = 4 * song.tpqn / 64;
    const int32_t shift = ringtone.octave * 12;

    if (!appendWord(events, clampDelta(notes[0].start)) || !appendWord(events, 0))
        return;
    for (int32_t k = 0; k < notes.count; ++k) {
        const NoteEvent& n = notes[k];
        const bool hasNext = k + 1 < notes.count;
        const int16_t gap = hasNext ? static_cast<int16_t>(notes[k + 1].start - n.start) : 0;
        const RingtoneSplit split = splitRingtoneNote(n.duration, gap, unit);

        int32_t p = n.note + shift;
        if (p < 48)
            p += 12;
        else if (p >= 96)
            p -= 12;
        const uint8_t note = clampNote(p);
        if (!appendWord(events, shortMessage(kNoteOnStatus | channel, note, kPlayVelocity)) ||
            !appendEvent(events, clampDelta(split.len), shortMessage(kNoteOffStatus | channel, note, kReleaseVelocity)))
            return;
        if (hasNext && !(appendWord(events, clampDelta(split.rest)) && appendWord(events, 0)))
            return;
    }
}

int16_t ringtoneLength(int32_t d, int32_t unit)
{
    const int64_t step = std::max(unit, 1);
    int64_t c = step;
    while (c < d)
        c *= 2;
    const int64_t length = c - d > step ? c / 2 : c;
    return static_cast<int16_t>(std::min<int64_t>(length, INT16_MAX));
}

RingtoneSplit splitRingtoneNote(int16_t dur, int16_t gap, int32_t unit)
{
    RingtoneSplit split{0, 0};
    const int32_t d = (gap - dur <= unit && dur < gap) ? gap : dur;
    split.len = ringtoneLength(d, unit);
    const int32_t r = gap - split.len;
    if (r > unit)
        split.rest = ringtoneLength(r, unit);
    return split;
}
