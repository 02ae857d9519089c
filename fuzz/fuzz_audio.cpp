// Feeds arbitrary bytes to the audio-file loader (the wave reader, then libsndfile) as a
// file on disk and checks what it accepts: a refusal gives a reason, and a loaded take
// has a usable format and whole sample frames; a decoded one is 16-bit mono or stereo.

#include "ScratchFile.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "audio/AudioFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const ScratchFile scratch("/tmp/fuzz_audio-XXXXXX");
    scratch.fill(data, size);

    WAVEFORMATEX format;
    SampleStore store;
    WaveRefusal why = WaveRefusal::None;
    AudioLoad load;
    const bool loaded = LoadAudioFile(scratch.path, format, store, &why, &load);
    check(std::strlen(describeWaveRefusal(why)) > 0);
    if (!loaded) {
        check(why != WaveRefusal::None && store.data == nullptr);
        return 0;
    }

    check(why == WaveRefusal::None && format.wFormatTag == WAVE_FORMAT_PCM && format.nBlockAlign != 0);
    check(store.validCount <= store.capacity);
    if (load.decoded) {
        check(format.wBitsPerSample == 16 && (format.nChannels == 1 || format.nChannels == 2));
        check(format.nBlockAlign == 2 * format.nChannels);
        check(format.nSamplesPerSec >= 4000 && format.nSamplesPerSec <= 192000);
        check(format.nAvgBytesPerSec == format.nSamplesPerSec * format.nBlockAlign);
        check(store.validCount % format.nBlockAlign == 0);
    }
    check(audioChunkBytes(format) > 0);
    return 0;
}
