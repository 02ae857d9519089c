#include "cli/RecordCommand.h"

#include <strings.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>

#include "audio/M_stack.h"
#include "audio/Wav_func.h"
#include "cli/ConvertJob.h"
#include "cli/DevicesCommand.h"
#include "cli/InterruptWatch.h"
#include "cli/SettingsCommand.h"
#include "platform/VirtualWaveDriver.h"
#include "platform/WindowMessages.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kMaxSeconds = 60;          // what the take's store holds
constexpr int kQueuedBuffers = 5;
constexpr std::chrono::milliseconds kPoll{100};
// How long a take may run beyond its length before it ends anyway: a source may deliver
// nothing for a while (a monitor whose sink is idle), and the device needs time to start.
constexpr std::chrono::seconds kLateStart{2};
// After the last sample of an input file the device still hands over its full buffers.
constexpr std::chrono::milliseconds kInputTail{300};

struct RecordOptions {
    std::string takePath;
    std::string inputPath;
    int seconds = kMaxSeconds;
    int device = -1;  // not given: the settings' input, else the default
    bool force = false;
    bool quiet = false;
};

int fail(const std::string& message)
{
    std::fprintf(stderr, "lirrosa-cli: %s\n", message.c_str());
    return 1;
}

int usageError(const std::string& message)
{
    std::fprintf(stderr, "lirrosa-cli: %s (see lirrosa-cli --help)\n", message.c_str());
    return 2;
}

bool parseCount(const std::string& text, int minimum, int maximum, int& value)
{
    char* end = nullptr;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || parsed < minimum || parsed > maximum)
        return false;
    value = static_cast<int>(parsed);
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
            if (!hasValue || !parseCount(args[i + 1], 1, kMaxSeconds, options.seconds))
                return usageError("--seconds needs a whole number from 1 to 60");
            ++i;
        } else if (arg == "--device") {
            if (!hasValue || !parseCount(args[i + 1], 0, 1000, options.device))
                return usageError("--device needs a list index from 'lirrosa-cli devices'");
            ++i;
        } else if (arg == "--input") {
            if (!hasValue)
                return usageError("--input needs a WAV file");
            options.inputPath = args[++i];
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

// The take being recorded. The recorder's data callback appends to the store on the
// driver thread while the recorder runs; the command reads it once the recorder is closed.
struct Take {
    SampleStore store;
    std::atomic<uint32_t> validCount{0};
    MessageTarget* window = nullptr;
};

Take* gTake = nullptr;

// The take's data callback: keep each filled buffer; a full store ends the take.
void storeBuffer(WaveRecorder* recorder, uint8_t* data, uint32_t length, uint32_t, uint32_t)
{
    if (!recorder->started || data == nullptr || length == 0)
        return;
    Take& take = *gTake;
    const uint32_t valid = take.validCount.load();
    if (static_cast<uint64_t>(valid) + length >= take.store.capacity) {
        take.window->post(UM_INPUT_ENDED, 0, 0);
        return;
    }
    std::memcpy(take.store.data + valid, data, length);
    take.validCount = valid + length;
    take.window->post(UM_POSITION, (valid + length) / length, 0);
}

// Shows the seconds recorded so far on a terminal.
class Progress {
public:
    Progress(bool quiet, uint32_t bytesPerSecond)
        : shown_(!quiet && isatty(STDERR_FILENO)), bytesPerSecond_(bytesPerSecond)
    {
    }
    ~Progress()
    {
        if (printed_)
            std::fputc('\n', stderr);
    }
    void update(uint32_t bytes)
    {
        const uint32_t seconds = bytes / bytesPerSecond_;
        if (!shown_ || (printed_ && seconds == seconds_))
            return;
        seconds_ = seconds;
        printed_ = true;
        std::fprintf(stderr, "\rrecorded: %u s", seconds);
        std::fflush(stderr);
    }

private:
    const bool shown_;
    const uint32_t bytesPerSecond_;
    bool printed_ = false;
    uint32_t seconds_ = 0;
};

enum class TakeEnd { Interrupted, Length, StoreFull, InputEnded, DeviceFailed };

// Runs the window thread's side of the buffer cycle until the take ends.
TakeEnd runTake(WaveRecorder& recorder, MessageQueue& window, Take& take, const RecordOptions& options,
                const SampleSource* source, uint32_t chunk)
{
    InterruptWatch interrupt;
    Progress progress(options.quiet, recorder.format.nAvgBytesPerSec);
    const uint64_t lengthBytes = static_cast<uint64_t>(options.seconds) * recorder.format.nAvgBytesPerSec;
    const Clock::time_point lastMoment = Clock::now() + std::chrono::seconds(options.seconds) + kLateStart;
    std::optional<Clock::time_point> inputEnded;
    for (;;) {
        if (interrupt.interrupted())
            return TakeEnd::Interrupted;
        if (take.validCount >= lengthBytes || Clock::now() > lastMoment)
            return TakeEnd::Length;
        if (recorder.lastTrace.result != MMSYSERR_NOERROR)
            return TakeEnd::DeviceFailed;
        if (source != nullptr && source->exhausted()) {
            if (!inputEnded)
                inputEnded = Clock::now();
            else if (Clock::now() - *inputEnded > kInputTail)
                return TakeEnd::InputEnded;
        }
        WindowMessage message;
        if (!window.waitNext(message, kPoll))
            continue;
        if (message.msg == UM_IN_BUFFER_DONE) {
            recorder.releaseHeader(reinterpret_cast<WAVEHDR*>(message.wParam), true);
            if (recorder.started)
                recorder.queueBuffer(newAudioBuffer(chunk), chunk, 1);
        } else if (message.msg == UM_INPUT_ENDED) {
            return TakeEnd::StoreFull;
        } else if (message.msg == UM_POSITION) {
            progress.update(static_cast<uint32_t>(message.wParam) * chunk);
        }
    }
}

// Closes the recorder and releases the buffers it returns.
void finishTake(WaveRecorder& recorder, MessageQueue& window)
{
    recorder.close();
    const Clock::time_point giveUp = Clock::now() + std::chrono::seconds(2);
    while (recorder.preparedCount > 0 && Clock::now() < giveUp) {
        WindowMessage message;
        if (window.waitNext(message, kPoll) && message.msg == UM_IN_BUFFER_DONE)
            recorder.releaseHeader(reinterpret_cast<WAVEHDR*>(message.wParam), true);
    }
}

}  // namespace

