#include "cli/ConvertCommand.h"

#include <spawn.h>
#include <strings.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <thread>

#include "cli/CommandLine.h"
#include "cli/ConvertJob.h"
#include "cli/SettingsCommand.h"
#include "cli/TerminalSession.h"
#include "platform/VirtualWaveDriver.h"

namespace {

// IN with its audio-file ending (any case) replaced by .mid, or .mid appended.
std::string defaultMidiPath(const std::string& input)
{
    static const char* const kAudioEndings[] = {".wav", ".flac", ".ogg", ".opus", ".mp3", ".aif", ".aiff"};
    const size_t dot = input.find_last_of('.');
    const size_t slash = input.find_last_of('/');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
        for (const char* ending : kAudioEndings)
            if (strcasecmp(input.c_str() + dot, ending) == 0)
                return input.substr(0, dot) + ".mid";
    return input + ".mid";
}

// The MIDI file of `input` in `folder`, or beside the input when `folder` is empty.
std::string batchMidiPath(const std::string& input, const std::string& folder)
{
    const std::string beside = defaultMidiPath(input);
    if (folder.empty())
        return beside;
    const size_t slash = beside.find_last_of('/');
    return folder + "/" + (slash == std::string::npos ? beside : beside.substr(slash + 1));
}

// Converts each input in a process of its own, `jobs` at a time, with the same options:
// a failing file fails alone and the results are those of one conversion at a time.
int runConvertBatch(const std::vector<std::string>& inputs, const std::string& folder, int jobs,
                    const std::vector<std::string>& options)
{
    if (!folder.empty() && !std::filesystem::is_directory(folder))
        return usageError("'" + folder + "' is not a folder (with several inputs, -o names the output folder)");
    std::vector<std::string> outputs;
    for (const std::string& input : inputs) {
        outputs.push_back(batchMidiPath(input, folder));
        const auto same = std::find(outputs.begin(), outputs.end() - 1, outputs.back());
        if (same != outputs.end() - 1)
            return usageError("'" + inputs[static_cast<size_t>(same - outputs.begin())] + "' and '" + input +
                              "' would both be written to '" + outputs.back() + "'");
    }
    size_t next = 0;
    int running = 0;
    int converted = 0;
    int failed = 0;
    while (next < inputs.size() || running > 0) {
        if (next < inputs.size() && running < jobs) {
            std::vector<std::string> args = {"lirrosa-cli", "convert", inputs[next], "-o", outputs[next]};
            args.insert(args.end(), options.begin(), options.end());
            std::vector<char*> argv;
            for (std::string& arg : args)
                argv.push_back(arg.data());
            argv.push_back(nullptr);
            pid_t child = 0;
            if (posix_spawn(&child, "/proc/self/exe", nullptr, nullptr, argv.data(), environ) == 0) {
                ++running;
            } else {
                std::fprintf(stderr, "lirrosa-cli: cannot convert '%s': no process could be started\n",
                             inputs[next].c_str());
                ++failed;
            }
            ++next;
            continue;
        }
        int status = 0;
        if (::wait(&status) < 0)
            break;
        --running;
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
            ++converted;
        else
            ++failed;
    }
    std::printf("%d converted, %d failed\n", converted, failed);
    return failed == 0 ? 0 : 1;
}

} // namespace

int runConvertCommand(const std::vector<std::string>& args)
{
    std::vector<std::string> inputs;
    int jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    // The options other than -o and -j, handed on to each conversion of a batch.
    std::vector<std::string> handedOn;
    ConvertOptions options;
    // The stored settings give the defaults; the options below win.
    const CliSettings stored = readCliSettings(std::cerr);
    options.tpqn = stored.tpqn;
    options.mergeShortPitchDeviations = stored.mergeShortPitchDeviations;
    options.engine = stored.engine;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        const size_t first = i;
        if (arg == "-o" || arg == "--output") {
            if (!hasValue)
                return usageError("-o needs a file name");
            options.midiPath = args[++i];
            continue;
        } else if (arg == "-j" || arg == "--jobs") {
            if (!hasValue || !parseInteger(args[i + 1], 1, 256, jobs))
                return usageError("-j needs a number of files at a time, 1 to 256");
            ++i;
            continue;
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
        } else if (arg == "--csv") {
            if (!hasValue)
                return usageError("--csv needs a file name");
            options.csvPath = args[++i];
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
        } else {
            inputs.push_back(arg);
            continue;
        }
        handedOn.insert(handedOn.end(), args.begin() + static_cast<std::ptrdiff_t>(first),
                        args.begin() + static_cast<std::ptrdiff_t>(i) + 1);
    }
    if (inputs.empty())
        return usageError("convert needs an input audio file");
    if (inputs.size() > 1) {
        if (!options.jsonPath.empty() || !options.csvPath.empty() || !options.renderPath.empty())
            return usageError("--json, --csv and --render name one file: convert several inputs without them");
        return runConvertBatch(inputs, options.midiPath, jobs, handedOn);
    }
    const std::string& input = inputs.front();
    if (options.midiPath.empty())
        options.midiPath = defaultMidiPath(input);
    if (options.midiPath == input || options.jsonPath == input || options.csvPath == input ||
        options.renderPath == input)
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
    if (status == 0 && !options.csvPath.empty())
        std::printf("CSV note list written: %s\n", options.csvPath.c_str());
    if (status == 0)
        std::printf("MIDI file written: %s\n", options.midiPath.c_str());
    return status;
}

