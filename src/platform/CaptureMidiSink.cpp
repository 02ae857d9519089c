#include "platform/CaptureMidiSink.h"

void CaptureMidiLog::record(uint32_t message, int64_t timeUs)
{
    {
        std::lock_guard<std::mutex> guard(mutex);
        log.push_back({message, timeUs});
    }
    grown.notify_all();
}

std::vector<CapturedMidiMessage> CaptureMidiLog::messages() const
{
    std::lock_guard<std::mutex> guard(mutex);
    return log;
}

void CaptureMidiLog::clear()
{
    std::lock_guard<std::mutex> guard(mutex);
    log.clear();
}

bool CaptureMidiLog::waitForCount(size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(mutex);
    return grown.wait_for(lock, timeout, [&] { return log.size() >= count; });
}

MidiResult CaptureMidiSink::send(uint32_t message, int64_t timeUs)
{
    log.record(message, timeUs);
    return kMidiOk;
}
