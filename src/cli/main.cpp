// lirrosa-cli: the headless front end. Converts sung melodies in WAV files to Standard
// MIDI Files with the same engine as the desktop program.

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "audio/Wav_func.h"
#include "cli/CommandLine.h"
#include "cli/ConvertJob.h"
#include "cli/DevicesCommand.h"
#include "cli/PlayCommand.h"
#include "cli/RecordCommand.h"
#include "cli/RingtoneCommand.h"
#include "cli/SettingsCommand.h"
#include "cli/TerminalSession.h"
#include "platform/VirtualWaveDriver.h"

namespace {

const char* const kUsage =
    "Usage: lirrosa-cli COMMAND [OPTIONS]\n"
    "\n"
    "Commands:\n"
    "  convert IN.wav [OPTIONS]   turn the melody sung in IN.wav into MIDI notes\n"
    "      -o OUT.mid             output file (default: IN with .mid)\n"
    "      --raw                  write the raw pitch track (gliding pitch bends) instead of the notes\n"
    "      --json FILE            also write a JSON report (raw track, notes, summary)\n"
    "      --render OUT.wav       also play the notes (or --raw track) through the built-in synthesiser into a WAV file\n"
    "      --patch N              General MIDI program of the melody, 0..127 (default: the settings' Patch, else 0)\n"
    "      --table                print the recognised notes\n"
    "      --engine classic|precise  recognition engine (default: the settings' Engine, else classic)\n"
    "      --no-merge             keep short pitch deviations as notes of their own\n"
    "      --merge                merge them (the default unless the settings say MergeSPD 0)\n"
    "      --tpqn N               MIDI ticks per quarter note, 48..960 (default: the settings' TPQN, else 480)\n"
    "      --force                overwrite existing output files\n"
    "      --quiet                no progress output\n"
    "  record -o TAKE.wav [OPTIONS]  record a take from the microphone, save it and convert it\n"
    "      --seconds N            stop after N seconds, 1..60 (default: Ctrl-C or 60 s)\n"
    "      --device N             the input's index in 'devices' (default: the settings' WavInDev, else 0)\n"
    "      --input FILE.wav       record FILE.wav (16-bit mono, 22050 Hz) played in real time instead of a device\n"
    "      --echo none|midi|wave  hear the sung pitch on the MIDI output, or the sound itself (default: none)\n"
    "      --metronome            click the beat of the settings' tempo on the MIDI output\n"
    "      --midi-out N           the MIDI output of the echo and the metronome, its index in 'devices'\n"
    "                             (default: the settings' MidiOutDev, else 0: Auto)\n"
    "      --connect PORT         connect the JACK MIDI output to PORT, e.g. 'ardour:MIDI in' (repeatable;\n"
    "                             default: the ports it was connected to last time)\n"
    "      --force                overwrite TAKE.wav and TAKE.mid\n"
    "      --quiet                no progress output\n"
    "  play IN.wav|IN.mid [OPTIONS]  play the notes of IN.wav (converted) or of a MIDI file\n"
    "      --raw                  play the raw pitch track of IN.wav instead of the notes\n"
    "      --ringtone             play the notes as a ringtone\n"
    "      --device N             the MIDI output's index in the settings' list (0: Auto)\n"
    "      --tempo BPM            playback tempo, 10..500\n"
    "      --connect PORT         connect the JACK MIDI output to PORT (as for record)\n"
    "      --quiet                no position output\n"
    "  play --wave FILE.wav [--device N] [--quiet]\n"
    "                             play a WAV file (N: the output's index in 'devices')\n"
    "  ringtone IN.wav|IN.mid [OPTIONS]  the melody as an RTTTL ringtone text (printed, or written with -o)\n"
    "      -o OUT.rtttl           write the text to OUT.rtttl\n"
    "      --name NAME            the ringtone's name, at most 15 characters (default: melody)\n"
    "      --tempo BPM            the nearest of the 32 ringtone tempos from 25 to 900 (default: 125)\n"
    "      --force                overwrite OUT.rtttl\n"
    "      --send                 also send the ringtone request to the online service of the settings' url and uri\n"
    "      --mail ADDRESS         with --send: deliver to ADDRESS (default: the settings' LastMailTo)\n"
    "      --phone NUMBER         with --send: deliver by SMS too, digits only with country and area codes\n"
    "      --dotted               with --send: let the service use dotted note values\n"
    "  devices                    list the wave inputs and outputs and the MIDI outputs with their indices\n"
    "  settings                   list the program's settings\n"
    "  settings get KEY           print one setting (KEY as TPQN or Settings\\TPQN)\n"
    "  settings set KEY VALUE     check and store one setting\n"
    "  --help                     show this text\n"
    "\n"
    "Exit status: 0 on success; otherwise one line on stderr says why.\n";

// IN with its .wav extension (any case) replaced by .mid, or .mid appended.
std::string defaultMidiPath(const std::string& input)
{
    const size_t dot = input.find_last_of('.');
    const size_t slash = input.find_last_of('/');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash) &&
        strcasecmp(input.c_str() + dot, ".wav") == 0)
        return input.substr(0, dot) + ".mid";
    return input + ".mid";
}

