// The whole way round: the example melody is converted to notes, the notes are rendered
// through the built-in synthesiser, and converting the render gives back the same
// pitches in the same order.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "MidiTestSupport.h"
#include "analysis/Tv2m.h"
#include "audio/Wav_func.h"
#include "midi/MidiRender.h"
#include "notes/Tksds.h"

namespace {

// Converts a take as a file take is converted: chunk by chunk, then recognition.
std::vector<uint8_t> recognisedPitches(NoteSequence& notes, const WAVEFORMATEX& format, const uint8_t* data,
                                       uint32_t bytes)
{
    PitchAnalyser analyser;
    analyser.setupParams(notes, &format);
    analyser.begin(&notes, true);
    const uint32_t chunk = audioChunkBytes(format);
    for (uint32_t position = 0; position < bytes && analyser.active; position += chunk)
        analyser.feed(data + position, std::min(chunk, bytes - position));
    analyser.stop();
    std::vector<uint8_t> pitches;
    if (!notes.hasRawFrames())
        return pitches;
    cleanRawTrack(notes);
    if (!recognise(notes, true))
        return pitches;
    for (int32_t i = 0; i < notes.count; ++i)
        pitches.push_back(notes[i].note);
    return pitches;
}

TEST(RenderRoundTrip, ReconvertingARenderGivesBackTheSamePitches)
{
    WAVEFORMATEX format{};
    SampleStore store;
    ASSERT_TRUE(LoadWaveFile(std::string(LIRROSA_SOURCE_DIR) + "/examples/melody.wav", format, store));

    NoteSequence sung;
    songSettings = SongSettings{};
    const std::vector<uint8_t> original = recognisedPitches(sung, format, store.data, store.validCount);
    ASSERT_GE(original.size(), 4u);

    songSettings.patch = 79; // ocarina: a whistle-like tone, as a voice would be whistled
    const std::vector<int16_t> sound = renderPlayback(sung, PlayNotes, 22050);
    ASSERT_FALSE(sound.empty());

    NoteSequence rendered;
    songSettings = SongSettings{};
    const std::vector<uint8_t> again = recognisedPitches(
        rendered, kMicrophoneFormat, reinterpret_cast<const uint8_t*>(sound.data()),
        static_cast<uint32_t>(sound.size() * sizeof(int16_t)));
    EXPECT_EQ(again, original);
}

} // namespace
