#include "midi/SmfWriter.h"

#include <algorithm>
#include <bit>
#include <new>

#include "platform/AtomicFile.h"
#include "platform/SystemCall.h"
#include "midi/MidiEvents.h"
#include "midi/MidiTime.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kMetaEvent = 0xFF;
constexpr uint8_t kMetaTrackName = 0x03;
constexpr uint8_t kMetaEndOfTrack = 0x2F;
constexpr uint8_t kMetaTempo = 0x51;
constexpr uint8_t kMetaTimeSignature = 0x58;
constexpr uint8_t kMainVolume = 7;
constexpr uint8_t kRpnMsb = 101;
constexpr uint8_t kRpnLsb = 100;
constexpr uint8_t kDataEntryMsb = 6;
constexpr uint8_t kDataEntryLsb = 38;

void putBigEndian(Bytes& out, uint32_t value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// A variable-length quantity: 7 bits a byte, most significant first, the high bit set
// on every byte but the last.
void putVarLen(Bytes& out, uint32_t value)
{
    value = std::min(value, kMaxDeltaTicks);
    uint8_t groups[4];
    int n = 0;
    do {
        groups[n++] = static_cast<uint8_t>(value & 0x7F);
        value >>= 7;
    } while (value != 0);
    while (n > 1)
        out.push_back(groups[--n] | 0x80);
    out.push_back(groups[0]);
}

int dataBytesOf(uint8_t status)
{
    const uint8_t kind = status & 0xF0;
    return (kind == kProgramChangeStatus || kind == 0xD0) ? 1 : 2;
}

void putMessage(Bytes& track, uint32_t delta, uint32_t message)
{
    const uint8_t status = static_cast<uint8_t>(message);
    putVarLen(track, delta);
    track.push_back(status);
    track.push_back(static_cast<uint8_t>(message >> 8) & 0x7F);
    if (dataBytesOf(status) == 2)
        track.push_back(static_cast<uint8_t>(message >> 16) & 0x7F);
}

void putMeta(Bytes& track, uint32_t delta, uint8_t type, const Bytes& data)
{
    putVarLen(track, delta);
    track.push_back(kMetaEvent);
    track.push_back(type);
    putVarLen(track, static_cast<uint32_t>(data.size()));
    track.insert(track.end(), data.begin(), data.end());
}

void putChunk(Bytes& out, const char* tag, const Bytes& body)
{
    out.insert(out.end(), tag, tag + 4);
    putBigEndian(out, static_cast<uint32_t>(body.size()), 4);
    out.insert(out.end(), body.begin(), body.end());
}

uint8_t dataByte(int value)
{
    return static_cast<uint8_t>(std::clamp(value, 0, 127));
}

// Ticks per quarter note as a file can state them (1..32767).
uint16_t fileDivision(const SongSettings& song)
{
    return static_cast<uint16_t>(std::clamp<int32_t>(song.tpqn, 1, 0x7FFF));
}

// The time signature meta: numerator, denominator as a power of two, MIDI clocks per
// beat of the denominator (24 a quarter note), 8 thirty-seconds a quarter note.
Bytes timeSignature(const SongSettings& song)
{
    const unsigned den = song.meterDen > 0 ? song.meterDen : 4;
    const uint8_t denPower = static_cast<uint8_t>(std::bit_width(den) - 1);
    const uint8_t clocksPerBeat = static_cast<uint8_t>(std::clamp(96u >> denPower, 1u, 255u));
    return {song.meterNum, denPower, clocksPerBeat, 8};
}

Bytes tempoTrack(const SongSettings& song)
{
    Bytes track;
    const uint32_t us = static_cast<uint32_t>(std::min(usPerQuarter(song.tempo), 0xFFFFFF));
    putMeta(track, 0, kMetaTempo, {static_cast<uint8_t>(us >> 16), static_cast<uint8_t>(us >> 8), static_cast<uint8_t>(us)});
    putMeta(track, 0, kMetaTimeSignature, timeSignature(song));
    putMeta(track, 0, kMetaEndOfTrack, {});
    return track;
}

// Name, program and main volume that open the melody track.
Bytes melodyTrackStart(const SongSettings& song, const std::string& name)
{
    Bytes track;
    const uint8_t channel = melodyChannel(song);
    putMeta(track, 0, kMetaTrackName, Bytes(name.begin(), name.end()));
    putMessage(track, 0, shortMessage(kProgramChangeStatus | channel, dataByte(song.patch), 0));
    putMessage(track, 0, shortMessage(kControllerStatus | channel, kMainVolume, dataByte(song.volume)));
    return track;
}

Bytes midiFile(const SongSettings& song, const Bytes& melodyTrack)
{
    Bytes header;
    putBigEndian(header, 1, 2); // format 1
    putBigEndian(header, 2, 2); // tempo track and melody track
    putBigEndian(header, fileDivision(song), 2);

    Bytes file;
    putChunk(file, "MThd", header);
    putChunk(file, "MTrk", tempoTrack(song));
    putChunk(file, "MTrk", melodyTrack);
    return file;
}

struct TimedMessage {
    int64_t time;
    uint32_t message;
};

// The melody track of the notes, each moved by `offset` ticks.
Bytes notesMidiFile(const NoteSequence& notes, const SongSettings& song, int64_t offset)
{
    const uint8_t channel = melodyChannel(song);
    std::vector<TimedMessage> messages;
    messages.reserve(static_cast<size_t>(notes.count) * 2);
    for (int32_t i = 0; i < notes.count; ++i) {
        const NoteEvent& n = notes[i];
        const uint8_t note = shiftedNote(n.note, song);
        const int64_t on = std::max<int64_t>(n.start + offset, 0);
        const int64_t off = on + std::max<int16_t>(n.duration, 0);
        messages.push_back({on, shortMessage(kNoteOnStatus | channel, note, dataByte(n.velocity))});
        messages.push_back({off, shortMessage(kNoteOffStatus | channel, note, 0)});
    }
    // A note that ends where the next begins is released before the next sounds.
    std::stable_sort(messages.begin(), messages.end(),
                     [](const TimedMessage& a, const TimedMessage& b) { return a.time < b.time; });

    Bytes track = melodyTrackStart(song, "Melody");
    int64_t now = 0;
    for (const TimedMessage& m : messages) {
        putMessage(track, static_cast<uint32_t>(m.time - now), m.message);
        now = m.time;
    }
    putMeta(track, 0, kMetaEndOfTrack, {});
    return midiFile(song, track);
}

} // namespace

