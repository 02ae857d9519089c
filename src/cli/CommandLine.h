#pragma once
// Pieces every command of the command-line front end shares: its two kinds of failure
// line and the reading of whole-number options.

#include <string>

// Prints "lirrosa-cli: MESSAGE" on stderr and returns the exit status of a failure, 1.
int fail(const std::string& message);

// Prints "lirrosa-cli: MESSAGE (see lirrosa-cli --help)" on stderr and returns the exit
// status of a usage error, 2.
int usageError(const std::string& message);

// Reads a whole decimal number from minimum to maximum; false for anything else.
bool parseInteger(const std::string& text, int minimum, int maximum, int& value);
