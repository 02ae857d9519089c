#include "platform/MidiDevices.h"

#include <map>
#include <mutex>

#include "platform/AlsaSeqSink.h"
#include "platform/BuiltInSynth.h"

namespace {

constexpr const char* kBuiltInSynthName = "Built-in synthesiser (FluidSynth)";
constexpr const char* kMapperName = "Auto";
// Private devices take ids from here on, far above any listed device.
constexpr uint32_t kFirstPrivateId = 0x40000000;

struct PrivateEntry {
    PrivateMidiDevice::SinkFactory openSink;
    MidiClock* clock;
};

std::mutex privateMutex;
std::map<uint32_t, PrivateEntry> privateDevices;
uint32_t nextPrivateId = kFirstPrivateId;

} // namespace

uint32_t midiOutDeviceCount()
{
    return 1 + static_cast<uint32_t>(listAlsaOutputPorts().size());
}

std::string midiOutDeviceName(uint32_t id)
{
    if (id == kMidiMapper)
        return kMapperName;
    if (id == 0)
        return kBuiltInSynthName;
    const std::vector<AlsaSeqPort> ports = listAlsaOutputPorts();
    return id <= ports.size() ? ports[id - 1].name : std::string();
}

std::string midiOutDeviceKey(uint32_t id)
{
    if (id == 0)
        return "builtin";
    const std::vector<AlsaSeqPort> ports = listAlsaOutputPorts();
    return id <= ports.size() ? "alsa:" + ports[id - 1].clientName + ":" + ports[id - 1].portName : std::string();
}

MidiResult openMidiOutput(uint32_t id, std::unique_ptr<MidiSink>& sink, MidiClock*& clock)
{
    if (id >= kFirstPrivateId && id != kMidiMapper) {
        std::lock_guard<std::mutex> guard(privateMutex);
        const auto entry = privateDevices.find(id);
        if (entry == privateDevices.end())
            return kMidiErrBadDeviceId;
        clock = entry->second.clock;
        return entry->second.openSink(sink);
    }
    clock = &steadyMidiClock();
    if (id == kMidiMapper || id == 0)
        return BuiltInSynthSink::open(sink);
    const std::vector<AlsaSeqPort> ports = listAlsaOutputPorts();
    if (id > ports.size())
        return kMidiErrBadDeviceId;
    return AlsaSeqSink::open(ports[id - 1], sink);
}

PrivateMidiDevice::PrivateMidiDevice(SinkFactory openSink, MidiClock& clock)
{
    std::lock_guard<std::mutex> guard(privateMutex);
    deviceId = nextPrivateId++;
    privateDevices[deviceId] = {std::move(openSink), &clock};
}

PrivateMidiDevice::~PrivateMidiDevice()
{
    std::lock_guard<std::mutex> guard(privateMutex);
    privateDevices.erase(deviceId);
}
