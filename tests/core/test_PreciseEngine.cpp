// The precise engine on whole takes: melodies in several input formats, repeated notes,
// vibrato, a singer who drifts out of tune, silence, and a note too long for one event.

#include "analysis/PreciseEngine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

#include "../support/Synth.h"
#include "audio/Wav_func.h"

namespace {

struct Take {
    WAVEFORMATEX format;
    std::vector<uint8_t> bytes;
};

// Encodes 16-bit mono samples in `format` (8 or 16 bits, one or two channels).
Take encode(const std::vector<int16_t>& samples, uint32_t rate, uint16_t channels, uint16_t bits)
{
    const auto align = static_cast<uint16_t>(channels * bits / 8);
    Take take{WAVEFORMATEX{WAVE_FORMAT_PCM, channels, rate, rate * align, align, bits, 0}, {}};
    for (int16_t s : samples) {
        for (uint16_t c = 0; c < channels; ++c) {
            if (bits == 8) {
                take.bytes.push_back(static_cast<uint8_t>(128 + s / 256));
            } else {
                take.bytes.push_back(static_cast<uint8_t>(s & 0xff));
                take.bytes.push_back(static_cast<uint8_t>((s >> 8) & 0xff));
            }
        }
    }
    return take;
}

// A voice-like tone whose pitch and amplitude follow the given curves.
std::vector<int16_t> sing(uint32_t rate, double seconds, const std::function<double(double)>& pitchAt,
                          const std::function<double(double)>& amplitudeAt)
{
    std::vector<int16_t> out(static_cast<size_t>(seconds * rate));
    double phase = 0;
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = static_cast<double>(i) / rate;
        phase += 2 * M_PI * synth::midiToHertz(pitchAt(t)) / rate;
        const double v = std::sin(phase) + 0.5 * std::sin(2 * phase) + 0.3 * std::sin(3 * phase);
        out[i] = static_cast<int16_t>(std::lround(9000 * amplitudeAt(t) * v));
    }
    return out;
}

class PreciseEngine : public ::testing::Test {
protected:
    void SetUp() override { saved = songSettings; }
    void TearDown() override { songSettings = saved; }

    bool transcribe(const Take& take)
    {
        notes.params.format = &take.format;
        notes.params.fullScale = static_cast<float>(1 << take.format.wBitsPerSample);
        return transcribeTake(notes, take.bytes.data(), static_cast<uint32_t>(take.bytes.size()));
    }

    double seconds(int32_t ticks) const { return ticks * 60.0 / (songSettings.recordTempo * songSettings.tpqn); }

    std::vector<int> noteNumbers() const
    {
        std::vector<int> numbers;
        for (int32_t i = 0; i < notes.count; ++i)
            numbers.push_back(notes[i].note);
        return numbers;
    }

    SongSettings saved;
    NoteSequence notes;
};

TEST_F(PreciseEngine, FindsTheMelodyWithItsTimesInEveryInputFormat)
{
    const std::vector<synth::Note> tune = {{55, 0.45}, {57, 0.3}, {59, 0.45}, {62, 0.6}, {64, 0.3}, {60, 0.9}};
    struct Format {
        uint32_t rate;
        uint16_t channels, bits;
    };
    for (const Format f : {Format{22050, 1, 16}, Format{44100, 2, 16}, Format{8000, 1, 8}}) {
        SCOPED_TRACE(testing::Message() << f.rate << " Hz, " << f.channels << " channels, " << f.bits << " bits");
        const Take take = encode(synth::melody(tune, static_cast<int>(f.rate)), f.rate, f.channels, f.bits);
        ASSERT_TRUE(transcribe(take));
        ASSERT_EQ(noteNumbers(), (std::vector<int>{55, 57, 59, 62, 64, 60}));
        double onset = 0;
        for (int32_t i = 0; i < notes.count; ++i) {
            EXPECT_NEAR(seconds(notes[i].start), onset, 0.03) << "note " << i;
            EXPECT_NEAR(seconds(notes[i].duration), tune[i].seconds, 0.05) << "note " << i;
            EXPECT_GE(notes[i].velocity, 61);
            EXPECT_LE(notes[i].velocity, 123);
            EXPECT_LE(std::abs(notes[i].cents), 15);
            onset += tune[i].seconds + 0.07;
        }
        EXPECT_TRUE(notes.recognised);
        EXPECT_GT(notes.noteDivision, 0);
        EXPECT_EQ(notes.medianOctave, 4);
        EXPECT_EQ(songSettings.suggestedShift, notes.octaveShift);

        // The raw track lies on the take's frame grid, voiced where the notes are.
        const double frameSeconds = frameDuration(take.format).milliseconds() / 1000;
        const auto frames = static_cast<int32_t>(onset / frameSeconds);
        ASSERT_GT(notes.raw->count, frames * 3 / 4);
        for (int32_t i = 0; i < notes.raw->count; ++i) {
            const RawFrame& r = (*notes.raw)[i];
            ASSERT_TRUE(i == 0 || r.frame > (*notes.raw)[i - 1].frame);
            ASSERT_LE(r.frame, frames + 1);
            ASSERT_GT(r.level, 0);
            ASSERT_LE(r.level, notes.maxLevel);
            ASSERT_GE(r.pitch, 54.5f);
            ASSERT_LE(r.pitch, 64.5f);
        }
    }
}

