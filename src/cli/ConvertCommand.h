#pragma once
// `lirrosa-cli convert IN [-o OUT.mid] [--raw] [--json FILE] [--csv FILE] [--render OUT.wav]
// [--patch N] [--table] [--merge|--no-merge] [--tpqn N] [--engine classic|precise] [--force]
// [--quiet]`: a file take without echo run by the conversion controller, as the window
// runs it, then the outputs written. The stored settings give the defaults of the options.
// `convert IN... [-o DIR] [-j N]` runs that for each input in a process of its own.

#include <string>
#include <vector>

int runConvertCommand(const std::vector<std::string>& args);
