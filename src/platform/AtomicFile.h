#pragma once
// The one way files are written (wave files, MIDI files, reports, the registry): under a
// temporary name in the target's folder, flushed to disk, renamed over the target, and
// the folder flushed, so that the target is always either the old file or the whole new
// one. A symbolic link is written through: the file it points at is replaced.

#include <sys/types.h>

#include <cstddef>
#include <string>

// A file written under a temporary name and renamed over the target only when all of it
// is on disk. Discarded (the temporary removed) unless committed. After a failure,
// error() holds the errno of the failing step.
class AtomicFile {
public:
    AtomicFile() = default;
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // False when the target cannot be written: its folder is missing or not writable,
    // or it names a folder, a device or a read-only file. A new file gets `newFileMode`
    // (less the umask); a file replaced keeps its permissions.
    bool create(const std::string& path, mode_t newFileMode = 0666);
    bool write(const void* bytes, size_t size);
    bool commit();
    int error() const { return error_; }

private:
    void discard();
    bool fail();

    std::string target_;
    std::string temporary_;
    int fd_ = -1;
    int error_ = 0;
};

// The system calls that write, flush and rename; tests put failing ones in to stand for a
// full disk or a crash between the steps.
struct FileWriteSteps {
    ssize_t (*write)(int fd, const void* data, size_t size);
    int (*fsync)(int fd);
    int (*rename)(const char* from, const char* to);
};
void setFileWriteSteps(const FileWriteSteps& steps);
void restoreFileWriteSteps();