std::vector<uint8_t> buildNotesMidiFile(const NoteSequence& notes, const SongSettings& song)
{
    return notesMidiFile(notes, song, 0);
}

std::vector<uint8_t> buildScoreMidiFile(const NoteSequence& notes, const SongSettings& song, int32_t firstNoteTick)
{
    const int64_t first = notes.count > 0 ? notes[0].start : 0;
    return notesMidiFile(notes, song, int64_t{firstNoteTick} - first);
}

std::vector<uint8_t> buildRawMidiFile(const RawTrack& raw, const SongSettings& song, double ticksPerFrame)
{
    const uint8_t channel = melodyChannel(song);
    Bytes track = melodyTrackStart(song, "Raw pitch track");
    const uint8_t controller = kControllerStatus | channel;
    putMessage(track, 0, shortMessage(kPitchBendStatus | channel, 0, kBendCentre >> 7));
    putMessage(track, 0, shortMessage(controller, kRpnMsb, 0));
    putMessage(track, 0, shortMessage(controller, kRpnLsb, 0));
    putMessage(track, 0, shortMessage(controller, kDataEntryMsb, kPlaybackBendRange));
    putMessage(track, 0, shortMessage(controller, kDataEntryLsb, 0));

    EventList events;
    buildRawEvents(raw, song, ticksPerFrame, events);
    if (events.error)
        throw std::bad_alloc();
    uint32_t sounding = 0; // the note on of the run still sounding, 0 for none
    for (int32_t i = 0; i + kEventWords <= events.count; i += kEventWords) {
        const uint32_t message = events[i + 2];
        putMessage(track, events[i], message);
        const uint8_t kind = message & 0xF0;
        if (kind == kNoteOnStatus)
            sounding = message;
        else if (kind == kNoteOffStatus)
            sounding = 0;
    }
    if (sounding != 0) {
        const uint8_t note = static_cast<uint8_t>(sounding >> 8);
        putMessage(track, 0, shortMessage(kNoteOffStatus | channel, note, kReleaseVelocity));
    }
    putMeta(track, 0, kMetaEndOfTrack, {});
    return midiFile(song, track);
}

bool writeFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error)
{
    AtomicFile file;
    if (!file.create(path)) {
        error = "cannot create '" + path + "' (" + systemErrorText(file.error()) + ").";
        return false;
    }
    if (!file.write(bytes.data(), bytes.size()) || !file.commit()) {
        error = "cannot write '" + path + "' (" + systemErrorText(file.error()) + "); nothing was written.";
        return false;
    }
    return true;
}
