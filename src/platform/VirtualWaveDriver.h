#pragma once
// A wave driver without sound hardware: its one input records from a sample source (a
// WAV file's samples or generated ones) and its one output plays into memory. Paced by a
// WaveClock, the input fills a buffer when the clock has passed the buffer's duration and
// the output returns a buffer when its duration has been "heard"; without a clock both
// run as fast as buffers are queued.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/WaveClock.h"
#include "platform/WaveDevice.h"

// Samples for the virtual input, in the format they were recorded in.
class SampleSource {
public:
    SampleSource(const WAVEFORMATEX& format, std::vector<uint8_t> samples);

    const WAVEFORMATEX& format() const { return format_; }
    // Copies up to `size` of the next bytes; fewer, down to none, once the samples run out.
    size_t read(uint8_t* destination, size_t size);
    // Every sample has been read.
    bool exhausted() const { return exhausted_.load(); }

private:
    const WAVEFORMATEX format_;
    const std::vector<uint8_t> samples_;
    size_t position_ = 0;  // touched only by the one input reading the source
    std::atomic<bool> exhausted_{false};
};

class VirtualWaveDevice;

class VirtualWaveDriver : public WaveDriver {
public:
    // `source` null: the input delivers nothing (any format is accepted). `clock` null: no
    // pacing. Neither is owned; both must outlive the devices opened here.
    explicit VirtualWaveDriver(SampleSource* source, WaveClock* clock = nullptr);
    ~VirtualWaveDriver() override;

    uint32_t inputCount() override;
    std::string inputName(uint32_t id) override;
    uint32_t outputCount() override;
    std::string outputName(uint32_t id) override;

    // The input accepts only the source's format and is open once at a time.
    MMRESULT open(WaveDirection direction, WaveDevice** device, uint32_t deviceId, const WAVEFORMATEX& format,
                  WaveCallback callback, uintptr_t instance, uint32_t flags) override;

    // Everything the outputs have played, in order.
    std::vector<uint8_t> played();
    // Unplugs the devices: every open one returns its buffers and fails from now on with
    // WAVERR_DEVICELOST, and the lists are empty.
    void removeDevices();

private:
    friend class VirtualWaveDevice;
    void appendPlayed(const uint8_t* bytes, size_t size);
    void forget(VirtualWaveDevice* device);
    bool inputOpen() const;  // with mutex_ held

    SampleSource* const source_;
    WaveClock* const clock_;
    std::mutex mutex_;
    std::vector<uint8_t> played_;
    std::vector<VirtualWaveDevice*> open_;
    bool removed_ = false;
};
