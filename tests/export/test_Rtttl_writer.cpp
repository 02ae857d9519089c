#include "export/Rtttl_writer.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "export/M_langload.h"
#include "midi/MidiEvents.h"

namespace {

RingtoneSettings recognised(uint8_t noteDivision, uint8_t medianOctave, int8_t octaveShift)
{
    RingtoneSettings r;
    r.noteDivision = noteDivision;
    r.medianOctave = medianOctave;
    r.octaveShift = octaveShift;
    return r;
}

void addNote(NoteSequence& notes, int32_t start, int16_t duration, uint8_t note, uint8_t velocity = 100)
{
    notes.append({start, duration, note, velocity, 0});
}

// An RTTTL reader written from the format's grammar, independent of the writer:
// name:d=..,o=..,b=..:[duration]note[#][octave][.],...
struct ParsedTone {
    std::string name;
    int duration = 4;
    int octave = 6;
    int tempo = 63;
    std::vector<std::pair<int, int>> commands; // (note number or -1 for a pause, duration value)
    bool ok = false;
};

ParsedTone parseRtttl(const std::string& text)
{
    ParsedTone tone;
    const size_t first = text.find(':');
    const size_t second = text.find(':', first + 1);
    if (first == std::string::npos || second == std::string::npos)
        return tone;
    tone.name = text.substr(0, first);
    const std::string section = text.substr(first + 1, second - first - 1);
    static const std::regex setting(R"(([a-z])=(\w+))");
    for (auto it = std::sregex_iterator(section.begin(), section.end(), setting); it != std::sregex_iterator(); ++it) {
        const std::string key = (*it)[1];
        if (key == "d")
            tone.duration = std::stoi((*it)[2]);
        else if (key == "o")
            tone.octave = std::stoi((*it)[2]);
        else if (key == "b")
            tone.tempo = std::stoi((*it)[2]);
    }
    static const std::regex command(R"(^(1|2|4|8|16|32)?([a-gp])(#?)([4-7])?(\.?)$)");
    static const std::string names = "c d ef g a b";
    std::string notes = text.substr(second + 1);
    size_t at = 0;
    while (at <= notes.size()) {
        size_t comma = notes.find(',', at);
        const std::string item = notes.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
        std::smatch m;
        if (!std::regex_match(item, m, command))
            return tone;
        const int duration = m[1].matched ? std::stoi(m[1]) : tone.duration;
        if (m[2] == "p") {
            tone.commands.push_back({-1, duration});
        } else {
            const int octave = m[4].matched ? std::stoi(m[4]) : tone.octave;
            const int pitch = static_cast<int>(names.find(m[2].str()[0])) + (m[3].length() > 0 ? 1 : 0);
            tone.commands.push_back({octave * 12 + pitch, duration});
        }
        if (comma == std::string::npos)
            break;
        at = comma + 1;
    }
    tone.ok = true;
    return tone;
}

TEST(RingtoneDefaults, TextFromRecognition)
{
    EXPECT_EQ(ringtoneDefaultsText(RingtoneFromRecognition(recognised(4, 5, 0))), "d=4,o=5,b=125,s=n,l=0");
    EXPECT_EQ(ringtoneDefaultsText(RingtoneFromRecognition(recognised(8, 4, 1))), "d=8,o=5,b=125,s=n,l=0");
    const RingtoneDefaults low = RingtoneFromRecognition(recognised(8, 2, -1));
    EXPECT_EQ(low.octaveIndex, 0);
    EXPECT_EQ(ringtoneDefaultsText(low), "d=8,o=4,b=125,s=n,l=0");
    // No upper limit on the octave; the tempo follows the index, not the bar.
    RingtoneSettings high = recognised(16, 7, 3);
    high.tempoIndex = 8;
    EXPECT_EQ(ringtoneDefaultsText(RingtoneFromRecognition(high)), "d=16,o=10,b=63,s=n,l=0");
}

TEST(RingtoneDefaults, NoteDivisionOutsideTheDurationsIsClamped)
{
    EXPECT_EQ(RingtoneFromRecognition(recognised(0, 5, 0)).durationIndex, 0);
    EXPECT_EQ(RingtoneFromRecognition(recognised(32, 5, 0)).durationIndex, 5);
    EXPECT_EQ(RingtoneFromRecognition(recognised(64, 5, 0)).durationIndex, 5);
    EXPECT_EQ(RingtoneFromRecognition(recognised(127, 5, 0)).durationIndex, 5);
    EXPECT_EQ(RingtoneFromRecognition(recognised(200, 5, 0)).durationIndex, 0); // read as a signed byte
}

TEST(RingtoneDefaults, TempoBarChangesIndexAndText)
{
    RingtoneSettings ringtone = recognised(4, 5, 0);
    RingtoneDefaults defaults = RingtoneFromRecognition(ringtone);
    EXPECT_EQ(applyRingtoneTempo(0, ringtone, defaults), 25);
    EXPECT_EQ(ringtone.tempoIndex, 0);
    EXPECT_EQ(ringtoneDefaultsText(defaults), "d=4,o=5,b=25,s=n,l=0");
    EXPECT_EQ(applyRingtoneTempo(31, ringtone, defaults), 900);
    EXPECT_EQ(ringtoneDefaultsText(defaults), "d=4,o=5,b=900,s=n,l=0");
    EXPECT_EQ(nearestRingtoneTempoIndex(120), 14);
    EXPECT_EQ(nearestRingtoneTempoIndex(10000), 31);
}

TEST(RingtoneDefaults, DefaultsDigits)
{
    RingtoneDefaults defaults;
    defaults.durationIndex = 2;
    defaults.octaveIndex = 1;
    EXPECT_EQ(ringtoneDefaultsDigits(defaults, 23), "2112500023");
    defaults.tempo = 63;
    EXPECT_EQ(ringtoneDefaultsDigits(defaults, 23), "2106300023");
    defaults.loop = 15;
    EXPECT_EQ(ringtoneDefaultsDigits(defaults, 7), "210630157");
}

TEST(MelodyPackage, LayoutByteForByte)
{
    NoteSequence notes;
    addNote(notes, 960, 240, 67, 99);
    addNote(notes, 1100, 300, 69, 101); // starts 100 ticks before the previous one ends
    SongSettings song;
    song.tempo = 100;
    song.octaveShift = -2;
    song.suggestedShift = 1;
    RingtoneSettings ringtone = recognised(8, 5, 1);
    ringtone.octave = 2;
    const std::vector<uint8_t> package = MelodyPackage(notes, song, ringtone);
    const std::vector<uint8_t> expected = {
        20,   0,    0,  0,                                             // song block size
        0xE0, 0x01, 0,  0, 0, 0, 100, 0, 120, 0, 4, 4, 0, 100, 0xFE, 0, // tpqn .. channel
        1,    0,    0,  0,                                             // suggested shift, reserved
        8,    0,    0,  0,    0, 14, 70, 70, 2, 1, 8, 5,                // ringtone block
        2,    0,    0,  0,                                             // notes
        0xC0, 0x03, 0xF0, 0x00, 67, 99,                                // gap 960, 240 ticks
        0x9C, 0xFF, 0x2C, 0x01, 69, 101,                               // gap -100, 300 ticks
    };
    EXPECT_EQ(package, expected);
}

TEST(Base64Lines, GroupsLinesAndPadding)
{
    const std::string text = "Many hands make light work.";
    EXPECT_EQ(EncodeBase64Lines(reinterpret_cast<const uint8_t*>(text.data()), text.size()),
              "TWFueSBoYW5kcyBtYWtlIGxpZ2h0IHdvcmsu");
    const uint8_t four[] = {0xFB, 0xFF, 0x00, 0x41};
    EXPECT_EQ(EncodeBase64Lines(four, 4), "+/8AQQ==");
    EXPECT_EQ(EncodeBase64Lines(four, 3), "+/8A");

    const std::vector<uint8_t> package46(46, 0x5A);
    const std::string encoded46 = EncodeBase64Lines(package46.data(), package46.size());
    EXPECT_EQ(encoded46.size(), 64u);
    EXPECT_EQ(encoded46.find('\r'), std::string::npos);
    EXPECT_EQ(encoded46.substr(60), "Wg==");

    // 57 bytes fill one line of 76 characters, which then ends with CR LF.
    const std::vector<uint8_t> bytes57(57, 0);
    const std::string encoded57 = EncodeBase64Lines(bytes57.data(), bytes57.size());
    EXPECT_EQ(encoded57, std::string(76, 'A') + "\r\n");
    const std::vector<uint8_t> bytes58(58, 0);
    EXPECT_EQ(EncodeBase64Lines(bytes58.data(), bytes58.size()), std::string(76, 'A') + "\r\nAA==");
}

TEST(MelodyFields, FieldsAndTheEqualsRuleOfThePackage)
{
    SongSettings song;
    RingtoneSettings ringtone = recognised(4, 5, 0);
    const RingtoneDefaults defaults = RingtoneFromRecognition(ringtone);
    MelodyFields fields;
    EXPECT_FALSE(BuildMelodyFields(nullptr, "x", false, defaults, song, ringtone, fields));
    NoteSequence notes;
    EXPECT_FALSE(BuildMelodyFields(&notes, "x", false, defaults, song, ringtone, fields));

    addNote(notes, 0, 480, 60);
    ASSERT_TRUE(BuildMelodyFields(&notes, "tune", true, defaults, song, ringtone, fields));
    EXPECT_EQ(fields.song, "&song=tune");
    EXPECT_EQ(fields.usedtnt, "&usedtnt=1");
    EXPECT_EQ(fields.dfs, "&dfs=211250001");
    EXPECT_EQ(fields.mps.size(), 5u + 64u); // 46 bytes: one line, standard padding only

    // 40 + 6 x 3 = 58 bytes: one line break, so two "=" follow.
    addNote(notes, 480, 480, 62);
    addNote(notes, 960, 480, 64);
    ASSERT_TRUE(BuildMelodyFields(&notes, "tune", false, defaults, song, ringtone, fields));
    const std::vector<uint8_t> package = MelodyPackage(notes, song, ringtone);
    EXPECT_EQ(fields.mps, "&mps=" + EncodeBase64Lines(package.data(), package.size()) + "==");
    EXPECT_EQ(fields.usedtnt, "&usedtnt=0");
}

TEST(RtttlText, ParsesBackIntoThePreviewsPitchesAndLengths)
{
    SongSettings song;
    NoteSequence notes;
    addNote(notes, 100, 450, 55);   // silence before it is left out; the 30 ticks after it are absorbed
    addNote(notes, 580, 200, 61);
    addNote(notes, 1200, 940, 74);
    addNote(notes, 2400, 100, 38);  // below c4: raised by octaves
    addNote(notes, 2520, 2000, 101); // above b7: lowered
    addNote(notes, 80000, 20, 60);  // after a silence longer than a 16-bit gap
    RingtoneSettings ringtone = recognised(8, 4, 1);
    const RingtoneDefaults defaults = RingtoneFromRecognition(ringtone);
    const std::string text = rtttlText(notes, song, ringtone, defaults, "My:tune, 1");

    const ParsedTone tone = parseRtttl(text);
    ASSERT_TRUE(tone.ok) << text;
    EXPECT_EQ(tone.name, "Mytune 1");
    EXPECT_EQ(tone.duration, 8);
    EXPECT_EQ(tone.octave, 5);
    EXPECT_EQ(tone.tempo, 125);

    // The preview plays the same note values; only the long silence is not 16-bit there.
    const int32_t whole = 4 * song.tpqn;
    std::vector<std::pair<int, int>> expected;
    EventList events;
    buildRingtoneEvents(notes, song, ringtone, events);
    const int expectedPitches[] = {67, 73, 86, 50, 89, 72}; // moved up an octave, folded into c4..b7
    for (int32_t i = 0, k = 0; i + 2 * kEventWords <= events.count; i += 2 * kEventWords, ++k) {
        const int32_t len = static_cast<int32_t>(events[i + kEventWords]);
        expected.push_back({expectedPitches[k], std::min(whole / len, 32)});
        if (k == 4)
            expected.push_back({-1, 1}); // 80000 - 2520 - 1920 ticks of rest: 39 whole notes and a quarter
        const int32_t rest = i + 2 * kEventWords < events.count ? static_cast<int32_t>(events[i + 2 * kEventWords]) : 0;
        if (k < 4 && rest > 0)
            expected.push_back({-1, whole / rest});
    }
    std::vector<std::pair<int, int>> got;
    for (const auto& c : tone.commands)
        if (c.first >= 0 || got.empty() || got.back().first >= 0)
            got.push_back(c); // one entry for a run of rests
    EXPECT_EQ(got, expected) << text;

    int wholeRests = 0;
    for (const auto& c : tone.commands)
        wholeRests += c.first < 0 && c.second == 1;
    EXPECT_EQ(wholeRests, (80000 - 2520 - 1920) / whole);
}

TEST(RtttlText, NameAndEmptyMelody)
{
    SongSettings song;
    RingtoneSettings ringtone;
    NoteSequence notes;
    EXPECT_EQ(rtttlText(notes, song, ringtone, RingtoneDefaults(), "x"), "");
    addNote(notes, 0, 480, 60);
    EXPECT_EQ(rtttlText(notes, song, ringtone, RingtoneFromRecognition(recognised(4, 5, 0)), " :, "),
              "melody:d=4,o=5,b=125,s=n,l=0:c");
    // A default octave beyond the ringtone octaves is held to 7 in the text.
    EXPECT_EQ(rtttlText(notes, song, ringtone, RingtoneFromRecognition(recognised(4, 9, 0)), "x"),
              "x:d=4,o=7,b=125,s=n,l=0:c5");
}

} // namespace
