#include "audio/Wav_func.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

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

std::atomic<unsigned> temporaryCounter{0};

std::string folderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseNameOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A symbolic link is written through: the file it points at is replaced.
std::string resolveLink(const std::string& path)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
        return path;
    char* real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr)
        return path;
    std::string resolved(real);
    std::free(real);
    return resolved;
}

// GNU and XSI strerror_r differ in their result; both fill or return the text.
[[maybe_unused]] const char* errorText(int, const char* buffer)
{
    return buffer;
}

[[maybe_unused]] const char* errorText(const char* text, const char*)
{
    return text;
}

// The text of the latest failed system call; one buffer for the whole program.
std::mutex lastErrorMutex;
char lastErrorText[299];

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

void CheckSystemCall(bool ok)
{
    if (ok)
        return;
    const std::string text = systemErrorText(errno);
    std::lock_guard<std::mutex> lock(lastErrorMutex);
    std::snprintf(lastErrorText, sizeof lastErrorText, "%s", text.c_str());
    throw SystemCallError(lastErrorText);
}

std::string systemErrorText(int code)
{
    char buffer[sizeof lastErrorText];
    buffer[0] = '\0';
    return errorText(::strerror_r(code, buffer, sizeof buffer), buffer);
}

AtomicFile::~AtomicFile()
{
    discard();
}

bool AtomicFile::create(const std::string& path)
{
    discard();
    error_ = 0;
    if (path.empty() || path.back() == '/') {
        error_ = path.empty() ? ENOENT : EISDIR;
        return false;
    }
    target_ = resolveLink(path);
    struct stat existing {};
    const bool exists = ::stat(target_.c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode)) {
        error_ = S_ISDIR(existing.st_mode) ? EISDIR : EINVAL;
        return false;
    }
    if (exists && ::access(target_.c_str(), W_OK) != 0) {
        error_ = errno;
        return false;
    }

    const std::string stem = folderOf(target_) + "/." + baseNameOf(target_).substr(0, 100) + "." +
                             std::to_string(::getpid()) + "-";
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        const std::string candidate = stem + std::to_string(temporaryCounter++) + ".tmp";
        fd_ = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ >= 0)
            temporary_ = candidate;
        else if (errno != EEXIST)
            break;
    }
    if (fd_ < 0) {
        error_ = errno;
        return false;
    }
    if (exists)
        ::fchmod(fd_, existing.st_mode & 07777);
    return true;
}

bool AtomicFile::write(const void* bytes, size_t size)
{
    const uint8_t* p = static_cast<const uint8_t*>(bytes);
    while (size > 0) {
        const ssize_t n = ::write(fd_, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            errno = ENOSPC;
        if (n <= 0)
            return fail();
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool AtomicFile::commit()
{
    if (fd_ < 0 || ::fsync(fd_) != 0)
        return fail();
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0)
        return fail();
    if (::rename(temporary_.c_str(), target_.c_str()) != 0)
        return fail();
    temporary_.clear();
    // Make the rename itself durable; a folder that cannot be synced changes nothing.
    const int folder = ::open(folderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}

bool AtomicFile::fail()
{
    error_ = errno != 0 ? errno : EIO;
    discard();
    return false;
}

void AtomicFile::discard()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    if (!temporary_.empty())
        ::unlink(temporary_.c_str());
    temporary_.clear();
}
