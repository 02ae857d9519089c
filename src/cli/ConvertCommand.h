#pragma once
// `lirrosa-cli convert IN.wav [-o OUT.mid] [--raw] [--json FILE] [--render OUT.wav]
// [--patch N] [--table] [--merge|--no-merge] [--tpqn N] [--engine classic|precise] [--force]
// [--quiet]`: a file take
// without echo run by the conversion controller, as the window runs it, then the outputs
// written. The stored settings give the defaults of the options.

#include <string>
#include <vector>

int runConvertCommand(const std::vector<std::string>& args);
