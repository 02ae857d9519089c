#include "platform/MidiDevices.h"

#include <map>
#include <mutex>
#include <vector>

#include "platform/AlsaSeqSink.h"
#include "platform/BuiltInSynth.h"
#include "platform/JackMidiSink.h"

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

enum class OutputKind { BuiltInSynth, Jack, AlsaOwnPort, AlsaPort };

struct ListedOutput {
    OutputKind kind;
    std::string name;
    AlsaSeqPort alsaPort{};
};

// The listed devices in id order, as they are now.
std::vector<ListedOutput> listedOutputs()
{
    std::vector<ListedOutput> outputs{{OutputKind::BuiltInSynth, kBuiltInSynthName}};
    if (jackServerRunning())
        outputs.push_back({OutputKind::Jack, kJackMidiOutputName});
    if (alsaSequencerPresent())
        outputs.push_back({OutputKind::AlsaOwnPort, kAlsaOwnOutputName});
    for (const AlsaSeqPort& port : listAlsaOutputPorts())
        outputs.push_back({OutputKind::AlsaPort, port.name, port});
    return outputs;
}

} // namespace

uint32_t midiOutDeviceCount()
{
    return static_cast<uint32_t>(listedOutputs().size());
}

std::string midiOutDeviceName(uint32_t id)
{
    if (id == kMidiMapper)
        return kMapperName;
    const std::vector<ListedOutput> outputs = listedOutputs();
    return id < outputs.size() ? outputs[id].name : std::string();
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
    const std::vector<ListedOutput> outputs = listedOutputs();
    if (id >= outputs.size())
        return kMidiErrBadDeviceId;
    switch (outputs[id].kind) {
    case OutputKind::Jack:
        return JackMidiSink::open(sink);
    case OutputKind::AlsaOwnPort:
        return AlsaSeqSink::openOwnPort(sink);
    case OutputKind::AlsaPort:
        return AlsaSeqSink::open(outputs[id].alsaPort, sink);
    case OutputKind::BuiltInSynth:
        break;
    }
    return BuiltInSynthSink::open(sink);
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
