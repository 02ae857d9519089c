#pragma once
// Wave devices on the PulseAudio sound server (or PipeWire's PulseAudio service): inputs
// are the server's sources, outputs its sinks, each listed by its description. Every open
// device has its own server connection and threaded main loop; the device's driver thread
// runs the callbacks, so the server's loop never waits for the program.
//
// Errors that come from the server are reported as kPulseErrorBase + the server's error
// number, and errorText() gives the server's own text for them.

#include <memory>
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
    PulseWaveDriver();
    ~PulseWaveDriver() override;

    uint32_t inputCount() override;
    std::string inputName(uint32_t id) override;
    uint32_t outputCount() override;
    std::string outputName(uint32_t id) override;
    // The server's own names of the devices.
    std::string inputKey(uint32_t id) override;
    std::string outputKey(uint32_t id) override;
    // Listens on a connection of its own for sources and sinks that appear or go.
    void watchDevices(std::function<void()> changed) override;

    MMRESULT open(WaveDirection direction, WaveDevice** device, uint32_t deviceId, const WAVEFORMATEX& format,
                  WaveCallback callback, uintptr_t instance, uint32_t flags) override;

    std::string errorText(MMRESULT result) override;

private:
    uint32_t refresh(WaveDirection direction, std::vector<PulseDeviceEntry>& list);
    const PulseDeviceEntry* entryOf(WaveDirection direction, std::vector<PulseDeviceEntry>& list, uint32_t id);

    class DeviceWatch;
    std::unique_ptr<DeviceWatch> watch_;

    std::mutex mutex_;
    std::vector<PulseDeviceEntry> inputs_;
    std::vector<PulseDeviceEntry> outputs_;
    bool inputsListed_ = false;
    bool outputsListed_ = false;
};
