#include "cli/RecordCommand.h"

#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>

#include "audio/Wav_func.h"
#include "app/MidiConnections.h"
#include "cli/CommandLine.h"
#include "cli/ConvertJob.h"
#include "cli/DevicesCommand.h"
#include "cli/SettingsCommand.h"
#include "cli/SplitWaveDriver.h"
#include "cli/TerminalSession.h"
#include "platform/MidiDevices.h"
#include "platform/VirtualWaveDriver.h"
#include "settings/My_registry.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kMaxSeconds = 60; // what the take's store holds
// How long a take may run beyond its length before it ends anyway: a source may deliver
// nothing for a while (a monitor whose sink is idle), and the device needs time to start.
constexpr std::chrono::seconds kLateStart{2};
// After the last sample of an input file the device still hands over its full buffers.
constexpr std::chrono::milliseconds kInputTail{300};

struct RecordOptions {
    std::string takePath;
    std::string inputPath;
    int seconds = kMaxSeconds;
    int device = -1; // not given: the settings' input, else the default
    int midiOut = -1; // not given: the settings' MIDI output, else Auto
    std::vector<std::string> connect;
    EchoMode echo = EchoNone;
    bool metronome = false;
    bool force = false;
    bool quiet = false;
};

bool parseEcho(const std::string& text, EchoMode& echo)
{
    if (text == "none")
        echo = EchoNone;
    else if (text == "midi")
        echo = EchoMidi;
    else if (text == "wave")
        echo = EchoWave;
    else
        return false;
    return true;
}

// 0: go on; otherwise the exit status of a usage error.
int parseOptions(const std::vector<std::string>& args, RecordOptions& options)
{
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "-o" || arg == "--output") {
            if (!hasValue)
                return usageError("-o needs a file name");
            options.takePath = args[++i];
        } else if (arg == "--seconds") {
            if (!hasValue || !parseInteger(args[i + 1], 1, kMaxSeconds, options.seconds))
                return usageError("--seconds needs a whole number from 1 to 60");
            ++i;
        } else if (arg == "--device") {
            if (!hasValue || !parseInteger(args[i + 1], 0, 1000, options.device))
                return usageError("--device needs a list index from 'lirrosa-cli devices'");
            ++i;
        } else if (arg == "--midi-out") {
            if (!hasValue || !parseInteger(args[i + 1], 0, 1000, options.midiOut))
                return usageError("--midi-out needs a MIDI output's index from 'lirrosa-cli devices'");
            ++i;
        } else if (arg == "--connect") {
            if (!hasValue)
                return usageError("--connect needs a JACK MIDI input, such as 'ardour:MIDI in'");
            options.connect.push_back(args[++i]);
        } else if (arg == "--input") {
            if (!hasValue)
                return usageError("--input needs a WAV file");
            options.inputPath = args[++i];
        } else if (arg == "--echo") {
            if (!hasValue || !parseEcho(args[i + 1], options.echo))
                return usageError("--echo needs none, midi or wave");
            ++i;
        } else if (arg == "--metronome") {
            options.metronome = true;
        } else if (arg == "--force") {
            options.force = true;
        } else if (arg == "--quiet") {
            options.quiet = true;
        } else {
            return usageError("unknown option '" + arg + "' for record");
        }
    }
    if (options.takePath.empty())
        return usageError("record needs -o TAKE.wav");
    if (!options.inputPath.empty() && options.device >= 0)
        return usageError("--device and --input cannot be used together");
    if (options.takePath == options.inputPath)
        return usageError("the take cannot be written over its input file");
    if ((options.midiOut >= 0 || !options.connect.empty()) && options.echo != EchoMidi && !options.metronome)
        return usageError("--midi-out and --connect choose the output of --echo midi and --metronome");
    return 0;
}

// TAKE with its .wav extension (any case) replaced by .mid, or .mid appended.
std::string midiPathOf(const std::string& take)
{
    const size_t dot = take.find_last_of('.');
    const size_t slash = take.find_last_of('/');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash) &&
        strcasecmp(take.c_str() + dot, ".wav") == 0)
        return take.substr(0, dot) + ".mid";
    return take + ".mid";
}

