#include "midi/SmfWriter.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "export/ScoreExport.h"
#include "midi/MidiEvents.h"
#include "midi/MidiTime.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;
using Fields = std::map<std::string, std::string>;

// One event as the independent reader (tests/tools/midi_dump.py, using mido) saw it.
struct DumpedEvent {
    int track;
    long tick;
    std::string type;
    Fields fields;
    long number(const std::string& key) const { return std::stol(fields.at(key)); }
};

struct Dump {
    int status = -1;
    std::string output;
    Fields file;
    std::vector<DumpedEvent> events;

    std::vector<DumpedEvent> ofType(const std::string& type) const
    {
        std::vector<DumpedEvent> found;
        for (const DumpedEvent& e : events)
            if (e.type == type)
                found.push_back(e);
        return found;
    }
};

Fields parseFields(const std::string& line)
{
    static const std::regex field(R"re((\w+)=("[^"]*"|\S+))re");
    Fields fields;
    for (auto it = std::sregex_iterator(line.begin(), line.end(), field); it != std::sregex_iterator(); ++it)
        fields[(*it)[1]] = (*it)[2];
    return fields;
}

// Debian's python3-mido lives with the system interpreter, which another python3 on
// the PATH may hide.
std::string python()
{
    return fs::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
}

Dump dumpMidiFile(const std::string& path)
{
    const std::string command =
        python() + " '" LIRROSA_SOURCE_DIR "/tests/tools/midi_dump.py' '" + path + "' 2>&1";
    Dump dump;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return dump;
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
        dump.output += buffer;
    const int status = ::pclose(pipe);
    dump.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;

    std::istringstream lines(dump.output);
    std::string line;
    while (std::getline(lines, line)) {
        Fields fields = parseFields(line);
        if (line.rfind("file ", 0) == 0) {
            dump.file = fields;
        } else if (fields.count("track") && fields.count("tick") && fields.count("type")) {
            DumpedEvent e{std::stoi(fields["track"]), std::stol(fields["tick"]), fields["type"], fields};
            dump.events.push_back(e);
        }
    }
    return dump;
}

struct Note {
    long start;
    long end;
    long pitch;
    long velocity;
    bool operator<(const Note& o) const
    {
        return std::tie(start, pitch, end, velocity) < std::tie(o.start, o.pitch, o.end, o.velocity);
    }
    bool operator==(const Note&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Note& n)
{
    return out << "{" << n.start << ".." << n.end << " note " << n.pitch << " vel " << n.velocity << "}";
}

// Pairs every note on with the first later note off of the same pitch.
std::vector<Note> notesOf(const Dump& dump, int channel)
{
    std::vector<Note> notes;
    std::vector<bool> used(dump.events.size(), false);
    for (size_t i = 0; i < dump.events.size(); ++i) {
        const DumpedEvent& e = dump.events[i];
        if (e.type != "note_on" || e.number("velocity") == 0)
            continue;
        EXPECT_EQ(e.number("channel"), channel);
        for (size_t j = i + 1; j < dump.events.size(); ++j) {
            const DumpedEvent& o = dump.events[j];
            if (!used[j] && o.type == "note_off" && o.number("note") == e.number("note")) {
                used[j] = true;
                notes.push_back({e.tick, o.tick, e.number("note"), e.number("velocity")});
                break;
            }
        }
    }
    std::sort(notes.begin(), notes.end());
    return notes;
}

uint32_t bigEndian(const Bytes& bytes, size_t at, int n)
{
    uint32_t value = 0;
    for (int i = 0; i < n; ++i)
        value = value << 8 | bytes[at + static_cast<size_t>(i)];
    return value;
}

// The chunks of a file, checked to tile it exactly.
std::vector<Bytes> chunksOf(const Bytes& file)
{
    std::vector<Bytes> chunks;
    size_t at = 0;
    while (at + 8 <= file.size()) {
        const uint32_t length = bigEndian(file, at + 4, 4);
        EXPECT_LE(at + 8 + length, file.size());
        chunks.emplace_back(file.begin() + static_cast<long>(at), file.begin() + static_cast<long>(at + 8 + length));
        at += 8 + length;
    }
    EXPECT_EQ(at, file.size()) << "chunk lengths must add up to the file size";
    return chunks;
}

Bytes bytesOf(std::initializer_list<int> values)
{
    Bytes bytes;
    for (int v : values)
        bytes.push_back(static_cast<uint8_t>(v));
    return bytes;
}

Bytes readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

class MidiFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/lirrosa-smf-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string save(const std::string& name, const Bytes& bytes)
    {
        const std::string path = (dir / name).string();
        std::string error;
        EXPECT_TRUE(writeFileAtomically(path, bytes, error)) << error;
        return path;
    }

