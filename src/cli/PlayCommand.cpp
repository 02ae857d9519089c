#include "cli/PlayCommand.h"

#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "audio/Wav_func.h"
#include "app/MidiConnections.h"
#include "cli/CommandLine.h"
#include "cli/ConvertJob.h"
#include "cli/DevicesCommand.h"
#include "cli/SettingsCommand.h"
#include "cli/SplitWaveDriver.h"
#include "cli/TerminalSession.h"
#include "export/Rtttl_writer.h"
#include "midi/SmfReader.h"
#include "platform/MidiDevices.h"
#include "platform/VirtualWaveDriver.h"
#include "settings/My_registry.h"

namespace {

constexpr int kMinTempo = 10;
constexpr int kMaxTempo = 500;

struct PlayOptions {
    std::string input;     // a WAV file to convert, or a MIDI file, played as MIDI
    std::string wavePath;  // a WAV file played as sound
    bool raw = false;
    bool ringtone = false;
    int device = -1;       // not given: the settings' output, else the default
    int tempo = 0;         // 0: the file's (or the take's) tempo
    std::vector<std::string> connect;
    bool quiet = false;
};

bool isMidiFile(const std::string& path)
{
    const size_t dot = path.find_last_of('.');
    return dot != std::string::npos && strcasecmp(path.c_str() + dot, ".mid") == 0;
}

// 0: go on; otherwise the exit status of a usage error.
int parseOptions(const std::vector<std::string>& args, PlayOptions& options)
{
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "--wave") {
            if (!hasValue)
                return usageError("--wave needs a WAV file");
            options.wavePath = args[++i];
        } else if (arg == "--device") {
            if (!hasValue || !parseInteger(args[i + 1], 0, 1000, options.device))
                return usageError("--device needs a list index from 'lirrosa-cli devices'");
            ++i;
        } else if (arg == "--tempo") {
            if (!hasValue || !parseInteger(args[i + 1], kMinTempo, kMaxTempo, options.tempo))
                return usageError("--tempo needs a tempo from 10 to 500 beats per minute");
            ++i;
        } else if (arg == "--connect") {
            if (!hasValue)
                return usageError("--connect needs a JACK MIDI input, such as 'ardour:MIDI in'");
            options.connect.push_back(args[++i]);
        } else if (arg == "--raw") {
            options.raw = true;
        } else if (arg == "--ringtone") {
            options.ringtone = true;
        } else if (arg == "--quiet") {
            options.quiet = true;
        } else if (!arg.empty() && arg[0] == '-') {
            return usageError("unknown option '" + arg + "' for play");
        } else if (options.input.empty()) {
            options.input = arg;
        } else {
            return usageError("only one file can be played at a time");
        }
    }
    if (options.input.empty() == options.wavePath.empty())
        return usageError("play needs IN.wav or IN.mid, or --wave FILE.wav");
    if (options.raw && options.ringtone)
        return usageError("--raw and --ringtone cannot be used together");
    if (!options.wavePath.empty() && (options.raw || options.ringtone || options.tempo > 0 || !options.connect.empty()))
        return usageError("--raw, --ringtone, --tempo and --connect play MIDI; --wave plays the sound itself");
    if (options.raw && isMidiFile(options.input))
        return usageError("--raw plays the raw pitch track of a WAV file; a MIDI file holds only notes");
    return 0;
}

// `play --wave FILE.wav`: the sound of a file take, through the wave-out player.
int playWave(const PlayOptions& options, const CliSettings& stored)
{
    VirtualWaveDriver noInputs(nullptr);
    noInputs.removeDevices();
    SplitWaveDriver driver(noInputs, systemWaveDriver());
    TerminalSession session(TerminalSeam::Status::None, driver);
    ConversionController& controller = session.controller;
    const std::string& path = options.wavePath;
    if (const std::string problem = session.convertFile(path); !problem.empty())
        return fail("cannot play '" + path + "': " + problem);

    const int device = options.device >= 0 ? options.device : stored.wavOutIndex;
    const std::string deviceName = waveDeviceListName(driver, false, device);
    session.seam.waveOutList = device;
    session.chooseEcho(EchoWave);
    // The terminal plays whatever the file holds, a melody or not.
    session.seam.button(MainButton::Play).enabled = true;
    controller.ibtn_PlayClick();
    if (controller.isStopped())
        return fail("cannot open " + deviceName + " for playing '" + path + "': " + controller.playerTrace().text);
    const WAVEFORMATEX& format = controller.takeFormat();
    if (!options.quiet)
        std::fprintf(stderr, "Playing '%s' (%.1f s) on %s; press Ctrl-C to stop.\n", path.c_str(),
                     static_cast<double>(controller.store().validCount) / format.nAvgBytesPerSec,
                     deviceName.c_str());
    // A chunk the device refuses ends the playback.
    session.runUntilStopped();
    session.settle();
    if (!controller.deviceFailure().empty())
        return fail("playback of '" + path + "' failed: " + controller.deviceFailure());
    return 0;
}

