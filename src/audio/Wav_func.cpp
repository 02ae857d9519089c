#include "audio/Wav_func.h"

#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The largest store a file may need; positions into the store stay within int32.
constexpr uint64_t kMaxStoreBytes = 0x7FFFFFFF;

// Bytes before the samples in a canonical file; the store is the file size less these.
constexpr int64_t kCanonicalHeaderBytes = 44;
constexpr int64_t kMinWaveFileBytes = 48;
constexpr uint32_t kMaxFormatChunkBytes = 20;
constexpr off_t kSkippedDataBytes = 16;
constexpr size_t kWrittenHeaderBytes = 46;

uint16_t readLe16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t readLe32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

uint8_t* putLe16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    return p + 2;
}

uint8_t* putLe32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
    return p + 4;
}

uint8_t* putTag(uint8_t* p, const char* tag, size_t length)
{
    std::memcpy(p, tag, length);
    return p + length;
}

// Reads until `size` bytes are in or the file ends; -1 on a read error.
ssize_t readFully(int fd, uint8_t* buffer, size_t size)
{
    size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, buffer + got, size - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        got += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

bool readExactly(int fd, uint8_t* buffer, size_t size)
{
    return readFully(fd, buffer, size) == static_cast<ssize_t>(size);
}

// Opens an existing regular file for reading; -1 for anything else (a folder, a pipe
// that would block, a device).
int openRegularFile(const std::string& name)
{
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return -1;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

WAVEFORMATEX decodeFormatRecord(const uint8_t* record)
{
    WAVEFORMATEX format;
    format.wFormatTag = readLe16(record);
    format.nChannels = readLe16(record + 2);
    format.nSamplesPerSec = readLe32(record + 4);
    format.nAvgBytesPerSec = readLe32(record + 8);
    format.nBlockAlign = readLe16(record + 12);
    format.wBitsPerSample = readLe16(record + 14);
    format.cbSize = 0;
    return format;
}

// Checks the header of the open file and leaves it at the first sample byte to read.
WaveRefusal checkWaveHeader(int fd, int64_t& size, WAVEFORMATEX& format)
{
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return WaveRefusal::ReadFailed;
    size = info.st_size;
    if (size < kMinWaveFileBytes)
        return WaveRefusal::TooShort;

    // The "RIFF" tag and the RIFF size are not examined.
    if (::lseek(fd, 8, SEEK_SET) < 0)
        return WaveRefusal::ReadFailed;
    uint8_t tags[8];
    if (!readExactly(fd, tags, sizeof tags))
        return WaveRefusal::ReadFailed;
    if (std::memcmp(tags, "WAVEfmt ", 8) != 0)
        return WaveRefusal::NotWaveFmt;

    uint8_t sizeField[4];
    if (!readExactly(fd, sizeField, sizeof sizeField))
        return WaveRefusal::ReadFailed;
    const uint32_t formatChunkBytes = readLe32(sizeField);
    if (formatChunkBytes > kMaxFormatChunkBytes)
        return WaveRefusal::FormatChunkTooLong;

    uint8_t record[kMaxFormatChunkBytes] = {};
    if (!readExactly(fd, record, formatChunkBytes))
        return WaveRefusal::ReadFailed;
    const WAVEFORMATEX found = decodeFormatRecord(record);
    if (found.wFormatTag != WAVE_FORMAT_PCM)
        return WaveRefusal::NotPcm;
    if (found.nBlockAlign == 0)
        return WaveRefusal::ZeroBlockAlign;
    if (found.nBlockAlign != static_cast<uint32_t>(found.nChannels) * found.wBitsPerSample / 8)
        return WaveRefusal::BlockAlignMismatch;

    // The data chunk's own length is not used: the samples run to the end of the file.
    if (!readExactly(fd, tags, sizeof tags))
        return WaveRefusal::ReadFailed;
    if (std::memcmp(tags, "data", 4) != 0)
        return WaveRefusal::NoDataTag;
    if (::lseek(fd, kSkippedDataBytes, SEEK_CUR) < 0)
        return WaveRefusal::ReadFailed;

    format = found;
    return WaveRefusal::None;
}

void report(WaveRefusal* why, WaveRefusal refusal)
{
    if (why != nullptr)
        *why = refusal;
}

} // namespace

SampleStore::~SampleStore()
{
    release();
}

bool SampleStore::allocate(uint32_t bytes)
{
    release();
    if (bytes == 0)
        return true;
    data = static_cast<uint8_t*>(std::calloc(bytes, 1));
    if (data == nullptr)
        return false;
    capacity = bytes;
    return true;
}

void SampleStore::release()
{
    std::free(data);
    data = nullptr;
    capacity = 0;
    validCount = 0;
}

const char* describeWaveRefusal(WaveRefusal why)
{
    switch (why) {
    case WaveRefusal::None:
        return "the file is a usable wave file";
    case WaveRefusal::CannotOpen:
        return "the file cannot be opened (it does not exist, may not be read, or is not a regular file)";
    case WaveRefusal::TooShort:
        return "the file is too short to be a wave file (under 48 bytes)";
    case WaveRefusal::NotWaveFmt:
        return "the file is not a wave file (\"WAVEfmt \" is missing at byte 8)";
    case WaveRefusal::FormatChunkTooLong:
        return "the format chunk is longer than 20 bytes (re-save the file as plain 8-bit or 16-bit PCM)";
    case WaveRefusal::NotPcm:
        return "the samples are not uncompressed PCM (re-save the file as 8-bit or 16-bit PCM)";
    case WaveRefusal::ZeroBlockAlign:
        return "the format chunk gives a block align of 0 bytes per sample frame";
    case WaveRefusal::BlockAlignMismatch:
        return "the format chunk's block align does not match its channels and sample size";
    case WaveRefusal::NoDataTag:
        return "the \"data\" chunk does not follow the format chunk (re-save the file without metadata chunks)";
    case WaveRefusal::ReadFailed:
        return "the file could not be read, or is too large to load (over 2 GB)";
    }
    return "the file is not a usable wave file";
}

int OpenWaveFile(const std::string& name, WAVEFORMATEX& format, int64_t& status, WaveRefusal* why)
{
    status = -1;
    const int fd = openRegularFile(name);
    if (fd < 0) {
        report(why, WaveRefusal::CannotOpen);
        return -1;
    }
    const WaveRefusal refusal = checkWaveHeader(fd, status, format);
    report(why, refusal);
    if (refusal != WaveRefusal::None) {
        ::close(fd);
        status = refusal == WaveRefusal::NotPcm ? -2 : -1;
        return -1;
    }
    return fd;
}

bool LoadWaveFile(const std::string& name, WAVEFORMATEX& format, SampleStore& store, WaveRefusal* why)
{
    WAVEFORMATEX found;
    int64_t size = -1;
    const int fd = OpenWaveFile(name, found, size, why);
    if (fd < 0)
        return false;
    const uint64_t storeBytes = static_cast<uint64_t>(size - kCanonicalHeaderBytes);
    if (storeBytes > kMaxStoreBytes) {
        ::close(fd);
        report(why, WaveRefusal::ReadFailed);
        return false;
    }

    format = found;
    if (!store.allocate(static_cast<uint32_t>(storeBytes))) {
        ::close(fd);
        report(why, WaveRefusal::ReadFailed);
        return false;
    }
    const ssize_t got = readFully(fd, store.data, store.capacity);
    ::close(fd);
    if (got < 0) {
        report(why, WaveRefusal::ReadFailed);
        return false;
    }
    store.validCount = static_cast<uint32_t>(got);
    return true;
}

bool WriteWaveFile(const std::string& name, const WAVEFORMATEX& format, uint32_t dataSize, const uint8_t* data)
{
    if (data == nullptr && dataSize > 0)
        return false;
    uint8_t header[kWrittenHeaderBytes];
    uint8_t* p = putTag(header, "RIFF", 4);
    p = putLe32(p, dataSize + 38);
    p = putTag(p, "WAVEfmt ", 8);
    p = putLe32(p, 18);
    p = putLe16(p, format.wFormatTag);
    p = putLe16(p, format.nChannels);
    p = putLe32(p, format.nSamplesPerSec);
    p = putLe32(p, format.nAvgBytesPerSec);
    p = putLe16(p, format.nBlockAlign);
    p = putLe16(p, format.wBitsPerSample);
    p = putLe16(p, 0);
    p = putTag(p, "data", 4);
    putLe32(p, dataSize);

    AtomicFile file;
    if (!file.create(name))
        return false;
    if (!file.write(header, sizeof header) || !file.write(data, dataSize) || !file.commit())
        throw WaveWriteError();
    return true;
}
