#include "cli/ConvertJob.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/JsonReport.h"
#include "midi/MidiRender.h"
#include "midi/MidiTime.h"
#include "midi/SmfWriter.h"
#include "notes/NoteNames.h"

namespace {

bool fileExists(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

// Plays the notes (or the raw track) through the built-in synthesiser offline, as 16-bit
// mono samples at the microphone's rate.
bool renderSamples(NoteSequence& notes, bool raw, std::vector<int16_t>& samples, std::string& error)
{
    try {
        samples = renderPlayback(notes, raw ? PlayRaw : PlayNotes, static_cast<int>(kMicrophoneFormat.nSamplesPerSec));
        return true;
    } catch (const MidiDeviceError& e) {
        error = std::string("cannot render the notes: ") + e.what();
        return false;
    }
}

// The files one conversion writes. When one of them fails, those it created are removed
// again, so a failed conversion leaves nothing behind (files it replaced stay replaced:
// each is complete).
class OutputFiles {
public:
    bool write(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error)
    {
        const bool existed = fileExists(path);
        if (!writeFileAtomically(path, bytes, error))
            return false;
        remember(path, existed);
        return true;
    }

    bool writeWave(const std::string& path, const std::vector<int16_t>& samples, std::string& error)
    {
        const bool existed = fileExists(path);
        const auto bytes = static_cast<uint32_t>(samples.size() * sizeof(int16_t));
        try {
            if (!WriteWaveFile(path, kMicrophoneFormat, bytes, reinterpret_cast<const uint8_t*>(samples.data()))) {
                error = "cannot create '" + path + "'.";
                return false;
            }
        } catch (const WaveWriteError&) {
            error = "writing '" + path + "' failed (is the disk full?).";
            return false;
        }
        remember(path, existed);
        return true;
    }

    void removeCreated() const
    {
        for (const std::string& path : created_)
            std::remove(path.c_str());
    }

private:
    void remember(const std::string& path, bool existed)
    {
        if (!existed)
            created_.push_back(path);
    }

    std::vector<std::string> created_;
};

void printNoteTable(const NoteSequence& notes, const SongSettings& song)
{
    std::printf("%4s  %-10s  %-10s  %-4s  %3s  %5s\n", "#", "start", "length", "note", "vel", "cents");
    for (int32_t i = 0; i < notes.count; ++i) {
        const NoteEvent& n = notes[i];
        std::printf("%4d  %-10s  %-10s  %-4s  %3d  %+5d\n", i + 1,
                    formatBarBeatTick(n.start, song.tpqn, song.meterNum, song.meterDen, 1).c_str(),
                    formatBarBeatTick(n.duration, song.tpqn, song.meterNum, song.meterDen, 0).c_str(),
                    noteName(n.note).c_str(), n.velocity, n.cents);
    }
}

} // namespace

// The analyser decodes 8-bit unsigned and 16-bit signed PCM, mono or stereo.
std::string unsupportedFormatReason(const WAVEFORMATEX& format)
{
    if (format.wBitsPerSample != 8 && format.wBitsPerSample != 16)
        return "the file has " + std::to_string(format.wBitsPerSample) +
               " bits per sample; only 8-bit and 16-bit PCM can be analysed";
    if (format.nChannels != 1 && format.nChannels != 2)
        return "the file has " + std::to_string(format.nChannels) +
               " channels; only mono and stereo can be analysed";
    if (format.nSamplesPerSec < 4000 || format.nSamplesPerSec > 192000)
        return "the file's sample rate of " + std::to_string(format.nSamplesPerSec) +
               " Hz is outside 4000 to 192000 Hz";
    return {};
}

void ConvertProgress::update(uint32_t done)
{
    if (!enabled_)
        return;
    const int percent = static_cast<int>(static_cast<uint64_t>(done) * 100 / total_);
    if (percent / 10 > shown_ / 10) {
        shown_ = percent;
        // A terminal sees one line that counts up; a log gets a line per step.
        const bool terminal = ::isatty(STDERR_FILENO) != 0;
        std::fprintf(stderr, terminal ? "\ranalysing: %3d %%" : "analysing: %3d %%\n", percent);
        if (terminal && percent >= 100)
            std::fprintf(stderr, "\n");
    }
}

int checkConvertOptions(const ConvertOptions& options)
{
    if (options.tpqn < 48 || options.tpqn > 960)
        return fail("ticks per quarter note must lie between 48 and 960.");
    if (options.patch < -1 || options.patch > 127)
        return fail("the MIDI program must lie between 0 and 127.");
    for (const std::string& path : {options.midiPath, options.jsonPath, options.renderPath}) {
        if (!path.empty() && !options.force && fileExists(path))
            return fail("'" + path + "' already exists; use --force to overwrite it.");
    }
    return 0;
}

int writeConversion(const WAVEFORMATEX& format, int32_t frames, const std::vector<RawFrameCopy>& analysed,
                    NoteSequence& notes, const ConvertOptions& options)
{
    if (!notes.hasRawFrames())
        return fail("no sung, hummed or whistled pitch was found in the input; nothing to convert.");
    if (notes.count == 0)
        return fail("no note could be recognised in the input; nothing to convert.");

    std::string error;
    std::vector<int16_t> rendered;
    if (!options.renderPath.empty() && !renderSamples(notes, options.writeRaw, rendered, error))
        return fail(error);

    const std::vector<uint8_t> midi = options.writeRaw
                                          ? buildRawMidiFile(*notes.raw, songSettings, midiTicksPerFrame(songSettings, frameDuration(format)))
                                          : buildNotesMidiFile(notes, songSettings);
    OutputFiles outputs;
    bool written = outputs.write(options.midiPath, midi, error);
    if (written && !options.jsonPath.empty()) {
        const std::string json = buildJsonReport(format, frames, analysed, notes, songSettings);
        written = outputs.write(options.jsonPath, std::vector<uint8_t>(json.begin(), json.end()), error);
    }
    if (written && !options.renderPath.empty())
        written = outputs.writeWave(options.renderPath, rendered, error);
    if (!written) {
        outputs.removeCreated();
        return fail(error);
    }
    if (options.printTable)
        printNoteTable(notes, songSettings);
    return 0;
}
