#include "audio/WaveFormat.h"

#include <algorithm>

uint32_t audioChunkBytes(const WAVEFORMATEX& format)
{
    const uint64_t align = std::max<uint64_t>(format.nBlockAlign, 1);
    const uint64_t bytesPerSecond =
        static_cast<uint64_t>(format.wBitsPerSample / 8) * format.nSamplesPerSec * format.nChannels;
    // x * 28 / 1000 == x * 7 / 250 exactly, and x * 7 cannot overflow 64 bits here.
    const uint64_t framesBytes = bytesPerSecond * 7 / 250;
    const uint64_t chunk = align * (framesBytes / align + 1);
    if (chunk > UINT32_MAX)
        return static_cast<uint32_t>(UINT32_MAX / align * align);
    return static_cast<uint32_t>(chunk);
}


FrameDuration frameDuration(const WAVEFORMATEX& format)
{
    if (format.nSamplesPerSec == 0)
        return FrameDuration{};
    const uint32_t align = std::max<uint32_t>(format.nBlockAlign, 1);
    return FrameDuration{audioChunkBytes(format) / align, format.nSamplesPerSec};
}
