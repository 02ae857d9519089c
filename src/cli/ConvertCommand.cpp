#include "cli/ConvertCommand.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <optional>

#include "cli/CommandLine.h"
#include "cli/ConvertJob.h"
#include "cli/SettingsCommand.h"
#include "cli/TerminalSession.h"
#include "platform/VirtualWaveDriver.h"

namespace {

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

} // namespace

int runConvertCommand(const std::vector<std::string>& args)
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

