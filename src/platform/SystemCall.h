#pragma once
// Turning a failed system call into an error that carries the system's own text.

#include <stdexcept>
#include <string>

// The error raised for a failed system call, carrying the system's message text.
class SystemCallError : public std::runtime_error {
public:
    explicit SystemCallError(const char* text) : std::runtime_error(text) {}
};

// Throws SystemCallError with the text of the calling thread's last error (errno) when
// `ok` is false.
void CheckSystemCall(bool ok);

// The system's message text for an errno value.
std::string systemErrorText(int code);
