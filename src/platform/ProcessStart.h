#pragma once
// Starting other programs (web browser, volume control, sibling programs) without waiting
// for them, with an explicit argument vector: no shell, so no quoting problems.

#include <string>
#include <vector>

// Starts argv[0] (looked up in PATH when it holds no slash) with the arguments argv in a
// session of its own, and returns at once; the finished child is reaped in the background.
// Returns false when the program could not be started, with the system's error text in
// `error` when given.
bool startDetached(const std::vector<std::string>& argv, std::string* error = nullptr);

// The full path of an executable file named `program` in PATH, or empty text.
std::string findProgramInPath(const std::string& program);