bool fileExists(const std::string& path)
{
    return access(path.c_str(), F_OK) == 0;
}

bool isMicrophoneFormat(const WAVEFORMATEX& format)
{
    return format.nChannels == kMicrophoneFormat.nChannels &&
           format.nSamplesPerSec == kMicrophoneFormat.nSamplesPerSec &&
           format.wBitsPerSample == kMicrophoneFormat.wBitsPerSample;
}

// The metronome's sound and volume as the settings keep them; the built-in ones when the
// settings have none.
MetronomeSettings storedMetronome()
{
    MetronomeSettings metronome;
    std::string text;
    if (RegAccessString(false, "Metron", text, kSettingsKey))
        parseMetronomeText(text, metronome);
    return metronome;
}

// Why a take did not start.
std::string startFailure(ConversionController& controller, const RecordOptions& options,
                         const std::string& deviceName, int32_t midiEntry)
{
    if (!controller.deviceFailure().empty())
        return "cannot start " + deviceName + " for recording: " + controller.deviceFailure();
    if (controller.recorderTrace().result != MMSYSERR_NOERROR)
        return "cannot open " + deviceName + " for recording: " + controller.recorderTrace().text;
    if (options.echo == EchoWave)
        return "cannot open the output for the WAVE echo: " + std::string(controller.playerTrace().text);
    const std::string problem = TerminalSession::midiOutputProblem(midiEntry);
    std::string name = midiOutDeviceName(static_cast<uint32_t>(deviceIdFromIndex(midiEntry)));
    if (name.empty())
        name = "MIDI output " + std::to_string(midiEntry);
    return "cannot open '" + name + "' for the " +
           (options.echo == EchoMidi ? "echo" : "metronome") + (problem.empty() ? "." : ": " + problem);
}

}  // namespace

