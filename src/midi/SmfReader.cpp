#include "midi/SmfReader.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <utility>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kMetaEvent = 0xFF;
constexpr uint8_t kMetaEndOfTrack = 0x2F;
constexpr uint8_t kMetaTempo = 0x51;
constexpr uint8_t kMetaTimeSignature = 0x58;
constexpr uint8_t kSysEx = 0xF0;
constexpr uint8_t kSysExContinuation = 0xF7;
constexpr int64_t kMaxNoteTicks = std::numeric_limits<int16_t>::max();
constexpr int32_t kMinTempo = 10;
constexpr int32_t kMaxTempo = 500;

// A bounded reader over the bytes of one chunk.
class Cursor {
public:
    Cursor(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool atEnd() const { return position_ >= size_; }
    bool byte(uint8_t& value)
    {
        if (atEnd())
            return false;
        value = data_[position_++];
        return true;
    }
    bool peek(uint8_t& value) const
    {
        if (atEnd())
            return false;
        value = data_[position_];
        return true;
    }
    // A variable-length quantity of at most four bytes.
    bool varLen(uint32_t& value)
    {
        value = 0;
        for (int i = 0; i < 4; ++i) {
            uint8_t b = 0;
            if (!byte(b))
                return false;
            value = (value << 7) | (b & 0x7F);
            if ((b & 0x80) == 0)
                return true;
        }
        return false;
    }
    bool skip(uint32_t count)
    {
        if (count > size_ - position_)
            return false;
        position_ += count;
        return true;
    }
    const uint8_t* here() const { return data_ + position_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
};

uint32_t bigEndian(const uint8_t* p, int bytes)
{
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value = (value << 8) | p[i];
    return value;
}

int dataBytesOf(uint8_t status)
{
    const uint8_t kind = status & 0xF0;
    return (kind == 0xC0 || kind == 0xD0) ? 1 : 2;
}

// The notes of one track; each note off ends the earliest open note of its key.
class TrackReader {
public:
    TrackReader(SmfContents& contents, bool firstTempoSeen) : contents_(contents), tempoSeen_(firstTempoSeen) {}

    bool read(Cursor track, std::string& error)
    {
        uint8_t running = 0;
        while (!track.atEnd()) {
            uint32_t delta = 0;
            if (!track.varLen(delta))
                return fail("a delta time runs past the end of its track", error);
            tick_ += delta;
            uint8_t status = 0;
            if (!track.peek(status))
                return fail("an event is missing after its delta time", error);
            if (status == kMetaEvent) {
                track.skip(1);
                if (!readMeta(track, error))
                    return false;
                if (ended_)
                    break;
                continue;
            }
            if (status == kSysEx || status == kSysExContinuation) {
                track.skip(1);
                uint32_t length = 0;
                if (!track.varLen(length) || !track.skip(length))
                    return fail("a system-exclusive event runs past the end of its track", error);
                running = 0;
                continue;
            }
            if (status & 0x80) {
                track.skip(1);
                running = status;
            } else if (running == 0) {
                return fail("a data byte comes without a status byte", error);
            }
            uint8_t data[2] = {};
            for (int i = 0; i < dataBytesOf(running); ++i) {
                if (!track.byte(data[i]) || (data[i] & 0x80) != 0)
                    return fail("a channel message is cut short", error);
            }
            channelMessage(running, data[0], data[1]);
        }
        // Notes still sounding end with their track.
        for (auto& [key, starts] : open_) {
            for (const auto& [start, velocity] : starts)
                addNote(key, start, velocity);
        }
        return true;
    }

    bool tempoSeen() const { return tempoSeen_; }

private:
    using Key = std::pair<uint8_t, uint8_t>; // channel, note

    static bool fail(const char* what, std::string& error)
    {
        error = std::string("the MIDI file is damaged: ") + what + ".";
        return false;
    }

    bool readMeta(Cursor& track, std::string& error)
    {
        uint8_t type = 0;
        uint32_t length = 0;
        if (!track.byte(type) || !track.varLen(length))
            return fail("a meta event is cut short", error);
        const uint8_t* data = track.here();
        if (!track.skip(length))
            return fail("a meta event runs past the end of its track", error);
        if (type == kMetaEndOfTrack) {
            ended_ = true;
        } else if (type == kMetaTempo && length == 3 && !tempoSeen_) {
            const uint32_t us = bigEndian(data, 3);
            if (us > 0) {
                contents_.usPerQuarter = us;
                tempoSeen_ = true;
            }
        } else if (type == kMetaTimeSignature && length >= 2 && !meterSeen_) {
            if (data[0] > 0 && data[1] < 8) {
                contents_.meterNum = data[0];
                contents_.meterDen = static_cast<uint8_t>(1u << data[1]);
            }
            meterSeen_ = true;
        }
        return true;
    }

    void channelMessage(uint8_t status, uint8_t note, uint8_t velocity)
    {
        const uint8_t kind = status & 0xF0;
        const Key key{static_cast<uint8_t>(status & 0x0F), note};
        if (kind == 0x90 && velocity > 0) {
            open_[key].emplace_back(tick_, velocity);
        } else if (kind == 0x80 || kind == 0x90) {
            auto found = open_.find(key);
            if (found == open_.end() || found->second.empty())
                return;
            const auto [start, onVelocity] = found->second.front();
            found->second.erase(found->second.begin());
            addNote(key, start, onVelocity);
        }
    }

    void addNote(const Key& key, int64_t start, uint8_t velocity)
    {
        contents_.notes.push_back(SmfNote{start, tick_ - start, key.second, velocity, key.first});
    }

    SmfContents& contents_;
    bool tempoSeen_;
    bool meterSeen_ = false;
    bool ended_ = false;
    int64_t tick_ = 0;
    std::map<Key, std::vector<std::pair<int64_t, uint8_t>>> open_;
};

} // namespace

bool parseMidiFile(const Bytes& bytes, SmfContents& contents, std::string& error)
{
    contents = SmfContents{};
    if (bytes.size() < 14 || !std::equal(bytes.begin(), bytes.begin() + 4, "MThd"))
        return (error = "not a Standard MIDI File (no MThd header)."), false;
    const uint32_t headerLength = bigEndian(bytes.data() + 4, 4);
    if (headerLength < 6 || headerLength > bytes.size() - 8)
        return (error = "the MIDI file is damaged: its header is cut short."), false;
    contents.format = static_cast<uint16_t>(bigEndian(bytes.data() + 8, 2));
    contents.trackCount = static_cast<uint16_t>(bigEndian(bytes.data() + 10, 2));
    const uint16_t division = static_cast<uint16_t>(bigEndian(bytes.data() + 12, 2));
    if (contents.format > 1)
        return (error = "MIDI files of format " + std::to_string(contents.format) +
                        " cannot be read; only formats 0 and 1."),
               false;
    if ((division & 0x8000) != 0 || division == 0)
        return (error = "the MIDI file counts time in SMPTE frames; only ticks per quarter note can be read."),
               false;
    contents.ticksPerQuarter = division;

    size_t position = 8 + headerLength;
    bool tempoSeen = false;
    int tracksRead = 0;
    while (position + 8 <= bytes.size() && tracksRead < contents.trackCount) {
        const uint8_t* chunk = bytes.data() + position;
        const uint32_t length = bigEndian(chunk + 4, 4);
        if (length > bytes.size() - position - 8)
            return (error = "the MIDI file is damaged: a track runs past the end of the file."), false;
        if (std::equal(chunk, chunk + 4, "MTrk")) {
            TrackReader reader(contents, tempoSeen);
            if (!reader.read(Cursor(chunk + 8, length), error))
                return false;
            tempoSeen = reader.tempoSeen();
            ++tracksRead;
        }
        position += 8 + length;
    }
    if (tracksRead < contents.trackCount)
        return (error = "the MIDI file is damaged: it has fewer tracks than its header says."), false;
    std::stable_sort(contents.notes.begin(), contents.notes.end(),
                     [](const SmfNote& a, const SmfNote& b) { return a.start < b.start; });
    return true;
}

bool readMidiFile(const std::string& path, SmfContents& contents, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open '" + path + "'.";
        return false;
    }
    const Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        error = "cannot read '" + path + "'.";
        return false;
    }
    return parseMidiFile(bytes, contents, error);
}

bool notesFromMidiFile(const SmfContents& contents, NoteSequence& notes, SongSettings& song)
{
    notes.clear();
    for (const SmfNote& n : contents.notes) {
        int64_t start = n.start;
        int64_t remaining = std::max<int64_t>(n.duration, 1);
        while (remaining > 0 && start <= std::numeric_limits<int32_t>::max()) {
            const int64_t piece = std::min(remaining, kMaxNoteTicks);
            notes.append(NoteEvent{static_cast<int32_t>(start), static_cast<int16_t>(piece), n.note, n.velocity, 0});
            start += piece;
            remaining -= piece;
        }
    }
    if (notes.count == 0)
        return false;
    song.tpqn = contents.ticksPerQuarter;
    const int32_t tempo = std::clamp<int32_t>(static_cast<int32_t>(60000000u / contents.usPerQuarter), kMinTempo,
                                              kMaxTempo);
    song.tempo = static_cast<int16_t>(tempo);
    song.recordTempo = static_cast<int16_t>(tempo);
    song.meterNum = contents.meterNum;
    song.meterDen = contents.meterDen;
    // The file holds the notes as they were played, shift and all.
    song.octaveShift = 0;
    return true;
}