// Puts the notes of IN on the controller: a WAV file converted, or a MIDI file read.
std::string takeNotes(TerminalSession& session, const PlayOptions& options)
{
    const std::string& path = options.input;
    ConversionController& controller = session.controller;
    if (isMidiFile(path)) {
        SmfContents contents;
        std::string error;
        if (!readMidiFile(path, contents, error))
            return error;
        NoteSequence notes; // before the file's song settings are applied: it resets them
        if (!notesFromMidiFile(contents, notes, songSettings) || !controller.loadNotes(notes))
            return "the file holds no notes; nothing to play.";
        return {};
    }
    if (const std::string problem = session.convertFile(path); !problem.empty())
        return problem;
    const NoteSequence& notes = controller.notes();
    if (!notes.hasRawFrames() || (!options.raw && notes.count == 0))
        return "no sung, hummed or whistled pitch was found; nothing to play.";
    if (options.raw)
        controller.ibtn_PlayPBClick();
    else
        controller.ibtn_PlayNTClick();
    return {};
}

// `play IN.wav|IN.mid`: the notes (or the raw track, or the ringtone) on a MIDI output.
int playMidi(const PlayOptions& options, const CliSettings& stored)
{
    VirtualWaveDriver noDevices(nullptr);
    noDevices.removeDevices();
    TerminalSession session(options.quiet ? TerminalSeam::Status::None : TerminalSeam::Status::PlayPosition,
                            noDevices);
    ConversionController& controller = session.controller;
    if (const std::string problem = takeNotes(session, options); !problem.empty())
        return fail("cannot play '" + options.input + "': " + problem);

    session.seam.ringtone = options.ringtone;
    if (options.tempo > 0 && options.ringtone)
        ringtoneSettings.tempoIndex = nearestRingtoneTempoIndex(options.tempo);
    else if (options.tempo > 0)
        songSettings.tempo = static_cast<int16_t>(options.tempo);
    const int device = options.device >= 0 ? options.device : stored.midiOutIndex;
    std::string deviceName = midiOutDeviceName(static_cast<uint32_t>(deviceIdFromIndex(device)));
    if (deviceName.empty())
        deviceName = "MIDI output " + std::to_string(device);
    if (const int failed = connectMidiOutput(device, options.connect, options.quiet))
        return failed;
    session.seam.midiOutList = device;
    session.chooseEcho(EchoMidi);
    controller.ibtn_PlayClick();
    if (controller.isStopped()) {
        const std::string problem = TerminalSession::midiOutputProblem(device);
        return fail("cannot play on '" + deviceName + "': " + (problem.empty() ? kCannotPlayMidi : problem));
    }
    if (!options.quiet)
        std::fprintf(stderr, "Playing '%s' on %s; press Ctrl-C to stop.\n", options.input.c_str(),
                     deviceName.c_str());
    session.runUntilStopped();
    session.settle();
    session.seam.endStatusLine();
    if (isJackMidiEntry(device))
        rememberJackMidiConnections();
    // A device failure during the playback is shown by the player thread.
    if (const std::string error = session.notifier.firstError(); !error.empty())
        return fail("playback of '" + options.input + "' failed: " + error);
    return 0;
}

}  // namespace

int runPlayCommand(const std::vector<std::string>& args)
{
    PlayOptions options;
    if (const int usage = parseOptions(args, options))
        return usage;
    const CliSettings stored = readCliSettings(std::cerr);
    return options.wavePath.empty() ? playMidi(options, stored) : playWave(options, stored);
}
