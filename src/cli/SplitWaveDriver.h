#pragma once
// Wave inputs from one driver and outputs from another: a take recorded from a file that
// the virtual input plays, or a file converted without opening any input, is still heard
// on the sound server's outputs.

#include "platform/WaveDevice.h"

class SplitWaveDriver : public WaveDriver {
public:
    SplitWaveDriver(WaveDriver& inputs, WaveDriver& outputs) : inputs_(inputs), outputs_(outputs) {}

    uint32_t inputCount() override { return inputs_.inputCount(); }
    std::string inputName(uint32_t id) override { return inputs_.inputName(id); }
    uint32_t outputCount() override { return outputs_.outputCount(); }
    std::string outputName(uint32_t id) override { return outputs_.outputName(id); }
    MMRESULT open(WaveDirection direction, WaveDevice** device, uint32_t deviceId, const WAVEFORMATEX& format,
                  WaveCallback callback, uintptr_t instance, uint32_t flags) override;
    // The outputs' driver is the sound server's, whose texts cover the common result
    // codes as well as its own.
    std::string errorText(MMRESULT result) override { return outputs_.errorText(result); }

private:
    WaveDriver& inputs_;
    WaveDriver& outputs_;
};
