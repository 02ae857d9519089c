#include "analysis/PreciseEngine.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "analysis/NoteTracker.h"
#include "analysis/ProbabilisticYin.h"
#include "notes/Tksds.h"

namespace {

constexpr int32_t kMaxNoteTicks = 32767;

// The take's samples as mono values in [-1, 1]; the channels are averaged.
std::vector<float> decodeSamples(const WAVEFORMATEX& format, const uint8_t* data, uint32_t bytes)
{
    const uint32_t channels = std::max<uint32_t>(format.nChannels, 1);
    const uint32_t width = format.wBitsPerSample / 8;
    const uint32_t frameBytes = channels * width;
    const uint32_t count = frameBytes > 0 ? bytes / frameBytes : 0;
    std::vector<float> samples(count);
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* at = data + static_cast<size_t>(i) * frameBytes;
        float sum = 0;
        for (uint32_t c = 0; c < channels; ++c, at += width) {
            if (width == 1)
                sum += (static_cast<float>(at[0]) - 128.0f) / 128.0f;
            else
                sum += static_cast<float>(static_cast<int16_t>(at[0] | (at[1] << 8))) / 32768.0f;
        }
        samples[i] = sum / static_cast<float>(channels);
    }
    return samples;
}

// One raw frame per frame of the take whose hop frames are mostly voiced, with their
// median frequency and mean level in sample units.
void fillRawTrack(NoteSequence& notes, const PitchTrack& track, FrameDuration frame, uint32_t sampleCount)
{
    notes.raw = std::make_unique<RawTrack>(100);
    notes.maxLevel = 0;
    const double halfScale = notes.params.fullScale / 2;
    const double frameSeconds = static_cast<double>(frame.samples) / frame.rate;
    const int32_t frames = static_cast<int32_t>((sampleCount + frame.samples - 1) / frame.samples);
    std::vector<float> voiced;
    size_t hop = 0;
    for (int32_t k = 0; k < frames; ++k) {
        const double end = (k + 1) * frameSeconds;
        voiced.clear();
        size_t inside = 0;
        double levels = 0;
        for (; hop < track.frames.size() && (hop + 0.5) * track.hopSeconds < end; ++hop, ++inside) {
            levels += track.frames[hop].level;
            if (track.frames[hop].hertz > 0)
                voiced.push_back(track.frames[hop].hertz);
        }
        if (inside == 0 || voiced.size() * 2 < inside)
            continue;
        std::nth_element(voiced.begin(), voiced.begin() + voiced.size() / 2, voiced.end());
        const float hertz = voiced[voiced.size() / 2];
        const double level = std::min(levels / inside * halfScale, static_cast<double>(notes.params.fullScale));
        const auto rounded = static_cast<int16_t>(std::min(level, 32767.0));
        if (notes.raw->append(RawFrame{k, 0, hertz, hertzToPitch(hertz), rounded, nullptr}))
            notes.maxLevel = std::max<int32_t>(notes.maxLevel, rounded);
    }
}

// Appends a note of `total` ticks, in equal adjacent pieces when it is too long for one.
void appendNote(NoteSequence& notes, NoteEvent note, int32_t total)
{
    const int32_t pieces = (total + kMaxNoteTicks - 1) / kMaxNoteTicks;
    for (int32_t p = 0; p < pieces; ++p) {
        note.duration = static_cast<int16_t>(total / pieces + (p < total % pieces ? 1 : 0));
        if (!notes.append(note))
            return;
        note.start += note.duration;
    }
}

void fillNotes(NoteSequence& notes, const std::vector<TrackedNote>& tracked)
{
    const double ticksPerSecond = songSettings.recordTempo * static_cast<double>(songSettings.tpqn) / 60;
    float loudest = 0;
    for (const TrackedNote& t : tracked)
        loudest = std::max(loudest, t.peakLevel);
    int32_t previousEnd = 0;
    for (const TrackedNote& t : tracked) {
        const auto start = std::max(static_cast<int32_t>(std::lround(t.startSeconds * ticksPerSecond)), previousEnd);
        const auto end = std::max(static_cast<int32_t>(std::lround(t.endSeconds * ticksPerSecond)), start + 1);
        const float fraction = t.pitch - std::trunc(t.pitch);
        if (fraction > 0.42f && fraction < 0.59f)
            ++notes.nearHalfCount;
        NoteEvent note{};
        note.start = start;
        note.note = static_cast<uint8_t>(t.note);
        note.cents = static_cast<int8_t>(std::clamp(static_cast<int>((t.pitch - t.note) * 100), -41, 58));
        note.velocity = noteVelocity(static_cast<int32_t>(t.peakLevel * 1000), static_cast<int32_t>(loudest * 1000));
        appendNote(notes, note, end - start);
        previousEnd = end;
    }
}

} // namespace

bool transcribeTake(NoteSequence& notes, const uint8_t* data, uint32_t bytes)
{
    notes.clear();
    notes.nearHalfCount = 0;
    notes.recognised = false;
    const WAVEFORMATEX* format = notes.params.format;
    if (format == nullptr || format->nSamplesPerSec == 0)
        return false;
    const std::vector<float> samples = decodeSamples(*format, data, bytes);
    const PitchTrack track = trackPitch(samples, format->nSamplesPerSec);
    fillRawTrack(notes, track, frameDuration(*format), static_cast<uint32_t>(samples.size()));
    fillNotes(notes, trackNotes(track));
    if (notes.count == 0)
        return false;
    computeSummary(notes);
    notes.recognised = true;
    return true;
}
