// Real sound from the built-in synthesiser: offline renders have the pitch of their
// notes (also when gliding with pitch bends), a missing soundfont is a clear error, and
// live playback reaches the sound server (skipped when no test server is running).

#include <gtest/gtest.h>

#include <pulse/error.h>
#include <pulse/simple.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "../support/ServerRequired.h"
#include "MidiTestSupport.h"
#include "midi/MidiRender.h"

namespace {

constexpr int kRate = 22050;

double rms(const int16_t* samples, size_t count)
{
    double sum = 0;
    for (size_t i = 0; i < count; ++i)
        sum += static_cast<double>(samples[i]) * samples[i];
    return count > 0 ? std::sqrt(sum / static_cast<double>(count)) : 0.0;
}

// The fractional MIDI note of the strongest period (normalised autocorrelation; the
// shortest lag within 10% of the best, so that a lag of two periods does not win).
double pitchOf(const int16_t* samples, size_t count, int rate)
{
    const int minLag = rate / 1100;
    const int maxLag = rate / 55;
    std::vector<double> score(static_cast<size_t>(maxLag + 2), 0.0);
    const size_t window = count - static_cast<size_t>(maxLag) - 1;
    for (int lag = minLag; lag <= maxLag + 1; ++lag) {
        double cross = 0, energyA = 0, energyB = 0;
        for (size_t i = 0; i < window; ++i) {
            cross += static_cast<double>(samples[i]) * samples[i + lag];
            energyA += static_cast<double>(samples[i]) * samples[i];
            energyB += static_cast<double>(samples[i + lag]) * samples[i + lag];
        }
        score[static_cast<size_t>(lag)] = energyA > 0 && energyB > 0 ? cross / std::sqrt(energyA * energyB) : 0;
    }
    double best = 0;
    for (int lag = minLag; lag <= maxLag; ++lag)
        best = std::max(best, score[static_cast<size_t>(lag)]);
    for (int lag = minLag + 1; lag <= maxLag; ++lag) {
        const double s = score[static_cast<size_t>(lag)];
        if (s >= 0.9 * best && s >= score[static_cast<size_t>(lag - 1)] && s >= score[static_cast<size_t>(lag + 1)]) {
            // Parabolic interpolation around the peak for a fractional period.
            const double a = score[static_cast<size_t>(lag - 1)], c = score[static_cast<size_t>(lag + 1)];
            const double shift = (a - c) / (2 * (a - 2 * s + c));
            const double frequency = rate / (lag + (std::isfinite(shift) ? shift : 0));
            return 12 * std::log2(frequency / 440.0) + 69;
        }
    }
    return 0;
}

// The note (36..96) whose frequency carries the most energy over all `chunks`. Unlike a
// period estimate it stays right when the sound has gaps (a loaded machine may let the
// sound server run short of samples for a moment).
int strongestNote(const std::vector<std::vector<int16_t>>& chunks, int rate)
{
    int best = 0;
    double bestPower = -1;
    for (int note = 36; note <= 96; ++note) {
        const double frequency = 440.0 * std::pow(2.0, (note - 69) / 12.0);
        const double coefficient = 2 * std::cos(2 * M_PI * frequency / rate);
        double power = 0;
        for (const std::vector<int16_t>& chunk : chunks) {
            double previous = 0, beforePrevious = 0;
            for (int16_t sample : chunk) {
                const double current = sample + coefficient * previous - beforePrevious;
                beforePrevious = previous;
                previous = current;
            }
            power += previous * previous + beforePrevious * beforePrevious - coefficient * previous * beforePrevious;
        }
        if (power > bestPower) {
            bestPower = power;
            best = note;
        }
    }
    return best;
}

class BuiltInSynthTest : public MidiTest {
protected:
    NoteSequence notes;
};

TEST_F(BuiltInSynthTest, RenderedNotesSoundAtTheirPitch)
{
    songSettings.patch = 73; // flute: nearly a pure tone
    notes.append(NoteEvent{0, 960, 57, 100, 0});   // 1 s of A3
    notes.append(NoteEvent{960, 960, 72, 100, 0}); // 1 s of C5
    const std::vector<int16_t> sound = renderPlayback(notes, PlayNotes, kRate);
    // The notes, then the release time in which the last one dies away.
    const double tail = static_cast<double>(kReleaseTailUs) * kRate / 1e6;
    ASSERT_NEAR(static_cast<double>(sound.size()), 2.0 * kRate + tail, kRate * 0.01);
    EXPECT_GT(rms(sound.data() + 2 * kRate, kRate / 50), 30.0) << "the last note was cut dead";

    const size_t settled = kRate * 3 / 10;
    const size_t span = kRate / 2;
    EXPECT_GT(rms(sound.data() + settled, span), 300.0);
    EXPECT_NEAR(pitchOf(sound.data() + settled, span, kRate), 57.0, 0.25);
    EXPECT_NEAR(pitchOf(sound.data() + kRate + settled, span, kRate), 72.0, 0.25);
}

TEST_F(BuiltInSynthTest, RenderedRawTrackGlidesWithTheSungPitch)
{
    songSettings.patch = 73;
    notes.raw = std::make_unique<RawTrack>(64);
    for (int frame = 0; frame < 40; ++frame) // 1.1 s a quarter tone above E4
        notes.raw->append(RawFrame{frame, 0, 0.0f, 64.5f, 0, nullptr});
    const std::vector<int16_t> sound = renderPlayback(notes, PlayRaw, kRate);
    // The raw track has no note off: the sound ends with the last frame's bend.
    ASSERT_GT(sound.size(), static_cast<size_t>(kRate * 9 / 10));
    EXPECT_NEAR(pitchOf(sound.data() + kRate / 4, kRate / 2, kRate), 64.5, 0.25);
}

TEST_F(BuiltInSynthTest, NothingToPlayRendersNothing)
{
    EXPECT_TRUE(renderPlayback(notes, PlayNotes, kRate).empty());
}

TEST_F(BuiltInSynthTest, AMissingSoundfontIsAClearError)
{
    ASSERT_EQ(setenv("LIRROSA_SOUNDFONT", "/nonexistent/none.sf2", 1), 0);
    notes.append(NoteEvent{0, 480, 60, 100, 0});
    try {
        renderPlayback(notes, PlayNotes, kRate);
        ADD_FAILURE() << "rendering without a soundfont succeeded";
    } catch (const MidiDeviceError& error) {
        EXPECT_NE(std::string(error.what()).find("install timgm6mb-soundfont"), std::string::npos) << error.what();
    }
    unsetenv("LIRROSA_SOUNDFONT");
}

// Records the test server's speaker sink ("spk", see scripts/with-sound-server.sh).
class SpeakerMonitor {
public:
    SpeakerMonitor()
    {
        // Only a server named in the environment: never start one, never record a
        // developer's real speakers.
        if (std::getenv("PULSE_SERVER") == nullptr)
            return;
        const pa_sample_spec sampleSpec{PA_SAMPLE_S16LE, kRate, 1};
        int error = 0;
        stream = pa_simple_new(nullptr, "lirrosa-test", PA_STREAM_RECORD, "spk.monitor", "monitor", &sampleSpec, nullptr,
                               nullptr, &error);
    }
    ~SpeakerMonitor()
    {
        if (stream != nullptr)
            pa_simple_free(stream);
    }
    bool reachable() const { return stream != nullptr; }
    bool read(std::vector<int16_t>& chunk)
    {
        int error = 0;
        return pa_simple_read(stream, chunk.data(), chunk.size() * sizeof(int16_t), &error) == 0;
    }

private:
    pa_simple* stream = nullptr;
};

TEST_F(BuiltInSynthTest, LivePlaybackReachesTheSoundServer)
{
    SpeakerMonitor monitor;
    if (!monitor.reachable()) {
        SKIP_WITHOUT_SERVER_BECAUSE("no test sound server (run through scripts/with-sound-server.sh)");
    }

    RecordingNotifier notifier;
    MessageQueue window;
    MidiOut midi;
    midi.notes = &notes;
    midi.notifyWindow = &window;
    midi.deviceId = kMidiMapper;
    songSettings.patch = 73;
    for (int i = 0; i < 6; ++i)
        notes.append(NoteEvent{i * 480, 440, 69, 110, 0}); // 3 s of A4 repeated

    std::vector<int16_t> chunk(kRate / 10);
    std::vector<std::vector<int16_t>> heard;
    double loudestRms = 0;
    startPlayer(midi, &notes, PlayNotes);
    // At most 8 s of audio: the playback lasts 3 s, plus the server's start-up.
    for (int i = 0; i < 80 && monitor.read(chunk); ++i) {
        const double level = rms(chunk.data(), chunk.size());
        if (level > 50)
            heard.push_back(chunk);
        loudestRms = std::max(loudestRms, level);
        if (heard.size() >= 10 && window.pending() > 0)
            break;
    }
    ASSERT_TRUE(waitForEnd(window));
    ASSERT_TRUE(notifier.boxes().empty()) << notifier.boxes().front().second;
    // The null sink is digital silence until something plays into it.
    ASSERT_GT(loudestRms, 50.0);

    EXPECT_EQ(strongestNote(heard, kRate), 69) << "over " << heard.size() << " chunks";
}

} // namespace