int runConvert(const std::vector<std::string>& args)
{
    std::string input;
    ConvertOptions options;
    // The stored settings give the defaults; the options below win.
    const CliSettings stored = readCliSettings(std::cerr);
    options.tpqn = stored.tpqn;
    options.mergeShortPitchDeviations = stored.mergeShortPitchDeviations;
    options.engine = stored.engine;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "-o" || arg == "--output") {
            if (!hasValue)
                return usageError("-o needs a file name");
            options.midiPath = args[++i];
        } else if (arg == "--patch") {
            if (!hasValue || !parseInteger(args[i + 1], -1000000, 1000000, options.patch))
                return usageError("--patch needs a whole number");
            ++i;
        } else if (arg == "--render") {
            if (!hasValue)
                return usageError("--render needs a file name");
            options.renderPath = args[++i];
        } else if (arg == "--json") {
            if (!hasValue)
                return usageError("--json needs a file name");
            options.jsonPath = args[++i];
        } else if (arg == "--tpqn") {
            if (!hasValue || !parseInteger(args[i + 1], -1000000, 1000000, options.tpqn))
                return usageError("--tpqn needs a whole number");
            ++i;
        } else if (arg == "--engine") {
            const std::string name = hasValue ? args[++i] : "";
            if (name == "classic")
                options.engine = RecognitionEngine::Classic;
            else if (name == "precise")
                options.engine = RecognitionEngine::Precise;
            else
                return usageError("--engine needs classic or precise");
        } else if (arg == "--raw") {
            options.writeRaw = true;
        } else if (arg == "--table") {
            options.printTable = true;
        } else if (arg == "--no-merge") {
            options.mergeShortPitchDeviations = false;
        } else if (arg == "--merge") {
            options.mergeShortPitchDeviations = true;
        } else if (arg == "--force") {
            options.force = true;
        } else if (arg == "--quiet") {
            options.showProgress = false;
        } else if (!arg.empty() && arg[0] == '-') {
            return usageError("unknown option '" + arg + "'");
        } else if (input.empty()) {
            input = arg;
        } else {
            return usageError("only one input file can be converted at a time");
        }
    }
    if (input.empty())
        return usageError("convert needs an input WAV file");
    if (options.midiPath.empty())
        options.midiPath = defaultMidiPath(input);
    if (options.midiPath == input || options.jsonPath == input || options.renderPath == input)
        return usageError("an output file cannot be the input file");

    if (const int refused = checkConvertOptions(options))
        return refused;

    // A file take, without echo; it needs no sound device.
    VirtualWaveDriver noDevices(nullptr);
    noDevices.removeDevices();
    TerminalSession session(TerminalSeam::Status::None, noDevices);
    ConversionController& controller = session.controller;
    session.chooseInput(false);
    session.chooseEcho(EchoNone);
    session.seam.takeFile = input;
    session.seam.keepAnalysed = !options.jsonPath.empty();
    session.seam.mergeShortDeviations = options.mergeShortPitchDeviations;
    session.seam.engine = options.engine;
    songSettings.tpqn = options.tpqn;
    if (options.patch >= 0)
        songSettings.patch = static_cast<uint8_t>(options.patch);
    // The file is fed on this thread, so its store can be read while it is analysed.
    std::optional<ConvertProgress> progress;
    session.onTakePosition = [&](int32_t frames) {
        const uint32_t total = controller.store().validCount;
        if (!progress)
            progress.emplace(options.showProgress && total > controller.takeFormat().nAvgBytesPerSec * 5, total);
        const uint64_t done = static_cast<uint64_t>(frames) * audioChunkBytes(controller.takeFormat());
        progress->update(static_cast<uint32_t>(std::min<uint64_t>(done, total)));
    };
    controller.ibtn_ConvertClick();

    if (controller.lastFileRefusal() != WaveRefusal::None) {
        std::fprintf(stderr, "lirrosa-cli: cannot convert '%s': %s\n", input.c_str(),
                     describeWaveRefusal(controller.lastFileRefusal()));
        return 1;
    }
    const std::string formatProblem = unsupportedFormatReason(controller.takeFormat());
    if (!formatProblem.empty()) {
        std::fprintf(stderr, "lirrosa-cli: cannot analyse the input: %s.\n", formatProblem.c_str());
        return 1;
    }
    const int status = writeConversion(controller.takeFormat(), controller.analysedFrames(), session.seam.analysed,
                                       controller.notes(), options);
    if (status == 0 && !options.renderPath.empty())
        std::printf("Rendering written: %s\n", options.renderPath.c_str());
    if (status == 0 && !options.jsonPath.empty())
        std::printf("JSON report written: %s\n", options.jsonPath.c_str());
    if (status == 0)
        std::printf("MIDI file written: %s\n", options.midiPath.c_str());
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        std::fputs(kUsage, args.empty() ? stderr : stdout);
        return args.empty() ? 2 : 0;
    }
    const std::string& command = args[0];
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (command == "convert")
        return runConvert(rest);
    if (command == "settings")
        return runSettingsCommand(rest, std::cout, std::cerr);
    if (command == "record")
        return runRecordCommand(rest);
    if (command == "play")
        return runPlayCommand(rest);
    if (command == "ringtone")
        return runRingtoneCommand(rest);
    if (command == "devices")
        return runDevicesCommand(rest);
    return usageError("unknown command '" + command + "'");
}
