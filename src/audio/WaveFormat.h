#pragma once
// The wave format record shared by the engine, the wave devices and the window: the
// 18-byte format block of a wave file, kept in memory with 2 spare bytes (20 bytes in
// all), with field names after the record of the sound services it is handed to; and
// the size of the audio chunk in which takes are recorded, played and analysed.

#include <cstdint>

struct WAVEFORMATEX {
    uint16_t wFormatTag = 0;      // 1 = PCM
    uint16_t nChannels = 0;
    uint32_t nSamplesPerSec = 0;
    uint32_t nAvgBytesPerSec = 0; // block align x sample rate
    uint16_t nBlockAlign = 0;     // bytes per sample frame, all channels
    uint16_t wBitsPerSample = 0;
    uint16_t cbSize = 0;          // format bytes after this record; always 0 here
};
static_assert(sizeof(WAVEFORMATEX) == 20, "format record is 18 bytes plus 2 spare");

constexpr uint16_t WAVE_FORMAT_PCM = 1;

// The microphone format: PCM, mono, 22050 Hz, 16 bits.
constexpr WAVEFORMATEX kMicrophoneFormat{WAVE_FORMAT_PCM, 1, 22050, 44100, 2, 16, 0};

// Bytes in one audio chunk of a little more than 28 ms: a whole number of sample frames
// (1236 for the microphone format). A format without a block align counts 1-byte frames.
uint32_t audioChunkBytes(const WAVEFORMATEX& format);

// The duration of one analysis frame, that is of one audio chunk (audioChunkBytes): its
// whole sample frames over the sample rate, 618 / 22050 s (28.027 ms) for the microphone.
// Kept as that ratio so that conversions to ticks and milliseconds stay exact. Without a
// known format (no take yet) a frame counts as the nominal 28 ms.
struct FrameDuration {
    uint32_t samples = 28;
    uint32_t rate = 1000;

    double milliseconds() const { return samples * 1000.0 / rate; }
};

// The frame duration of takes in `format`; the nominal one for a format without a rate.
FrameDuration frameDuration(const WAVEFORMATEX& format);
