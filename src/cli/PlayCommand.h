#pragma once
// `lirrosa-cli play --wave TAKE.wav [--device N] [--quiet]`: plays a wave file through the
// wave-out player, three 28 ms chunks ahead, each played chunk making room for the next.
// Without --device the settings' wave output (WavOutDev) is used, else the default.

#include <string>
#include <vector>

int runPlayCommand(const std::vector<std::string>& args);
