#pragma once
// What the fuzz targets that read files share: one scratch file per fuzzing process (removed
// at exit) that each input is written to, and a check that stops the fuzzer where it fails.

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

class ScratchFile {
public:
    // `pattern` ends in "XXXXXX", as mkstemp wants.
    explicit ScratchFile(std::string pattern)
    {
        const int fd = ::mkstemp(pattern.data());
        if (fd < 0)
            std::abort();
        ::close(fd);
        path = pattern;
    }
    ~ScratchFile() { ::unlink(path.c_str()); }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    void fill(const uint8_t* data, size_t size) const
    {
        const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (fd < 0)
            std::abort();
        size_t done = 0;
        while (done < size) {
            const ssize_t n = ::write(fd, data + done, size - done);
            if (n <= 0)
                std::abort();
            done += static_cast<size_t>(n);
        }
        ::close(fd);
    }

    std::string path;
};

inline void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}
