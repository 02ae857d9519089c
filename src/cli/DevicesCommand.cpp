#include "cli/DevicesCommand.h"

#include <cstdio>

#include "app/MidiConnections.h"
#include "cli/CommandLine.h"
#include "platform/MidiDevices.h"
#include "platform/WaveDevice.h"

uint32_t waveDeviceIdOfListIndex(int index)
{
    return index <= 0 ? WAVE_MAPPER : static_cast<uint32_t>(index - 1);
}

std::string waveDeviceListName(WaveDriver& driver, bool input, int index)
{
    if (index <= 0)
        return input ? "the default input" : "the default output";
    return input ? driver.inputName(static_cast<uint32_t>(index - 1))
                 : driver.outputName(static_cast<uint32_t>(index - 1));
}

int connectMidiOutput(int32_t entry, const std::vector<std::string>& requested, bool quiet)
{
    if (!isJackMidiEntry(entry)) {
        if (!requested.empty())
            return fail("--connect works with the JACK MIDI output only; choose it by its index in "
                        "'lirrosa-cli devices'.");
        return 0;
    }
    std::vector<std::string> notes;
    if (const std::string error = connectJackMidiPorts(requested, notes); !error.empty())
        return fail(error);
    for (const std::string& note : notes) {
        if (!quiet)
            std::fprintf(stderr, "lirrosa-cli: %s.\n", note.c_str());
    }
    return 0;
}

int runDevicesCommand(const std::vector<std::string>& args)
{
    if (!args.empty()) {
        std::fprintf(stderr, "lirrosa-cli: devices takes no arguments (see lirrosa-cli --help)\n");
        return 2;
    }
    WaveDriver& driver = systemWaveDriver();
    const uint32_t inputs = driver.inputCount();
    const uint32_t outputs = driver.outputCount();
    if (inputs == 0 && outputs == 0) {
        std::printf("Wave inputs and outputs: none found; is a sound server running?\n");
    } else {
        std::printf("Wave inputs (record --device N):\n  0  Default input\n");
        for (uint32_t i = 0; i < inputs; ++i)
            std::printf("  %u  %s\n", i + 1, driver.inputName(i).c_str());
        std::printf("Wave outputs (play --wave --device N):\n  0  Default output\n");
        for (uint32_t i = 0; i < outputs; ++i)
            std::printf("  %u  %s\n", i + 1, driver.outputName(i).c_str());
    }
    // Entry 0 is "Auto", the system's choice (the built-in synthesiser); entry i >= 1 is device i - 1.
    std::printf("MIDI outputs (play --device N, record --midi-out N):\n  0  Auto\n");
    const uint32_t midiOutputs = midiOutDeviceCount();
    for (uint32_t i = 0; i < midiOutputs; ++i)
        std::printf("  %u  %s\n", i + 1, midiOutDeviceName(i).c_str());
    return 0;
}
