#include "platform/BuiltInSynth.h"

#include <fluidsynth.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace {

constexpr const char* kDefaultGmSoundfont = "/usr/share/sounds/sf2/default-GM.sf2";
constexpr const char* kTimGm6mbSoundfont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
constexpr double kLiveSampleRate = 44100.0;
// The synthesiser hands the sound server 256 frames at a time, 4 periods deep: 23 ms of
// buffering. FluidSynth's default of 64-frame periods made the server run dry (gaps in
// the sound) as soon as the machine was busy; the total latency is the same.
constexpr int kLivePeriodFrames = 256;
constexpr int kLivePeriods = 4;
constexpr int kRenderChunkFrames = 1024;

// FluidSynth reports its problems on stderr; the program reports them through its own
// result codes instead.
void silenceFluidSynthLog()
{
    static std::once_flag once;
    std::call_once(once, [] {
        for (int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG})
            fluid_set_log_function(level, nullptr, nullptr);
    });
}

bool isFile(const std::string& path)
{
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

} // namespace

std::string findGmSoundfont()
{
    if (const char* chosen = std::getenv("LIRROSA_SOUNDFONT"); chosen != nullptr && *chosen != '\0')
        return isFile(chosen) ? chosen : std::string();
    if (isFile(kDefaultGmSoundfont))
        return kDefaultGmSoundfont;
    if (isFile(kTimGm6mbSoundfont))
        return kTimGm6mbSoundfont;
    return {};
}

MidiResult SynthEngine::create(bool withAudio, double sampleRate, std::unique_ptr<SynthEngine>& engine)
{
    silenceFluidSynthLog();
    const std::string soundfont = findGmSoundfont();
    if (soundfont.empty())
        return kMidiErrNoSoundfont;

    std::unique_ptr<SynthEngine> made(new SynthEngine());
    made->settings = new_fluid_settings();
    if (made->settings == nullptr)
        return kMidiErrNoMemory;
    fluid_settings_setnum(made->settings, "synth.sample-rate", sampleRate);
    fluid_settings_setstr(made->settings, "audio.driver", "pulseaudio");
    fluid_settings_setstr(made->settings, "audio.pulseaudio.media-role", "music");
    fluid_settings_setint(made->settings, "audio.period-size", kLivePeriodFrames);
    fluid_settings_setint(made->settings, "audio.periods", kLivePeriods);

    made->synth = new_fluid_synth(made->settings);
    if (made->synth == nullptr)
        return kMidiErrSynthFailed;
    if (fluid_synth_sfload(made->synth, soundfont.c_str(), 1) == FLUID_FAILED)
        return kMidiErrBadSoundfont;
    if (withAudio) {
        made->driver = new_fluid_audio_driver(made->settings, made->synth);
        if (made->driver == nullptr)
            return kMidiErrNoSoundServer;
    }
    engine = std::move(made);
    return kMidiOk;
}

SynthEngine::~SynthEngine()
{
    if (driver != nullptr)
        delete_fluid_audio_driver(driver);
    if (synth != nullptr)
        delete_fluid_synth(synth);
    if (settings != nullptr)
        delete_fluid_settings(settings);
}

MidiResult SynthEngine::send(uint32_t message)
{
    const int channel = message & 0x0F;
    const int data1 = (message >> 8) & 0x7F;
    const int data2 = (message >> 16) & 0x7F;
    // FluidSynth's own answers (a note off for a note that no longer sounds, a program
    // the soundfont lacks) are not device failures: the message was delivered.
    switch (message & 0xF0) {
    case 0x80:
        fluid_synth_noteoff(synth, channel, data1);
        break;
    case 0x90:
        fluid_synth_noteon(synth, channel, data1, data2);
        break;
    case 0xA0:
        fluid_synth_key_pressure(synth, channel, data1, data2);
        break;
    case 0xB0:
        fluid_synth_cc(synth, channel, data1, data2);
        break;
    case 0xC0:
        fluid_synth_program_change(synth, channel, data1);
        break;
    case 0xD0:
        fluid_synth_channel_pressure(synth, channel, data1);
        break;
    case 0xE0:
        fluid_synth_pitch_bend(synth, channel, data1 | data2 << 7);
        break;
    default:
        return kMidiErrInvalidParam;
    }
    return kMidiOk;
}

void SynthEngine::render(int frames, float* left, float* right)
{
    fluid_synth_write_float(synth, frames, left, 0, 1, right, 0, 1);
}

MidiResult BuiltInSynthSink::open(std::unique_ptr<MidiSink>& sink)
{
    static std::mutex liveMutex;
    static std::unique_ptr<SynthEngine> live;
    std::lock_guard<std::mutex> guard(liveMutex);
    if (!live) {
        const MidiResult result = SynthEngine::create(true, kLiveSampleRate, live);
        if (result != kMidiOk)
            return result;
    }
    sink.reset(new BuiltInSynthSink(*live));
    return kMidiOk;
}

MidiResult BuiltInSynthSink::send(uint32_t message, int64_t)
{
    return engine.send(message);
}

MidiResult SynthRecorder::create(int sampleRate, std::unique_ptr<SynthRecorder>& recorder)
{
    if (sampleRate < 8000 || sampleRate > 192000)
        return kMidiErrInvalidParam;
    std::unique_ptr<SynthEngine> engine;
    const MidiResult result = SynthEngine::create(false, sampleRate, engine);
    if (result != kMidiOk)
        return result;
    recorder.reset(new SynthRecorder(std::move(engine), sampleRate));
    return kMidiOk;
}

SynthRecorder::SynthRecorder(std::unique_ptr<SynthEngine> engine, int sampleRate)
    : engine(std::move(engine)), rate(sampleRate), left(kRenderChunkFrames), right(kRenderChunkFrames)
{
}

MidiResult SynthRecorder::send(uint32_t message, int64_t timeUs)
{
    renderUntil(timeUs);
    std::lock_guard<std::mutex> guard(mutex);
    return engine->send(message);
}

void SynthRecorder::renderUntil(int64_t timeUs)
{
    std::lock_guard<std::mutex> guard(mutex);
    const int64_t targetFrames = timeUs * rate / 1000000;
    while (static_cast<int64_t>(samples.size()) < targetFrames) {
        const int64_t missing = targetFrames - static_cast<int64_t>(samples.size());
        const int frames = static_cast<int>(std::min<int64_t>(kRenderChunkFrames, missing));
        engine->render(frames, left.data(), right.data());
        for (int i = 0; i < frames; ++i) {
            const float mono = (left[i] + right[i]) * 0.5f * 32767.0f;
            samples.push_back(static_cast<int16_t>(std::clamp(mono, -32768.0f, 32767.0f)));
        }
    }
}

std::vector<int16_t> SynthRecorder::takeSamples()
{
    std::lock_guard<std::mutex> guard(mutex);
    return std::move(samples);
}
