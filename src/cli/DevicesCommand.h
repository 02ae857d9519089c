#pragma once
// `lirrosa-cli devices`: the wave inputs and outputs with their list indices, as the
// settings dialog lists them (entry 0 is the system's default device).

#include <cstdint>
#include <string>
#include <vector>

class WaveDriver;

// The device id of list entry `index`: 0 is the default device, i >= 1 is device i - 1.
uint32_t waveDeviceIdOfListIndex(int index);

// The name of list entry `index` of the inputs or outputs, for messages.
std::string waveDeviceListName(WaveDriver& driver, bool input, int index);

// Before a command uses MIDI output entry `entry`: when it is the JACK output, connects it
// to the `requested` ports (--connect), or else to the ports of the last run. 0: go on;
// otherwise the exit status of the failure, which has been reported.
int connectMidiOutput(int32_t entry, const std::vector<std::string>& requested, bool quiet);

int runDevicesCommand(const std::vector<std::string>& args);