    fs::path dir;
};

TEST_F(MidiFiles, NotesFileBytes)
{
    SongSettings song;
    NoteSequence notes;
    notes.append(NoteEvent{0, 480, 60, 100, 0});
    const Bytes file = buildNotesMidiFile(notes, song);

    const std::vector<Bytes> chunks = chunksOf(file);
    ASSERT_EQ(chunks.size(), 3u);
    EXPECT_EQ(chunks[0], bytesOf({'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 2, 0x01, 0xE0}));
    EXPECT_EQ(chunks[1], bytesOf({'M', 'T', 'r', 'k', 0, 0, 0, 19, 0, 0xFF, 0x51, 3, 0x07, 0xA1, 0x20, 0, 0xFF,
                                  0x58, 4, 4, 2, 24, 8, 0, 0xFF, 0x2F, 0}));
    EXPECT_EQ(chunks[2], bytesOf({'M', 'T', 'r', 'k', 0, 0, 0, 30, 0, 0xFF, 3, 6, 'M', 'e', 'l', 'o', 'd', 'y',
                                  0, 0xC0, 0, 0, 0xB0, 7, 100, 0, 0x90, 60, 100, 0x83, 0x60, 0x80, 60, 0,
                                  0, 0xFF, 0x2F, 0}));
}

TEST_F(MidiFiles, NotesSurviveAnIndependentReader)
{
    SongSettings song;
    song.tpqn = 96;
    song.channel = 3;
    song.tempo = 90;
    song.meterNum = 3;
    song.meterDen = 4;
    song.patch = 73;
    song.volume = 90;
    song.octaveShift = 1;
    NoteSequence notes;
    notes.append(NoteEvent{0, 48, 60, 100, 0});
    notes.append(NoteEvent{48, 48, 60, 90, 0}); // same pitch, starting as the first ends
    notes.append(NoteEvent{200, 30, 64, 61, 0});
    notes.append(NoteEvent{200000, 96, 67, 123, 0}); // a delta of three bytes
    notes.append(NoteEvent{200050, 10, 69, 80, 0}); // starts before the previous note ends
    const Dump dump = dumpMidiFile(save("notes.mid", buildNotesMidiFile(notes, song)));
    ASSERT_EQ(dump.status, 0) << dump.output;

    EXPECT_EQ(dump.file.at("type"), "1");
    EXPECT_EQ(dump.file.at("ticks_per_beat"), "96");
    EXPECT_EQ(dump.file.at("tracks"), "2");
    const auto tempo = dump.ofType("set_tempo");
    ASSERT_EQ(tempo.size(), 1u);
    EXPECT_EQ(tempo[0].number("tempo"), 666666);
    const auto meter = dump.ofType("time_signature");
    ASSERT_EQ(meter.size(), 1u);
    EXPECT_EQ(meter[0].number("numerator"), 3);
    EXPECT_EQ(meter[0].number("denominator"), 4);
    const auto program = dump.ofType("program_change");
    ASSERT_EQ(program.size(), 1u);
    EXPECT_EQ(program[0].tick, 0);
    EXPECT_EQ(program[0].number("channel"), 3);
    EXPECT_EQ(program[0].number("program"), 73);
    const auto volume = dump.ofType("control_change");
    ASSERT_EQ(volume.size(), 1u);
    EXPECT_EQ(volume[0].number("control"), 7);
    EXPECT_EQ(volume[0].number("value"), 90);
    EXPECT_EQ(dump.ofType("track_name").at(0).fields.at("name"), "\"Melody\"");

    const std::vector<Note> expected = {
        {0, 48, 72, 100}, {48, 96, 72, 90}, {200, 230, 76, 61}, {200000, 200096, 79, 123}, {200050, 200060, 81, 80},
    };
    EXPECT_EQ(notesOf(dump, 3), expected);
    for (const DumpedEvent& off : dump.ofType("note_off"))
        EXPECT_EQ(off.number("velocity"), 0);
}

TEST_F(MidiFiles, ScoreHasTheMeterAndTheLeadingRest)
{
    SongSettings song;
    NoteSequence notes;
    notes.append(NoteEvent{300, 240, 60, 100, 0});
    notes.append(NoteEvent{700, 480, 62, 90, 0});
    ScoreMeter meter;
    std::string error;
    ASSERT_TRUE(scoreMeterFromFields("6", "8", true, "1", "4", meter, error)) << error;
    std::string exportPath = "old";
    const std::string path = (dir / "score.mid").string();
    ASSERT_TRUE(exportScoreFile(notes, song, meter, path, exportPath, error)) << error;
    EXPECT_EQ(exportPath, path);
    const Dump offBeat = dumpMidiFile(path);
    ASSERT_EQ(offBeat.status, 0) << offBeat.output;
    const auto signature = offBeat.ofType("time_signature");
    ASSERT_EQ(signature.size(), 1u);
    EXPECT_EQ(signature[0].number("numerator"), 6);
    EXPECT_EQ(signature[0].number("denominator"), 8);
    // The first note after a quarter rest, the second as far after it as before.
    EXPECT_EQ(notesOf(offBeat, 0), (std::vector<Note>{{480, 720, 60, 100}, {880, 1360, 62, 90}}));

    ASSERT_TRUE(scoreMeterFromFields("3", "4", false, "", "", meter, error));
    const Dump onTheBeat = dumpMidiFile(save("beat.mid", buildScoreFile(notes, song, meter)));
    EXPECT_EQ(onTheBeat.ofType("time_signature").at(0).number("numerator"), 3);
    EXPECT_EQ(notesOf(onTheBeat, 0).at(0).start, 0);
}

TEST_F(MidiFiles, ScoreRefusesBadMetersAndEmptyMelodies)
{
    ScoreMeter meter;
    std::string error;
    EXPECT_FALSE(scoreMeterFromFields("0", "4", false, "4", "4", meter, error));
    EXPECT_EQ(error, kInvalidMeterText);
    EXPECT_FALSE(scoreMeterFromFields("4", "3", false, "4", "4", meter, error));
    EXPECT_FALSE(scoreMeterFromFields("4", "", false, "4", "4", meter, error));
    EXPECT_FALSE(scoreMeterFromFields("4", "4", true, "1", "6", meter, error));
    EXPECT_EQ(error, kInvalidPauseText);
    EXPECT_TRUE(scoreMeterFromFields("4", "4", false, "1", "6", meter, error)); // the pause is not used

    NoteSequence none;
    std::string exportPath = "old";
    const std::string path = (dir / "none.mid").string();
    EXPECT_FALSE(exportScoreFile(none, SongSettings(), meter, path, exportPath, error));
    EXPECT_EQ(exportPath, "");
    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(defaultScorePath("/home/me/work", "a/b: c"), "/home/me/work/ab c.mid");
}

TEST_F(MidiFiles, RawTrackSurvivesAnIndependentReader)
{
    SongSettings song;
    song.tpqn = 240;
    song.recordTempo = 100;
    song.tempo = 100;
    song.channel = 2;
    song.patch = 52;
    RawTrack raw(100);
    const std::vector<std::pair<int32_t, float>> frames = {
        {10, 60.5f}, {11, 61.0f}, {12, 59.75f}, {30, 70.2f}, {31, 70.9f}};
    for (const auto& [frame, pitch] : frames)
        raw.append(RawFrame{frame, 0, 0.0f, pitch, 50, nullptr});
    const double ticksPerFrame = midiTicksPerFrame(song, FrameDuration{}); // 11.2
    const Dump dump = dumpMidiFile(save("raw.mid", buildRawMidiFile(raw, song, ticksPerFrame)));
    ASSERT_EQ(dump.status, 0) << dump.output;
    EXPECT_EQ(dump.file.at("ticks_per_beat"), "240");
    EXPECT_EQ(dump.ofType("set_tempo").at(0).number("tempo"), 600000);

    // The set-up: program, volume, centred bend, then the bend range of 60 by RPN 0.
    const auto controls = dump.ofType("control_change");
    ASSERT_EQ(controls.size(), 5u);
    const std::vector<std::pair<long, long>> expectedControls = {{7, 100}, {101, 0}, {100, 0}, {6, 60}, {38, 0}};
    for (size_t i = 0; i < controls.size(); ++i) {
        EXPECT_EQ(controls[i].tick, 0);
        EXPECT_EQ(controls[i].number("channel"), 2);
        EXPECT_EQ(std::make_pair(controls[i].number("control"), controls[i].number("value")), expectedControls[i]);
    }
    EXPECT_EQ(dump.ofType("program_change").at(0).number("program"), 52);

    // Every playback event at the time the playback list gives it.
    EventList list;
    buildRawEvents(raw, song, ticksPerFrame, list);
    std::vector<std::tuple<long, std::string, long, long>> expected;
    long tick = 0;
    for (int32_t i = 0; i < list.count; i += 3) {
        tick += list[i];
        const uint32_t m = list[i + 2];
        const long d1 = (m >> 8) & 0x7F;
        const long d2 = (m >> 16) & 0x7F;
        switch (m & 0xF0) {
        case 0x90: expected.emplace_back(tick, "note_on", d1, d2); break;
        case 0x80: expected.emplace_back(tick, "note_off", d1, d2); break;
        case 0xE0: expected.emplace_back(tick, "pitchwheel", (d1 | d2 << 7) - 8192, 0); break;
        default: ADD_FAILURE() << "unexpected message " << m;
        }
    }
    std::vector<std::tuple<long, std::string, long, long>> seen;
    bool centred = false;
    for (const DumpedEvent& e : dump.events) {
        if (e.fields.count("channel")) {
            EXPECT_EQ(e.number("channel"), 2) << e.type;
        }
        if (e.type == "pitchwheel" && !centred) {
            EXPECT_TRUE(seen.empty() && e.tick == 0 && e.number("pitch") == 0) << "the set-up centres the bend";
            centred = true;
        } else if (e.type == "pitchwheel") {
            seen.emplace_back(e.tick, e.type, e.number("pitch"), 0);
        } else if (e.type == "note_on" || e.type == "note_off") {
            seen.emplace_back(e.tick, e.type, e.number("note"), e.number("velocity"));
        }
    }
    EXPECT_TRUE(centred);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), std::make_tuple(346L, std::string("note_off"), 70L, 64L)) << "the last run is closed";
    seen.pop_back();
    EXPECT_EQ(seen, expected);

    // Spot checks worked out by hand: frame 10 at 11.2 ticks a frame is tick 112, a pitch
    // 0.5 above the note bends by 68, and the run of frames 10-12 ends at tick 134.
    ASSERT_GE(expected.size(), 5u);
    EXPECT_EQ(expected[0], std::make_tuple(112L, std::string("note_on"), 60L, 105L));
    EXPECT_EQ(expected[1], std::make_tuple(112L, std::string("pitchwheel"), 68L, 0L));
    EXPECT_EQ(expected[4], std::make_tuple(134L, std::string("note_off"), 60L, 64L));
}

TEST_F(MidiFiles, AtomicWriteReplacesOrLeavesNothing)
{
    const Bytes first = {1, 2, 3};
    const std::string path = save("out.mid", first);
    EXPECT_EQ(readAll(path), first);
    const Bytes second(70000, 9);
    save("out.mid", second);
    EXPECT_EQ(readAll(path), second);

    std::string error;
    const std::string missing = (dir / "missing" / "out.mid").string();
    EXPECT_FALSE(writeFileAtomically(missing, first, error));
    EXPECT_NE(error.find(missing), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(dir / "missing"));

    error.clear();
    EXPECT_FALSE(writeFileAtomically(dir.string(), first, error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 1) << "only out.mid, no temporary file";
}

} // namespace
