#pragma once
// The built-in General MIDI synthesiser: FluidSynth with Debian's General MIDI soundfont.
// It plays live through the sound server (PulseAudio, or PipeWire's PulseAudio service)
// and can render offline into memory, faster than real time.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/MidiSink.h"

struct _fluid_hashtable_t;
struct _fluid_synth_t;
struct _fluid_audio_driver_t;

// The soundfont the synthesiser loads: the system's default General MIDI soundfont when
// one is installed, else TimGM6mb; empty when neither exists.
std::string findGmSoundfont();

// One FluidSynth instance with the soundfont loaded.
class SynthEngine {
public:
    // withAudio: play through the sound server; otherwise only render() produces sound.
    static MidiResult create(bool withAudio, double sampleRate, std::unique_ptr<SynthEngine>& engine);
    ~SynthEngine();
    SynthEngine(const SynthEngine&) = delete;
    SynthEngine& operator=(const SynthEngine&) = delete;

    // Applies one short message at once.
    MidiResult send(uint32_t message);
    // Renders `frames` sample frames of the two output channels.
    void render(int frames, float* left, float* right);

private:
    SynthEngine() = default;

    _fluid_hashtable_t* settings = nullptr;
    _fluid_synth_t* synth = nullptr;
    _fluid_audio_driver_t* driver = nullptr;
};

// The live synthesiser as a MIDI output. Every sink shares one engine, started on the
// first open and kept for the rest of the run, so that reopening the output between
// playbacks neither reloads the soundfont nor reconnects to the sound server.
class BuiltInSynthSink : public MidiSink {
public:
    static MidiResult open(std::unique_ptr<MidiSink>& sink);
    MidiResult send(uint32_t message, int64_t timeUs) override;

private:
    explicit BuiltInSynthSink(SynthEngine& engine) : engine(engine) {}
    SynthEngine& engine;
};

// Renders short messages offline into 16-bit mono PCM: before a message takes effect,
// the sound up to its time is rendered, so every message lands at its exact sample.
class SynthRecorder {
public:
    static MidiResult create(int sampleRate, std::unique_ptr<SynthRecorder>& recorder);

    MidiResult send(uint32_t message, int64_t timeUs);
    // Renders the sound up to `timeUs` (from time 0).
    void renderUntil(int64_t timeUs);
    int sampleRate() const { return rate; }
    std::vector<int16_t> takeSamples();

private:
    SynthRecorder(std::unique_ptr<SynthEngine> engine, int sampleRate);

    std::mutex mutex;
    std::unique_ptr<SynthEngine> engine;
    int rate;
    std::vector<int16_t> samples;
    std::vector<float> left;
    std::vector<float> right;
};

// A MIDI output that plays into a SynthRecorder.
class SynthRecorderSink : public MidiSink {
public:
    explicit SynthRecorderSink(SynthRecorder& recorder) : recorder(recorder) {}
    MidiResult send(uint32_t message, int64_t timeUs) override { return recorder.send(message, timeUs); }

private:
    SynthRecorder& recorder;
};
