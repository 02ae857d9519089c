#include "cli/JsonReport.h"

#include <cstdio>

namespace {

// Nine significant digits round-trip every 32-bit float.
std::string floatText(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

void appendFrame(std::string& out, const RawFrameCopy& frame)
{
    out += "{\"frame\": " + std::to_string(frame.frame);
    out += ", \"frequency\": " + floatText(frame.frequency);
    out += ", \"pitch\": " + floatText(frame.pitch);
    out += ", \"level\": " + std::to_string(frame.level);
    out += ", \"candidates\": [";
    for (size_t i = 0; i < frame.candidates.size(); ++i) {
        if (i > 0)
            out += ", ";
        out += std::to_string(frame.candidates[i]);
    }
    out += "]}";
}

void appendFrames(std::string& out, const char* name, const std::vector<RawFrameCopy>& frames)
{
    out += std::string("  \"") + name + "\": [";
    for (size_t i = 0; i < frames.size(); ++i) {
        out += i == 0 ? "\n    " : ",\n    ";
        appendFrame(out, frames[i]);
    }
    out += frames.empty() ? "],\n" : "\n  ],\n";
}

double secondsPerTick(const SongSettings& song)
{
    return 60.0 / (static_cast<double>(song.recordTempo) * song.tpqn);
}

void appendNotes(std::string& out, const NoteSequence& notes, const SongSettings& song)
{
    const double secondsPerTick = ::secondsPerTick(song);
    out += "  \"notes\": [";
    for (int32_t i = 0; i < notes.count; ++i) {
        const NoteEvent& n = notes[i];
        out += i == 0 ? "\n    " : ",\n    ";
        out += "{\"start\": " + std::to_string(n.start);
        out += ", \"duration\": " + std::to_string(n.duration);
        out += ", \"note\": " + std::to_string(n.note);
        out += ", \"velocity\": " + std::to_string(n.velocity);
        out += ", \"cents\": " + std::to_string(n.cents);
        out += ", \"pitch\": " + floatText(n.note + n.cents / 100.0);
        out += ", \"startSeconds\": " + floatText(n.start * secondsPerTick);
        out += ", \"endSeconds\": " + floatText((static_cast<double>(n.start) + n.duration) * secondsPerTick);
        out += "}";
    }
    out += notes.count == 0 ? "],\n" : "\n  ],\n";
}

void appendSummary(std::string& out, const NoteSequence& notes)
{
    out += "  \"summary\": {";
    out += "\"nearHalfCount\": " + std::to_string(notes.nearHalfCount);
    out += ", \"medianOctave\": " + std::to_string(notes.medianOctave);
    out += ", \"octaveShift\": " + std::to_string(notes.octaveShift);
    out += ", \"octaveRoom\": " + std::to_string(notes.octaveRoom);
    out += ", \"noteDivision\": " + std::to_string(notes.noteDivision);
    out += ", \"maxLevel\": " + std::to_string(notes.maxLevel);
    out += std::string(", \"recognised\": ") + (notes.recognised ? "true" : "false");
    out += "}\n";
}

} // namespace

std::string buildCsvNoteList(const NoteSequence& notes, const SongSettings& song)
{
    const double perTick = secondsPerTick(song);
    std::string out = "onset_s,offset_s,midi,velocity,cents\n";
    for (int32_t i = 0; i < notes.count; ++i) {
        const NoteEvent& n = notes[i];
        char line[96];
        std::snprintf(line, sizeof line, "%.6f,%.6f,%d,%d,%d\n", n.start * perTick,
                      (static_cast<double>(n.start) + n.duration) * perTick, n.note, n.velocity, n.cents);
        out += line;
    }
    return out;
}

std::vector<RawFrameCopy> copyRawTrack(const RawTrack& raw)
{
    std::vector<RawFrameCopy> frames;
    frames.reserve(static_cast<size_t>(raw.count));
    for (int32_t i = 0; i < raw.count; ++i) {
        const RawFrame& r = raw[i];
        RawFrameCopy copy{r.frame, r.frequency, r.pitch, r.level, {}};
        if (r.candidates != nullptr)
            copy.candidates.assign(r.candidates, r.candidates + r.candidateCount);
        frames.push_back(std::move(copy));
    }
    return frames;
}

std::string buildJsonReport(const WAVEFORMATEX& format, int32_t frames, const std::vector<RawFrameCopy>& analysed,
                            const NoteSequence& notes, const SongSettings& song)
{
    std::string out = "{\n";
    out += "  \"format\": {\"channels\": " + std::to_string(format.nChannels) +
           ", \"rate\": " + std::to_string(format.nSamplesPerSec) +
           ", \"bits\": " + std::to_string(format.wBitsPerSample) + "},\n";
    out += "  \"frames\": " + std::to_string(frames) + ",\n";
    appendFrames(out, "raw", analysed);
    appendFrames(out, "cleaned", notes.raw ? copyRawTrack(*notes.raw) : std::vector<RawFrameCopy>{});
    appendNotes(out, notes, song);
    appendSummary(out, notes);
    out += "}\n";
    return out;
}
