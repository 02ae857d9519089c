#pragma once
// The connections of the program's JACK MIDI port to other programs' inputs: made on
// request (the command line's --connect) or as remembered from the last run, and
// remembered in the settings value JackConnect (the port names, separated by ';').

#include <cstdint>
#include <string>
#include <vector>

// Whether device list entry `entry` (0: Auto, k: device k - 1) is the JACK MIDI output.
bool isJackMidiEntry(int32_t entry);

// Connects the JACK output to each of `requested`, or to the remembered ports when none is
// requested. A requested port that cannot be connected is an error (its text is
// returned); a remembered one that is not there now is skipped with a line in `notes`.
std::string connectJackMidiPorts(const std::vector<std::string>& requested, std::vector<std::string>& notes);

// Remembers the ports the JACK output is connected to now; nothing when it has none (the
// last connection stays remembered) or when the settings are not installed.
void rememberJackMidiConnections();

// The remembered ports of a JackConnect text.
std::vector<std::string> parseJackConnectText(const std::string& text);
