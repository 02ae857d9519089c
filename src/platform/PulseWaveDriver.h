#pragma once
// Wave devices on the PulseAudio sound server (or PipeWire's PulseAudio service): inputs
// are the server's sources, outputs its sinks, each listed by its description. Every open
// device has its own server connection and threaded main loop; the device's driver thread
// runs the callbacks, so the server's loop never waits for the program.
//
// Errors that come from the server are reported as kPulseErrorBase + the server's error
// number, and errorText() gives the server's own text for them.

#include <mutex>
#include <string>
#include <vector>

#include "platform/WaveDevice.h"

constexpr MMRESULT kPulseErrorBase = 0x1000;

struct PulseDeviceEntry {
    std::string name;         // the server's name, e.g. "alsa_input.pci-0000_00_1b.0.analog-stereo"
    std::string description;  // shown to users
    bool monitor = false;     // a sink's monitor source
};

class PulseWaveDriver : public WaveDriver {
public:
    uint32_t inputCount() override;
    std::string inputName(uint32_t id) override;
    uint32_t outputCount() override;
    std::string outputName(uint32_t id) override;

    MMRESULT open(WaveDirection direction, WaveDevice** device, uint32_t deviceId, const WAVEFORMATEX& format,
                  WaveCallback callback, uintptr_t instance, uint32_t flags) override;

    std::string errorText(MMRESULT result) override;

private:
    uint32_t refresh(WaveDirection direction, std::vector<PulseDeviceEntry>& list);
    std::string nameOf(WaveDirection direction, std::vector<PulseDeviceEntry>& list, uint32_t id);

    std::mutex mutex_;
    std::vector<PulseDeviceEntry> inputs_;
    std::vector<PulseDeviceEntry> outputs_;
    bool inputsListed_ = false;
    bool outputsListed_ = false;
};
