#include "platform/SystemCall.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

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
