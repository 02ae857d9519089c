#include "midi/MidiEvents.h"

#include <gtest/gtest.h>

#include <vector>

#include "midi/MidiTime.h"

namespace {

struct Event {
    uint32_t delta;
    uint32_t message;
    bool operator==(const Event&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Event& e)
{
    return out << "{" << e.delta << ", " << std::hex << e.message << std::dec << "}";
}

// The list as (delta, message) pairs; every stream id must be 0.
std::vector<Event> eventsOf(const EventList& list)
{
    EXPECT_EQ(list.count % 3, 0);
    std::vector<Event> events;
    for (int32_t i = 0; i + 2 < list.count; i += 3) {
        EXPECT_EQ(list[i + 1], 0u) << "stream id of word " << i;
        events.push_back({list[i], list[i + 2]});
    }
    return events;
}

uint32_t on(uint8_t channel, uint8_t note, uint8_t velocity)
{
    return shortMessage(0x90 | channel, note, velocity);
}

uint32_t off(uint8_t channel, uint8_t note, uint8_t velocity)
{
    return shortMessage(0x80 | channel, note, velocity);
}

uint32_t bend(uint8_t channel, int value)
{
    return shortMessage(0xE0 | channel, value & 0x7F, (value >> 7) & 0x7F);
}

void addNote(NoteSequence& notes, int32_t start, int16_t duration, uint8_t note, uint8_t velocity = 100)
{
    notes.append(NoteEvent{start, duration, note, velocity, 0});
}

void addFrame(RawTrack& raw, int32_t frame, float pitch)
{
    raw.append(RawFrame{frame, 0, 0.0f, pitch, 100, nullptr});
}

TEST(ShortMessage, PacksStatusAndDataBytes)
{
    EXPECT_EQ(shortMessage(0x99, 0x46, 0x64), 0x00644699u);
    EXPECT_EQ(shortMessage(0xE0, 0x00, 0x40), 0x004000E0u);
}

TEST(NoteEvents, NotesFollowOneAnotherFromThePreviousEnd)
{
    SongSettings song;
    song.channel = 2;
    song.octaveShift = 1;
    NoteSequence notes;
    addNote(notes, 100, 200, 60, 90);
    addNote(notes, 400, 100, 62, 100);
    addNote(notes, 450, 100, 64, 80); // starts 50 ticks before the previous note ends
    addNote(notes, 700, 50, 65, 70);
    EventList list;
    float lastNote = 0;
    buildNoteEvents(notes, song, list, &lastNote);

    const std::vector<Event> expected = {
        {100, on(2, 72, 90)},  {200, off(2, 72, 0)}, {100, on(2, 74, 100)}, {100, off(2, 74, 0)},
        {0, on(2, 76, 80)},    {100, off(2, 76, 0)}, {100, on(2, 77, 70)},  {50, off(2, 77, 0)},
    };
    EXPECT_EQ(eventsOf(list), expected) << "the overlapping note starts late; the next keeps its time";
    EXPECT_EQ(lastNote, 77.0f);
}

TEST(NoteEvents, OctaveShiftStaysInTheMidiRange)
{
    SongSettings song;
    NoteSequence notes;
    addNote(notes, 0, 10, 120, 200);
    addNote(notes, 10, 10, 5);
    EventList list;
    song.octaveShift = 1;
    buildNoteEvents(notes, song, list);
    song.octaveShift = -1;
    buildNoteEvents(notes, song, list);
    const std::vector<Event> events = eventsOf(list);
    ASSERT_EQ(events.size(), 8u);
    EXPECT_EQ(events[0], (Event{0, on(0, 127, 127)}));
    EXPECT_EQ(events[2], (Event{0, on(0, 17, 100)}));
    EXPECT_EQ(events[4], (Event{0, on(0, 108, 127)}));
    EXPECT_EQ(events[6], (Event{0, on(0, 0, 100)}));
}

TEST(RawEvents, RunsGlideWithBendsAndEndWhenTheRunBreaks)
{
    SongSettings song;
    song.channel = 5;
    RawTrack raw(100);
    addFrame(raw, 10, 60.5f);
    addFrame(raw, 11, 60.75f);
    addFrame(raw, 12, 61.0f);
    addFrame(raw, 20, 62.25f);
    EventList list;
    buildRawEvents(raw, song, midiTicksPerFrame(song, FrameDuration{}), list);

    const std::vector<Event> expected = {
        {268, on(5, 60, 105)}, {0, bend(5, 8260)},    {26, bend(5, 8294)},   {26, bend(5, 8328)},
        {0, off(5, 60, 64)},   {215, on(5, 62, 105)}, {0, bend(5, 8226)},
    };
    EXPECT_EQ(eventsOf(list), expected);
}

TEST(RawEvents, OctaveShiftMovesTheBaseAndBendsStayInRange)
{
    SongSettings song;
    song.octaveShift = -1;
    RawTrack raw(100);
    addFrame(raw, 0, 60.5f);
    addFrame(raw, 1, 140.0f); // 80 semitones above the base: beyond the bend range
    addFrame(raw, 5, 100.0f);
    addFrame(raw, 6, 20.0f); // 80 semitones below
    EventList list;
    buildRawEvents(raw, song, 10.0, list);
    const std::vector<Event> expected = {
        {0, on(0, 48, 105)},  {0, bend(0, 8260)}, {10, bend(0, 16383)}, {0, off(0, 48, 64)},
        {40, on(0, 88, 105)}, {0, bend(0, 8192)}, {10, bend(0, 0)},
    };
    EXPECT_EQ(eventsOf(list), expected);
}

TEST(RingtoneEvents, NotesAreRetimedInRingtoneValues)
{
    SongSettings song; // 480 ticks per quarter: the unit is 30
    song.channel = 1;
    RingtoneSettings ringtone;
    NoteSequence notes;
    addNote(notes, 240, 100, 40);
    addNote(notes, 480, 200, 100);
    addNote(notes, 720, 90, 48);
    addNote(notes, 1000, 60, 95);
    EventList list;
    buildRingtoneEvents(notes, song, ringtone, list);

    const std::vector<Event> expected = {
        {240, on(1, 52, 105)}, {120, off(1, 52, 64)}, {120, on(1, 88, 105)}, {120, off(1, 88, 64)},
        {120, on(1, 48, 105)}, {120, off(1, 48, 64)}, {120, on(1, 95, 105)}, {60, off(1, 95, 64)},
    };
    EXPECT_EQ(eventsOf(list), expected);

    ringtone.octave = 2;
    NoteSequence high;
    addNote(high, 0, 30, 80);
    list.clear();
    buildRingtoneEvents(high, song, ringtone, list);
    EXPECT_EQ(eventsOf(list), (std::vector<Event>{{0, on(1, 92, 105)}, {30, off(1, 92, 64)}}));

    NoteSequence none;
    list.clear();
    buildRingtoneEvents(none, song, ringtone, list);
    EXPECT_EQ(list.count, 0) << "no half event for an empty melody";
}

TEST(RingtoneEvents, SplitAbsorbsShortSilencesAndDropsShortRests)
{
    EXPECT_EQ(ringtoneLength(100, 30), 120);
    EXPECT_EQ(ringtoneLength(200, 30), 120);
    EXPECT_EQ(ringtoneLength(10, 30), 30);
    EXPECT_EQ(ringtoneLength(10, 0), 8) << "a unit below 1 counts as 1";

    const RingtoneSplit spaced = splitRingtoneNote(100, 240, 30);
    EXPECT_EQ(spaced.len, 120);
    EXPECT_EQ(spaced.rest, 120);
    const RingtoneSplit absorbed = splitRingtoneNote(100, 120, 30);
    EXPECT_EQ(absorbed.len, 120);
    EXPECT_EQ(absorbed.rest, 0);
    const RingtoneSplit shortRest = splitRingtoneNote(60, 80, 30);
    EXPECT_EQ(shortRest.len, 60);
    EXPECT_EQ(shortRest.rest, 0);
}

} // namespace
