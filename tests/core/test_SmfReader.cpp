// Reading notes back from Standard MIDI Files: the converter's own files, hand-made files
// with running status and format 0, note pairing, and damaged files.

#include "midi/SmfReader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "midi/MidiEvents.h"
#include "midi/SmfWriter.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes header(uint16_t format, uint16_t tracks, uint16_t division)
{
    return {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, static_cast<uint8_t>(format), 0, static_cast<uint8_t>(tracks),
            static_cast<uint8_t>(division >> 8), static_cast<uint8_t>(division & 0xFF)};
}

void addTrack(Bytes& file, const Bytes& events)
{
    const uint32_t n = static_cast<uint32_t>(events.size());
    file.insert(file.end(), {'M', 'T', 'r', 'k', static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16),
                             static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)});
    file.insert(file.end(), events.begin(), events.end());
}

SmfContents parse(const Bytes& file)
{
    SmfContents contents;
    std::string error;
    EXPECT_TRUE(parseMidiFile(file, contents, error)) << error;
    return contents;
}

std::string refusal(const Bytes& file)
{
    SmfContents contents;
    std::string error;
    EXPECT_FALSE(parseMidiFile(file, contents, error));
    return error;
}

TEST(SmfReader, ReadsBackTheNotesTheConverterWrote)
{
    SongSettings song;
    song.tpqn = 240;
    song.tempo = 90;
    song.meterNum = 3;
    song.meterDen = 4;
    song.octaveShift = 1; // written into the file's notes
    NoteSequence notes;
    notes.append(NoteEvent{0, 240, 55, 100, 0});
    notes.append(NoteEvent{300, 120, 62, 80, 0});
    notes.append(NoteEvent{420, 30000, 64, 70, 0});
    const SmfContents contents = parse(buildNotesMidiFile(notes, song));

    EXPECT_EQ(contents.format, 1);
    EXPECT_EQ(contents.ticksPerQuarter, 240);
    EXPECT_EQ(contents.usPerQuarter, 60000000u / 90);
    EXPECT_EQ(contents.meterNum, 3);
    ASSERT_EQ(contents.notes.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(contents.notes[i].start, notes[i].start);
        EXPECT_EQ(contents.notes[i].duration, notes[i].duration);
        EXPECT_EQ(contents.notes[i].note, notes[i].note + 12);
        EXPECT_EQ(contents.notes[i].velocity, notes[i].velocity);
    }

    // Read back, the notes play as the file holds them: the shift is not applied again.
    NoteSequence back;
    SongSettings played;
    played.octaveShift = 1;
    ASSERT_TRUE(notesFromMidiFile(contents, back, played));
    ASSERT_EQ(back.count, 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(shiftedNote(back[i].note, played), contents.notes[i].note);
    EXPECT_EQ(played.tpqn, 240);
    EXPECT_EQ(played.tempo, 90);
    EXPECT_EQ(played.recordTempo, 90);
}

TEST(SmfReader, RunningStatusVelocityZeroAndFormatZero)
{
    Bytes file = header(0, 1, 96);
    addTrack(file, {0x00, 0x90, 60, 100,   // note on
                    0x60, 60, 0,           // running status: velocity 0 ends it
                    0x00, 62, 90,          // running status: note on
                    0x81, 0x00, 0x80, 62, 0, // 128 ticks later, note off
                    0x00, 0xFF, 0x2F, 0x00});
    const SmfContents contents = parse(file);
    ASSERT_EQ(contents.notes.size(), 2u);
    EXPECT_EQ(contents.notes[0].note, 60);
    EXPECT_EQ(contents.notes[0].duration, 96);
    EXPECT_EQ(contents.notes[1].start, 96);
    EXPECT_EQ(contents.notes[1].duration, 128);
    EXPECT_EQ(contents.usPerQuarter, 500000u); // no tempo: 120 BPM
}

TEST(SmfReader, PairsRepeatedKeysFirstInFirstOutAndEndsOpenNotesWithTheirTrack)
{
    Bytes file = header(1, 2, 480);
    addTrack(file, {0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, 0x00, 0xFF, 0x2F, 0x00}); // 500000 us
    addTrack(file, {0x00, 0x91, 70, 100, // channel 1
                    0x0A, 0x91, 70, 50,  // the same key again
                    0x0A, 0x81, 70, 0,   // ends the first
                    0x0A, 0x81, 70, 0,   // ends the second
                    0x00, 0xF0, 0x02, 0x01, 0xF7, // system exclusive, skipped
                    0x05, 0x91, 72, 90,  // never ended
                    0x07, 0xFF, 0x2F, 0x00});
    const SmfContents contents = parse(file);
    ASSERT_EQ(contents.notes.size(), 3u);
    EXPECT_EQ(contents.notes[0].start, 0);
    EXPECT_EQ(contents.notes[0].duration, 20);
    EXPECT_EQ(contents.notes[0].velocity, 100);
    EXPECT_EQ(contents.notes[0].channel, 1);
    EXPECT_EQ(contents.notes[1].start, 10);
    EXPECT_EQ(contents.notes[1].duration, 20);
    EXPECT_EQ(contents.notes[2].start, 35);
    EXPECT_EQ(contents.notes[2].duration, 7);
}

TEST(SmfReader, LongNotesAreSplitIntoPiecesThatFitANote)
{
    SmfContents contents;
    contents.ticksPerQuarter = 480;
    contents.usPerQuarter = 1000000;
    contents.notes.push_back(SmfNote{100, 70000, 60, 90, 0});
    NoteSequence notes;
    SongSettings song;
    ASSERT_TRUE(notesFromMidiFile(contents, notes, song));
    ASSERT_EQ(notes.count, 3);
    EXPECT_EQ(notes[0].start, 100);
    EXPECT_EQ(notes[0].duration, 32767);
    EXPECT_EQ(notes[1].start, 100 + 32767);
    EXPECT_EQ(notes[2].duration, 70000 - 2 * 32767);
    EXPECT_EQ(song.tempo, 60);

    NoteSequence none;
    EXPECT_FALSE(notesFromMidiFile(SmfContents{}, none, song));
}

TEST(SmfReader, RefusesWhatItCannotReadWithAReason)
{
    EXPECT_NE(refusal({'R', 'I', 'F', 'F'}).find("not a Standard MIDI File"), std::string::npos);
    EXPECT_NE(refusal(header(2, 1, 96)).find("format 2"), std::string::npos);
    EXPECT_NE(refusal(header(0, 1, 0xE728)).find("SMPTE"), std::string::npos);

    Bytes missing = header(0, 1, 96);
    EXPECT_NE(refusal(missing).find("fewer tracks"), std::string::npos);

    Bytes cut = header(0, 1, 96);
    addTrack(cut, {0x00, 0x90, 60});
    EXPECT_NE(refusal(cut).find("damaged"), std::string::npos);

    Bytes noStatus = header(0, 1, 96);
    addTrack(noStatus, {0x00, 60, 100});
    EXPECT_NE(refusal(noStatus).find("without a status"), std::string::npos);

    Bytes longTrack = header(0, 1, 96);
    addTrack(longTrack, {0x00, 0x90, 60, 100});
    longTrack[longTrack.size() - 5] = 0x7F; // the track claims far more bytes than there are
    EXPECT_NE(refusal(longTrack).find("past the end of the file"), std::string::npos);

    Bytes endlessDelta = header(0, 1, 96);
    addTrack(endlessDelta, {0xFF, 0xFF, 0xFF, 0xFF, 0x7F});
    EXPECT_NE(refusal(endlessDelta).find("damaged"), std::string::npos);

    SmfContents contents;
    std::string error;
    EXPECT_FALSE(readMidiFile("/nonexistent-folder/none.mid", contents, error));
    EXPECT_NE(error.find("cannot open"), std::string::npos);
}

} // namespace