TEST_F(PreciseEngine, ANewSyllableSplitsARepeatedNoteButVibratoDoesNot)
{
    // 1.2 s on one pitch with a 50 ms dip of 14 dB at 0.6 s, as a voiced consonant makes.
    const auto dip = [](double t) { return t > 0.6 && t < 0.65 ? 0.2 : std::fmin(1.0, (1.2 - t) / 0.05); };
    ASSERT_TRUE(transcribe(encode(sing(22050, 1.2, [](double) { return 57.0; }, dip), 22050, 1, 16)));
    ASSERT_EQ(noteNumbers(), (std::vector<int>{57, 57}));
    EXPECT_NEAR(seconds(notes[1].start), 0.63, 0.04);

    // Wide vibrato (half a semitone each way) on one long note stays one note.
    const auto vibrato = [](double t) { return 64.0 + 0.5 * std::sin(2 * M_PI * 5.5 * t); };
    ASSERT_TRUE(transcribe(encode(sing(22050, 2.0, vibrato, [](double) { return 1.0; }), 22050, 1, 16)));
    EXPECT_EQ(noteNumbers(), (std::vector<int>{64}));
}

TEST_F(PreciseEngine, KeepsTheIntervalsOfASingerWhoDrifts)
{
    // A scale up and down, sung 20 s long while the voice drifts 0.7 semitone sharp.
    const std::vector<int> scale = {60, 62, 64, 65, 67, 65, 64, 62};
    const double length = 0.5;
    const auto pitchAt = [&](double t) {
        return scale[static_cast<size_t>(t / length) % scale.size()] + 0.7 * t / 20.0;
    };
    const auto amplitude = [&](double t) {
        const double inNote = std::fmod(t, length);
        return inNote > length - 0.06 ? 0.0 : std::fmin(1.0, inNote / 0.03);
    };
    ASSERT_TRUE(transcribe(encode(sing(22050, 20.0, pitchAt, amplitude), 22050, 1, 16)));
    ASSERT_EQ(notes.count, 40);
    for (int32_t i = 1; i < notes.count; ++i)
        EXPECT_EQ(notes[i].note - notes[i - 1].note, scale[i % scale.size()] - scale[(i - 1) % scale.size()])
            << "note " << i;
}

TEST_F(PreciseEngine, SilenceGivesNoNotesAndATakeWithoutFormatNothing)
{
    const Take silence = encode(std::vector<int16_t>(22050, 0), 22050, 1, 16);
    EXPECT_FALSE(transcribe(silence));
    EXPECT_EQ(notes.count, 0);
    EXPECT_EQ(notes.raw->count, 0);
    EXPECT_FALSE(notes.recognised);

    notes.params.format = nullptr;
    EXPECT_FALSE(transcribeTake(notes, silence.bytes.data(), static_cast<uint32_t>(silence.bytes.size())));
}

TEST_F(PreciseEngine, ANoteTooLongForOneEventIsSplitIntoPiecesOfTheSameLength)
{
    songSettings.tpqn = 960; // 36 s are 69120 ticks
    const auto sustain = [](double t) { return std::fmin(1.0, (36.0 - t) / 0.05); };
    ASSERT_TRUE(transcribe(encode(sing(8000, 36.0, [](double) { return 52.0; }, sustain), 8000, 1, 16)));
    ASSERT_EQ(notes.count, 3);
    int32_t total = 0;
    for (int32_t i = 0; i < notes.count; ++i) {
        EXPECT_EQ(notes[i].note, 52);
        EXPECT_EQ(notes[i].start, notes[0].start + total);
        total += notes[i].duration;
    }
    EXPECT_NEAR(seconds(total), 36.0, 0.05);
}

} // namespace
