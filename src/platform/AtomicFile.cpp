#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>

namespace {

const FileWriteSteps kSystemSteps{::write, ::fsync, ::rename};
FileWriteSteps steps = kSystemSteps;

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

} // namespace

void setFileWriteSteps(const FileWriteSteps& replacement)
{
    steps = replacement;
}

void restoreFileWriteSteps()
{
    steps = kSystemSteps;
}

AtomicFile::~AtomicFile()
{
    discard();
}

bool AtomicFile::create(const std::string& path, mode_t newFileMode)
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
        fd_ = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, newFileMode);
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
        const ssize_t n = steps.write(fd_, p, size);
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
    if (fd_ < 0 || steps.fsync(fd_) != 0)
        return fail();
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0)
        return fail();
    if (steps.rename(temporary_.c_str(), target_.c_str()) != 0)
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
