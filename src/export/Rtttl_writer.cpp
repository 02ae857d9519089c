#include "export/Rtttl_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "export/M_langload.h"
#include "midi/MidiEvents.h"

namespace {

constexpr int16_t kLastDurationIndex = 5;
constexpr int16_t kLastOctaveIndex = 3;
constexpr int32_t kLowestRingtoneNote = 48;  // c4
constexpr int32_t kHighestRingtoneNote = 95; // b7
constexpr int32_t kShortestValue = 32;       // a 32nd, the shortest RTTTL duration

void putLittleEndian(std::vector<uint8_t>& out, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void putSongSettings(std::vector<uint8_t>& out, const SongSettings& song)
{
    putLittleEndian(out, static_cast<uint32_t>(song.tpqn), 4);
    putLittleEndian(out, 0, 2);
    putLittleEndian(out, static_cast<uint16_t>(song.tempo), 2);
    putLittleEndian(out, static_cast<uint16_t>(song.recordTempo), 2);
    out.push_back(song.meterNum);
    out.push_back(song.meterDen);
    out.push_back(song.patch);
    out.push_back(song.volume);
    out.push_back(static_cast<uint8_t>(song.octaveShift));
    out.push_back(song.channel);
    out.push_back(static_cast<uint8_t>(song.suggestedShift));
    putLittleEndian(out, 0, 3);
}

void putRingtoneSettings(std::vector<uint8_t>& out, const RingtoneSettings& r)
{
    out.insert(out.end(), {r.reserved, r.tempoIndex, r.patch, r.patch2, static_cast<uint8_t>(r.octave),
                           static_cast<uint8_t>(r.octaveShift), r.noteDivision, r.medianOctave});
}

// Writes the ringtone values of a melody: notes and pauses, each a power of two times
// `unit` (a 64th note), as RTTTL note commands.
class RtttlNotes {
public:
    RtttlNotes(int32_t unit, int32_t defaultDuration, int32_t defaultOctave)
        : unit_(unit), defaultDuration_(defaultDuration), defaultOctave_(defaultOctave)
    {
    }

    void note(int32_t pitch, int32_t ticks) { put(kRingtoneNoteNames[pitch % 12], pitch / 12, ticks); }
    void pause(int32_t ticks) { put("p", defaultOctave_, ticks); }
    const std::string& text() const { return text_; }

private:
    // Whole notes while more than one is left, then the value that holds the rest.
    void put(const char* name, int32_t octave, int32_t ticks)
    {
        const int32_t whole = 64 * unit_;
        while (ticks > whole) {
            command(name, octave, 1);
            ticks -= whole;
        }
        const int32_t value = whole / std::max(ringtoneLength(ticks, unit_), int16_t{1});
        command(name, octave, std::clamp(value, 1, kShortestValue));
    }

    void command(const char* name, int32_t octave, int32_t duration)
    {
        if (!text_.empty())
            text_ += ',';
        if (duration != defaultDuration_)
            text_ += std::to_string(duration);
        text_ += name;
        if (octave != defaultOctave_)
            text_ += std::to_string(octave);
    }

    int32_t unit_;
    int32_t defaultDuration_;
    int32_t defaultOctave_;
    std::string text_;
};

// The note moved by whole octaves into c4..b7.
int32_t ringtonePitch(int32_t note)
{
    while (note < kLowestRingtoneNote)
        note += 12;
    while (note > kHighestRingtoneNote)
        note -= 12;
    return note;
}

} // namespace

RingtoneDefaults RingtoneFromRecognition(const RingtoneSettings& ringtone)
{
    RingtoneDefaults defaults;
    int16_t halvings = 0;
    for (int32_t division = static_cast<int8_t>(ringtone.noteDivision); division > 0; division /= 2)
        ++halvings;
    defaults.durationIndex = std::clamp<int16_t>(static_cast<int16_t>(halvings - 1), 0, kLastDurationIndex);
    const int16_t octaveIndex = static_cast<int16_t>(ringtone.medianOctave + ringtone.octaveShift - 4);
    defaults.octaveIndex = std::max<int16_t>(octaveIndex, 0);
    defaults.tempo = static_cast<int16_t>(kRingtoneTempos[std::min<int>(ringtone.tempoIndex, kRingtoneTempoCount - 1)]);
    defaults.styleIndex = 0;
    defaults.loop = 0;
    return defaults;
}

int32_t applyRingtoneTempo(int position, RingtoneSettings& ringtone, RingtoneDefaults& defaults)
{
    position = std::clamp(position, 0, kRingtoneTempoCount - 1);
    ringtone.tempoIndex = static_cast<uint8_t>(position);
    defaults.tempo = static_cast<int16_t>(kRingtoneTempos[position]);
    return defaults.tempo;
}

uint8_t nearestRingtoneTempoIndex(int bpm)
{
    uint8_t nearest = 0;
    for (uint8_t i = 1; i < kRingtoneTempoCount; ++i) {
        if (std::abs(kRingtoneTempos[i] - bpm) < std::abs(kRingtoneTempos[nearest] - bpm))
            nearest = i;
    }
    return nearest;
}

std::string ringtoneDefaultsText(const RingtoneDefaults& defaults)
{
    char text[64];
    std::snprintf(text, sizeof text, "d=%d,o=%d,b=%d,s=%c,l=%d",
                  kRingtoneDurations[std::clamp<int16_t>(defaults.durationIndex, 0, kLastDurationIndex)],
                  defaults.octaveIndex + 4, defaults.tempo,
                  kRingtoneStyles[std::clamp<int16_t>(defaults.styleIndex, 0, 2)], defaults.loop);
    return text;
}

std::string ringtoneDefaultsDigits(const RingtoneDefaults& defaults, int32_t noteCount)
{
    std::string digits = std::to_string(defaults.durationIndex) + std::to_string(defaults.octaveIndex);
    if (defaults.tempo < 100)
        digits += '0';
    digits += std::to_string(defaults.tempo) + std::to_string(defaults.styleIndex);
    if (defaults.loop < 10)
        digits += '0';
    return digits + std::to_string(defaults.loop) + std::to_string(noteCount);
}

std::vector<uint8_t> MelodyPackage(const NoteSequence& notes, const SongSettings& song,
                                   const RingtoneSettings& ringtone)
{
    std::vector<uint8_t> package;
    package.reserve(40 + 6 * static_cast<size_t>(std::max(notes.count, 0)));
    putLittleEndian(package, 20, 4);
    putSongSettings(package, song);
    putLittleEndian(package, 8, 4);
    putRingtoneSettings(package, ringtone);
    putLittleEndian(package, static_cast<uint32_t>(notes.count), 4);
    int32_t previousEnd = 0;
    for (int32_t i = 0; i < notes.count; ++i) {
        const NoteEvent& n = notes[i];
        putLittleEndian(package, static_cast<uint32_t>(n.start - previousEnd), 2);
        putLittleEndian(package, static_cast<uint16_t>(n.duration), 2);
        package.push_back(n.note);
        package.push_back(n.velocity);
        previousEnd = n.start + n.duration;
    }
    return package;
}

bool BuildMelodyFields(const NoteSequence* notes, const std::string& songValue, bool useDottedNotes,
                       const RingtoneDefaults& defaults, const SongSettings& song,
                       const RingtoneSettings& ringtone, MelodyFields& fields)
{
    if (notes == nullptr || notes->count == 0)
        return false;
    const std::vector<uint8_t> package = MelodyPackage(*notes, song, ringtone);
    std::string encoded = EncodeBase64Lines(package.data(), package.size());
    encoded.append(encoded.size() % 4, '=');
    fields.song = "&song=" + songValue;
    fields.usedtnt = useDottedNotes ? "&usedtnt=1" : "&usedtnt=0";
    fields.dfs = "&dfs=" + ringtoneDefaultsDigits(defaults, notes->count);
    fields.mps = "&mps=" + encoded;
    return true;
}

std::string rtttlName(const std::string& name)
{
    std::string kept;
    for (char c : name)
        if (c != ':' && c != ',' && static_cast<unsigned char>(c) >= 0x20 && c != 0x7F)
            kept += c;
    const size_t first = kept.find_first_not_of(' ');
    if (first == std::string::npos)
        return kDefaultSongName;
    return kept.substr(first, kept.find_last_not_of(' ') - first + 1);
}

std::string rtttlText(const NoteSequence& notes, const SongSettings& song, const RingtoneSettings& ringtone,
                      const RingtoneDefaults& defaults, const std::string& name)
{
    if (notes.count == 0)
        return {};
    RingtoneDefaults section = defaults;
    section.octaveIndex = std::clamp<int16_t>(section.octaveIndex, 0, kLastOctaveIndex);
    section.durationIndex = std::clamp<int16_t>(section.durationIndex, 0, kLastDurationIndex);
    const int32_t unit = std::max(4 * song.tpqn / 64, 1);
    RtttlNotes commands(unit, kRingtoneDurations[section.durationIndex], section.octaveIndex + 4);
    for (int32_t i = 0; i < notes.count; ++i) {
        const NoteEvent& n = notes[i];
        const int32_t gap = i + 1 < notes.count ? notes[i + 1].start - n.start : 0;
        // The preview's note values; a gap beyond its 16-bit range only adds a longer rest.
        const RingtoneSplit split = splitRingtoneNote(n.duration, static_cast<int16_t>(std::min(gap, 0x7FFF)), unit);
        commands.note(ringtonePitch(n.note + 12 * ringtone.octaveShift), split.len);
        const int32_t rest = gap > 0x7FFF ? gap - split.len : split.rest;
        if (rest > unit)
            commands.pause(rest);
    }
    return rtttlName(name) + ":" + ringtoneDefaultsText(section) + ":" + commands.text();
}