int runRecordCommand(const std::vector<std::string>& args)
{
    RecordOptions options;
    if (const int usage = parseOptions(args, options))
        return usage;
    // The stored settings choose the input and the conversion's defaults, as for convert.
    const CliSettings stored = readCliSettings(std::cerr);
    if (options.device < 0)
        options.device = options.inputPath.empty() ? stored.wavInIndex : 0;
    const std::string midiPath = midiPathOf(options.takePath);
    for (const std::string& path : {options.takePath, midiPath}) {
        if (!options.force && fileExists(path))
            return fail("'" + path + "' already exists; use --force to overwrite it.");
    }

    // The virtual input plays the file in real time; otherwise the sound server's input.
    WAVEFORMATEX format = kMicrophoneFormat;
    std::unique_ptr<SampleSource> source;
    SteadyWaveClock clock;
    std::unique_ptr<VirtualWaveDriver> virtualDriver;
    if (!options.inputPath.empty()) {
        SampleStore file;
        WaveRefusal why = WaveRefusal::None;
        if (!LoadWaveFile(options.inputPath, format, file, &why))
            return fail("cannot record from '" + options.inputPath + "': " + describeWaveRefusal(why));
        const uint32_t whole = file.validCount - file.validCount % format.nBlockAlign;
        source = std::make_unique<SampleSource>(format, std::vector<uint8_t>(file.data, file.data + whole));
        virtualDriver = std::make_unique<VirtualWaveDriver>(source.get(), &clock);
    }
    WaveDriver& driver = virtualDriver ? *virtualDriver : systemWaveDriver();

    MessageQueue window;
    Take take;
    take.window = &window;
    if (!take.store.allocate(format.nAvgBytesPerSec * kMaxSeconds))
        return fail("not enough memory for a take of 60 seconds.");
    gTake = &take;
    WaveRecorder recorder(driver);
    recorder.dataCallback = storeBuffer;
    const std::string deviceName =
        virtualDriver ? "'" + options.inputPath + "'" : waveDeviceListName(driver, true, options.device);
    if (!recorder.open(format, waveDeviceIdOfListIndex(options.device)))
        return fail("cannot open " + deviceName + " for recording: " + recorder.lastTrace.text);
    if (!recorder.start(nullptr, &window)) {
        recorder.close();
        return fail("cannot start recording from " + deviceName + ": " + recorder.lastTrace.text);
    }
    const uint32_t chunk = audioChunkBytes(recorder.format);
    for (int i = 0; i < kQueuedBuffers; ++i)
        recorder.queueBuffer(newAudioBuffer(chunk), chunk, 1);
    if (!options.quiet)
        std::fprintf(stderr, "Recording from %s; press Ctrl-C to stop.\n", deviceName.c_str());

    const TakeEnd end = runTake(recorder, window, take, options, source.get(), chunk);
    const std::string deviceError = end == TakeEnd::DeviceFailed ? recorder.lastTrace.text : "";
    finishTake(recorder, window);
    gTake = nullptr;

    const uint64_t lengthBytes = static_cast<uint64_t>(options.seconds) * format.nAvgBytesPerSec;
    take.store.validCount = static_cast<uint32_t>(std::min<uint64_t>(take.validCount, lengthBytes));
    if (take.store.validCount == 0)
        return fail(deviceError.empty() ? "nothing was recorded from " + deviceName + "."
                                        : "recording failed: " + deviceError);
    try {
        if (!WriteWaveFile(options.takePath, format, take.store.validCount, take.store.data))
            return fail("cannot create '" + options.takePath + "'.");
    } catch (const WaveWriteError&) {
        return fail("cannot write '" + options.takePath + "': Write Error");
    }
    std::printf("Take written: %s (%.1f s)\n", options.takePath.c_str(),
                static_cast<double>(take.store.validCount) / format.nAvgBytesPerSec);
    if (!deviceError.empty())
        return fail("recording stopped early: " + deviceError + " The take so far is kept.");

    ConvertOptions convert;
    convert.midiPath = midiPath;
    convert.tpqn = stored.tpqn;
    convert.mergeShortPitchDeviations = stored.mergeShortPitchDeviations;
    convert.printTable = true;
    convert.force = true;  // checked before recording
    convert.showProgress = !options.quiet;
    const int status = convertTake(format, take.store, convert);
    if (status == 0)
        std::printf("MIDI file written: %s\n", midiPath.c_str());
    return status;
}
