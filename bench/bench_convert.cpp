// Conversion cost on the path `lirrosa-cli convert` runs: the controller's file take (load
// the WAV file, analyse it chunk by chunk, recognise the notes with either engine) and the
// MIDI file written, for takes of growing length; in this process, and as a whole
// `lirrosa-cli` process.

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "../tests/support/Synth.h"
#include "audio/Wav_func.h"
#include "cli/ConvertCommand.h"

extern char** environ;

namespace {

std::string writeTake(int seconds)
{
    const std::vector<int16_t> samples = synth::longMelody(seconds, 22050);
    const std::string path = "/tmp/lirrosa-bench-" + std::to_string(::getpid()) + "-" + std::to_string(seconds) + ".wav";
    WriteWaveFile(path, kMicrophoneFormat, static_cast<uint32_t>(samples.size() * 2),
                  reinterpret_cast<const uint8_t*>(samples.data()));
    return path;
}

// Sends this process's standard output to /dev/null while it lives, so that the
// command's "MIDI file written" lines do not mix with the benchmark's table.
class QuietStdout {
public:
    QuietStdout() : saved_(::dup(STDOUT_FILENO))
    {
        std::fflush(stdout);
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        ::dup2(null, STDOUT_FILENO);
        ::close(null);
    }
    ~QuietStdout()
    {
        std::fflush(stdout);
        ::dup2(saved_, STDOUT_FILENO);
        ::close(saved_);
    }
    QuietStdout(const QuietStdout&) = delete;
    QuietStdout& operator=(const QuietStdout&) = delete;

private:
    int saved_;
};

void countRealTime(benchmark::State& state, int seconds)
{
    state.counters["audio_s"] = seconds;
    state.counters["x_realtime"] =
        benchmark::Counter(static_cast<double>(seconds) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
}

void convertCommand(benchmark::State& state, const char* engine)
{
    const int seconds = static_cast<int>(state.range(0));
    const std::string input = writeTake(seconds);
    const std::string output = input + ".mid";
    const std::vector<std::string> args{input, "-o", output, "--engine", engine, "--force", "--quiet"};
    for (auto _ : state) {
        QuietStdout quiet;
        if (runConvertCommand(args) != 0)
            state.SkipWithError("conversion failed");
    }
    countRealTime(state, seconds);
    ::unlink(input.c_str());
    ::unlink(output.c_str());
}

void BM_ConvertCommand(benchmark::State& state) { convertCommand(state, "classic"); }

// The precise engine analyses the whole take again after the classic analysis has run.
void BM_ConvertCommandPrecise(benchmark::State& state) { convertCommand(state, "precise"); }

// Runs `lirrosa-cli convert` as its own process; the wall time includes its start-up.
void BM_ConvertProcess(benchmark::State& state)
{
    const int seconds = static_cast<int>(state.range(0));
    const std::string input = writeTake(seconds);
    const std::string output = input + ".mid";
    std::vector<std::string> args{LIRROSA_CLI_PATH, "convert", input, "-o", output, "--engine", "classic", "--force", "--quiet"};
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    for (auto _ : state) {
        pid_t child = 0;
        int status = 0;
        if (posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ) != 0 ||
            ::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            state.SkipWithError("lirrosa-cli convert failed");
    }
    posix_spawn_file_actions_destroy(&actions);
    countRealTime(state, seconds);
    ::unlink(input.c_str());
    ::unlink(output.c_str());
}

} // namespace

BENCHMARK(BM_ConvertCommand)->Arg(10)->Arg(60)->Arg(300)->Arg(600)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertCommandPrecise)->Arg(10)->Arg(60)->Arg(600)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertProcess)->Arg(600)->Unit(benchmark::kMillisecond)->UseRealTime();
