#pragma once
// Wave files: reading a PCM wave file whole into the sample store of a take, and writing
// a take back as a wave file.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "audio/WaveFormat.h"

// Sample store of a take: one contiguous byte buffer, its capacity and the count of
// valid bytes in it.
struct SampleStore {
    uint8_t* data = nullptr;
    uint32_t capacity = 0;
    uint32_t validCount = 0;

    SampleStore() = default;
    ~SampleStore();
    SampleStore(const SampleStore&) = delete;
    SampleStore& operator=(const SampleStore&) = delete;

    // Replaces the buffer by a zero-filled one of `bytes` bytes; false (and an empty
    // store) when the memory cannot be had.
    bool allocate(uint32_t bytes);
    void release();
};

// Why a file was not accepted as a wave file.
enum class WaveRefusal { None, CannotOpen, TooShort, NotWaveFmt, FormatChunkTooLong, NotPcm, ZeroBlockAlign, BlockAlignMismatch, NoDataTag, ReadFailed };

// The reason as a phrase for users, e.g. "the file is too short to be a wave file".
const char* describeWaveRefusal(WaveRefusal why);

// Opens a wave file and checks its header. On success returns the open descriptor,
// positioned at the first sample byte to read, fills `format` and sets `status` to the
// file size. On refusal returns -1 with `status` -1, or -2 for a format that is not PCM,
// and leaves `format` untouched.
int OpenWaveFile(const std::string& name, WAVEFORMATEX& format, int64_t& status, WaveRefusal* why = nullptr);

// Reads a whole wave file into `store` (capacity file size - 44, valid count the bytes
// read). A file refused by its header, or too large to load, leaves `format` and `store`
// as they were; a failed read of the samples leaves an empty store.
bool LoadWaveFile(const std::string& name, WAVEFORMATEX& format, SampleStore& store, WaveRefusal* why = nullptr);

// The error of a write that failed after the file was created.
class WaveWriteError : public std::runtime_error {
public:
    WaveWriteError() : std::runtime_error("Write Error") {}
};

// Writes a complete wave file (46-byte header, then the samples). The file appears only
// once every byte is on disk; until then an existing file of that name stays as it was.
// Returns false when the file cannot be created; throws WaveWriteError when a later
// step fails, leaving nothing behind.
bool WriteWaveFile(const std::string& name, const WAVEFORMATEX& format, uint32_t dataSize, const uint8_t* data);
