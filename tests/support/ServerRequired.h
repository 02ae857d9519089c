#pragma once
// A test that needs a server (the test sound server, or a private server of its own)
// skips when the server is missing, except under CI=true: there it fails, so that a CI
// run cannot pass with those tests left out.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

inline bool serversRequired()
{
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::strcmp(ci, "true") == 0;
}

// Put it in braces after an `if`: it holds an if-else of its own.
#define SKIP_WITHOUT_SERVER_BECAUSE(reason)                                                                           \
    if (serversRequired())                                                                                           \
        FAIL() << reason << " (under CI=true every server the tests need must be there)";                           \
    else                                                                                                             \
        GTEST_SKIP() << reason