int runRecordCommand(const std::vector<std::string>& args)
{
    RecordOptions options;
    if (const int usage = parseOptions(args, options))
        return usage;
    // The stored settings choose the devices and the conversion's defaults, as for convert.
    const CliSettings stored = readCliSettings(std::cerr);
    if (options.device < 0)
        options.device = options.inputPath.empty() ? stored.wavInIndex : 0;
    if (options.midiOut < 0)
        options.midiOut = stored.midiOutIndex;
    const bool usesMidi = options.echo == EchoMidi || options.metronome;
    const std::string midiPath = midiPathOf(options.takePath);
    for (const std::string& path : {options.takePath, midiPath}) {
        if (!options.force && fileExists(path))
            return fail("'" + path + "' already exists; use --force to overwrite it.");
    }

    // The virtual input plays the file in real time; otherwise the sound server's input.
    // Echoes go to the sound server's output either way.
    std::unique_ptr<SampleSource> source;
    SteadyWaveClock clock;
    std::unique_ptr<VirtualWaveDriver> virtualDriver;
    if (!options.inputPath.empty()) {
        WAVEFORMATEX format{};
        SampleStore file;
        WaveRefusal why = WaveRefusal::None;
        if (!LoadWaveFile(options.inputPath, format, file, &why))
            return fail("cannot record from '" + options.inputPath + "': " + describeWaveRefusal(why));
        if (!isMicrophoneFormat(format))
            return fail("cannot record from '" + options.inputPath +
                        "': a take is recorded as 16-bit mono at 22050 Hz, and the file is not.");
        const uint32_t whole = file.validCount - file.validCount % format.nBlockAlign;
        source = std::make_unique<SampleSource>(format, std::vector<uint8_t>(file.data, file.data + whole));
        virtualDriver = std::make_unique<VirtualWaveDriver>(source.get(), &clock);
    }
    SplitWaveDriver driver(virtualDriver ? *virtualDriver : systemWaveDriver(), systemWaveDriver());

    TerminalSession session(options.quiet ? TerminalSeam::Status::None : TerminalSeam::Status::TimeAndNote, driver);
    ConversionController& controller = session.controller;
    TerminalSeam& seam = session.seam;
    session.chooseInput(true);
    session.chooseEcho(options.echo);
    seam.waveInList = options.device;
    seam.waveOutList = stored.wavOutIndex;
    seam.midiOutList = options.midiOut;
    seam.mergeShortDeviations = stored.mergeShortPitchDeviations;
    seam.engine = stored.engine;
    seam.metronomeOn = options.metronome;
    if (options.metronome) {
        const MetronomeSettings metronome = storedMetronome();
        seam.metronomeSound = metronome.sound == 1 ? kMaracasNote : kSideStickNote;
        seam.metronomeLevel = static_cast<uint8_t>(std::clamp<int>(metronome.volume, 0, 127));
    }
    songSettings.tpqn = stored.tpqn;
    songSettings.tempo = static_cast<int16_t>(stored.tempo);

    const std::string deviceName =
        virtualDriver ? "'" + options.inputPath + "'" : waveDeviceListName(driver, true, options.device);
    if (usesMidi) {
        if (const int failed = connectMidiOutput(options.midiOut, options.connect, options.quiet))
            return failed;
    }
    controller.ibtn_ConvertClick();
    if (controller.isStopped())
        return fail(startFailure(controller, options, deviceName, options.midiOut));
    if (!options.quiet)
        std::fprintf(stderr, "Recording from %s; press Ctrl-C to stop.\n", deviceName.c_str());

    // The take ends on Ctrl-C, after its length, when an input file has been played out,
    // or by itself when the store is full or a device fails.
    const uint32_t chunk = audioChunkBytes(kMicrophoneFormat);
    const uint64_t lengthBytes = static_cast<uint64_t>(options.seconds) * kMicrophoneFormat.nAvgBytesPerSec;
    const Clock::time_point lastMoment = Clock::now() + std::chrono::seconds(options.seconds) + kLateStart;
    uint64_t recorded = 0;
    session.onTakePosition = [&](int32_t frames) { recorded = static_cast<uint64_t>(frames) * chunk; };
    std::optional<Clock::time_point> inputEnded;
    session.runUntilStopped([&] {
        if (source && source->exhausted()) {
            if (!inputEnded)
                inputEnded = Clock::now();
            else if (Clock::now() - *inputEnded > kInputTail)
                return true;
        }
        return recorded >= lengthBytes || Clock::now() > lastMoment;
    });
    // A failed device ends the take by itself; its error says why.
    const std::string deviceError = controller.deviceFailure();
    session.settle();
    seam.endStatusLine();
    if (usesMidi && isJackMidiEntry(options.midiOut))
        rememberJackMidiConnections();

    const SampleStore& store = controller.store();
    const WAVEFORMATEX& format = controller.takeFormat();
    const uint32_t taken = static_cast<uint32_t>(std::min<uint64_t>(store.validCount, lengthBytes));
    if (taken == 0)
        return fail(deviceError.empty() ? "nothing was recorded from " + deviceName + "."
                                        : "recording failed: " + deviceError);
    try {
        if (!WriteWaveFile(options.takePath, format, taken, store.data))
            return fail("cannot create '" + options.takePath + "'.");
    } catch (const WaveWriteError&) {
        return fail("cannot write '" + options.takePath + "': Write Error");
    }
    std::printf("Take written: %s (%.1f s)\n", options.takePath.c_str(),
                static_cast<double>(taken) / format.nAvgBytesPerSec);
    if (!deviceError.empty())
        return fail("recording stopped early: " + deviceError + " The take so far is kept.");

    ConvertOptions convert;
    convert.midiPath = midiPath;
    convert.tpqn = stored.tpqn;
    convert.mergeShortPitchDeviations = stored.mergeShortPitchDeviations;
    convert.engine = stored.engine;
    convert.printTable = true;
    convert.force = true; // checked before recording
    convert.showProgress = !options.quiet;
    const int status = writeConversion(format, controller.analysedFrames(), {}, controller.notes(), convert);
    if (status == 0)
        std::printf("MIDI file written: %s\n", midiPath.c_str());
    return status;
}
