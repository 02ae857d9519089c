#pragma once
// Audio files of any common kind (WAV of every width, AIFF, FLAC, Ogg Vorbis and Opus,
// MP3) read into the sample store of a take. A wave file the plain reader accepts is
// read by it unchanged; any other file is decoded to 16-bit PCM.

#include <string>

#include "audio/Wav_func.h"

// How a file was loaded.
struct AudioLoad {
    bool decoded = false; // false: read as it stands by LoadWaveFile
    bool cut = false;     // the file was longer than the store and only its start was kept
};

// Reads `name` into `store` and sets `format`. A wave file LoadWaveFile accepts is read by
// it; any other file is decoded at its own rate and channel count (more than two channels
// are mixed to mono), resampled to 22050 Hz only when its rate lies outside 4000 to
// 192000 Hz, and cut at the store's limit. On refusal `format` and `store` are left as
// they were and `why` says why.
bool LoadAudioFile(const std::string& name, WAVEFORMATEX& format, SampleStore& store, WaveRefusal* why = nullptr,
                   AudioLoad* load = nullptr);

// Reads `name` into `store` in `wanted`, a 16-bit PCM format of one or two channels: a
// file already in it as LoadAudioFile reads it, any other decoded, its channels mixed
// to one when `wanted` is mono, and resampled to `wanted`'s rate.
bool LoadAudioFileInFormat(const std::string& name, const WAVEFORMATEX& wanted, SampleStore& store,
                           WaveRefusal* why = nullptr, AudioLoad* load = nullptr);

// The text shown when a file was cut at the store's limit.
std::string audioCutMessage(const std::string& name);
