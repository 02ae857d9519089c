#include "app/MidiConnections.h"

#include <algorithm>

#include "platform/JackMidiSink.h"
#include "platform/MidiDevices.h"
#include "settings/My_registry.h"

namespace {

constexpr const char* kJackConnectValue = "JackConnect";
constexpr char kSeparator = ';';

std::vector<std::string> rememberedPorts()
{
    std::string text;
    if (!SettingsInstalled() || !RegAccessString(false, kJackConnectValue, text, kSettingsKey))
        return {};
    return parseJackConnectText(text);
}

} // namespace

bool isJackMidiEntry(int32_t entry)
{
    return entry > 0 && midiOutDeviceName(static_cast<uint32_t>(deviceIdFromIndex(entry))) == kJackMidiOutputName;
}

std::string connectJackMidiPorts(const std::vector<std::string>& requested, std::vector<std::string>& notes)
{
    for (const std::string& port : requested) {
        const MidiResult result = connectJackMidiOutput(port);
        if (result != kMidiOk)
            return "cannot connect the JACK MIDI output to '" + port + "': " + midiErrorText(result);
    }
    if (!requested.empty())
        return {};
    for (const std::string& port : rememberedPorts()) {
        if (connectJackMidiOutput(port) != kMidiOk)
            notes.push_back("the JACK MIDI input '" + port + "' connected last time is not there now");
    }
    return {};
}

void rememberJackMidiConnections()
{
    const std::vector<std::string> ports = jackMidiConnections();
    if (ports.empty() || !SettingsInstalled())
        return;
    std::string text;
    for (const std::string& port : ports)
        text += (text.empty() ? "" : std::string(1, kSeparator)) + port;
    RegAccessString(true, kJackConnectValue, text, kSettingsKey);
}

std::vector<std::string> parseJackConnectText(const std::string& text)
{
    std::vector<std::string> ports;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = std::min(text.find(kSeparator, start), text.size());
        if (end > start)
            ports.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return ports;
}
