#include "cli/SplitWaveDriver.h"

MMRESULT SplitWaveDriver::open(WaveDirection direction, WaveDevice** device, uint32_t deviceId,
                               const WAVEFORMATEX& format, WaveCallback callback, uintptr_t instance, uint32_t flags)
{
    WaveDriver& driver = direction == WaveDirection::Input ? inputs_ : outputs_;
    return driver.open(direction, device, deviceId, format, callback, instance, flags);
}
