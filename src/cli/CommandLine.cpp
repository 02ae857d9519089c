#include "cli/CommandLine.h"

#include <cstdio>
#include <cstdlib>

int fail(const std::string& message)
{
    std::fprintf(stderr, "lirrosa-cli: %s\n", message.c_str());
    return 1;
}

int usageError(const std::string& message)
{
    std::fprintf(stderr, "lirrosa-cli: %s (see lirrosa-cli --help)\n", message.c_str());
    return 2;
}

bool parseInteger(const std::string& text, int minimum, int maximum, int& value)
{
    char* end = nullptr;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || parsed < minimum || parsed > maximum)
        return false;
    value = static_cast<int>(parsed);
    return true;
}
