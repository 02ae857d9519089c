// Feeds arbitrary bytes to the wave-file reader as a file on disk and checks what it
// accepts: the store is sized from the file, holds exactly the file's bytes from the
// seventeenth data byte on, and the chunk size is a whole number of sample frames.

#include "ScratchFile.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "audio/Wav_func.h"

namespace {

uint32_t le32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const ScratchFile scratch("/tmp/fuzz_wav-XXXXXX");
    scratch.fill(data, size);

    WAVEFORMATEX format;
    SampleStore store;
    WaveRefusal why = WaveRefusal::None;
    const bool loaded = LoadWaveFile(scratch.path, format, store, &why);
    check(std::strlen(describeWaveRefusal(why)) > 0);
    if (!loaded) {
        check(why != WaveRefusal::None);
        return 0;
    }

    check(why == WaveRefusal::None && size >= 48);
    check(format.wFormatTag == WAVE_FORMAT_PCM && format.nBlockAlign != 0 && format.cbSize == 0);
    check(store.capacity == size - 44);
    // The samples start 16 bytes into the data chunk and run to the end of the file.
    const size_t first = 44 + le32(data + 16);
    const size_t expected = size > first ? size - first : 0;
    check(store.validCount == expected);
    check(expected == 0 || std::memcmp(store.data, data + first, expected) == 0);
    for (uint32_t i = store.validCount; i < store.capacity; ++i)
        check(store.data[i] == 0);

    const uint32_t chunk = audioChunkBytes(format);
    check(chunk > 0 && chunk % format.nBlockAlign == 0);
    return 0;
}
