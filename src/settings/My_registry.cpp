#include "settings/My_registry.h"

#include <strings.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdio>

#include "platform/ProcessStart.h"
#include "platform/Registry.h"
#include "platform/UserNotifier.h"

SettingsStore settingsStore;

const SettingDefinition kSettingDefinitions[] = {
    // subkey, name, text, built-in integer, built-in text, minimum, maximum, step
    {"Settings", "InstallPath", true, 0, "", 0, 0, 0},
    {"Settings", "WorkPath", true, 0, "", 0, 0, 0},
    {"Settings", "DataPath", true, 0, "data/", 0, 0, 0},
    {"Settings", "SkinsPath", true, 0, "skins/", 0, 0, 0},
    {"Settings", "ShowTips", false, 1, nullptr, 0, 1, 1},
    {"Settings", "DelivOpt", false, 1, nullptr, 0, 7, 1},
    {"Settings", "url", true, 0, "", 0, 0, 0},
    {"Settings", "uri", true, 0, "", 0, 0, 0},
    {"Settings", "Metron", true, 0, "1160", 0, 0, 0},
    {"Settings", "DisableDV", false, 0, nullptr, 0, 1, 1},
    {"Settings", "WidthDVC", false, 1, nullptr, 1, 2, 1},
    {"Settings", "DisableSaveRem", false, 0, nullptr, 0, 1, 1},
    {"Settings", "MergeSPD", false, 1, nullptr, 0, 1, 1},
    {"Settings", "Engine", false, 0, nullptr, 0, 1, 1},
    {"Settings", "MidiOutDev", false, 0, nullptr, 0, 255, 1},
    {"Settings", "TPQN", false, 480, nullptr, 48, 960, 24},
    {"Settings", "Tempo", false, 120, nullptr, 10, 500, 1},
    {"Settings", "Nom", false, 4, nullptr, 1, 99, 1},
    {"Settings", "DeNom", false, 4, nullptr, 1, 99, 1},
    {"Settings", "Patch", false, 0, nullptr, 0, 127, 1},
    {"Settings", "Vol", false, 100, nullptr, 0, 127, 1},
    {"Settings", "OctShift", false, 0, nullptr, -3, 3, 1},
    {"Settings", "Channel", false, 0, nullptr, 0, 15, 1},
    {"Settings", "WavInDev", false, 0, nullptr, 0, 255, 1},
    {"Settings", "WavOutDev", false, 0, nullptr, 0, 255, 1},
    {"Settings", "JackConnect", true, 0, "", 0, 0, 0},
    {"DeskTop", "Left", false, 10, nullptr, INT32_MIN, INT32_MAX, 1},
    {"DeskTop", "Top", false, 10, nullptr, INT32_MIN, INT32_MAX, 1},
    {"DeskTop", "Skin", true, 0, "BASE", 0, 0, 0},
    {"Info", "LastMailTo", true, 0, "", 0, 0, 0},
    {"Info", "PhoneNumber", true, 0, "", 0, 0, 0},
};
const size_t kSettingDefinitionCount = sizeof kSettingDefinitions / sizeof kSettingDefinitions[0];

namespace {

void showPlainMessage(const std::string& text)
{
    userNotifier().show(text, "", MessageIcon::Information, MessageButtons::Ok);
}

std::string withValueName(const char* format, const std::string& name)
{
    std::string text = format;
    text.replace(text.find("%s"), 2, name);
    return text;
}

void reportFileProblem(const RegResult& result)
{
    if (result.status == RegStatus::FileInvalid)
        showPlainMessage("The settings file cannot be read: " + result.detail +
                         "\nIt is left unchanged; correct that line or run Lirrosa Setup again after removing the file.");
    else if (result.status == RegStatus::WriteFailed && !result.detail.empty())
        std::fprintf(stderr, "lirrosa: settings not written: %s\n", result.detail.c_str());
}

// Opens a key; a key that does not exist is no error to report, a file that cannot be used is.
bool openKey(RegistryKey& key, bool create)
{
    RegResult result = key.open(create);
    if (!result.ok() && result.status != RegStatus::KeyNotFound)
        reportFileProblem(result);
    return result.ok();
}

bool reportReadError(const RegResult& result, const std::string& name)
{
    if (result.ok())
        return true;
    showPlainMessage(withValueName(result.status == RegStatus::WrongType ? "Invalid data type for '%s'"
                                                                          : "Failed to get data for '%s'",
                                   name));
    return false;
}

bool reportWriteError(const RegResult& result, const std::string& name)
{
    if (result.ok())
        return true;
    reportFileProblem(result);
    showPlainMessage(withValueName("Failed to set data for '%s'", name));
    return false;
}

bool readInteger(const RegistryKey& key, const std::string& name, int32_t& value)
{
    return reportReadError(key.readInteger(name, value), name);
}

// An absent text value reads as empty text.
bool readString(const RegistryKey& key, const std::string& name, std::string& text)
{
    RegResult result = key.readString(name, text);
    if (result.status == RegStatus::ValueAbsent) {
        text.clear();
        return true;
    }
    return reportReadError(result, name);
}

bool writeInteger(RegistryKey& key, const std::string& name, int32_t value)
{
    return reportWriteError(key.writeInteger(name, value), name);
}

bool writeString(RegistryKey& key, const std::string& name, const std::string& text)
{
    return reportWriteError(key.writeString(name, text), name);
}

RegistryKey productKey(const std::string& subkey, const std::string& rootPath = kRegistryRoot)
{
    return RegistryKey(RegHive::LocalMachine, rootPath + subkey);
}

bool allDigits(const std::string& text)
{
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// The position just past the first ".exe" (any case) that ends a word, or npos.
size_t endOfExeName(const std::string& upper)
{
    for (size_t at = upper.find(".EXE"); at != std::string::npos; at = upper.find(".EXE", at + 1)) {
        size_t end = at + 4;
        if (end == upper.size() || !std::isalnum(static_cast<unsigned char>(upper[end])))
            return end;
    }
    return std::string::npos;
}

} // namespace

std::string programFolder()
{
    char buffer[4096];
    ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0)
        return "./";
    std::string path(buffer, static_cast<size_t>(length));
    return path.substr(0, path.find_last_of('/') + 1);
}

SettingsStore::SettingsStore()
    : installPath(programFolder()),
      workPath(installPath),
      dataPath(installPath + "data/"),
      skinsPath(installPath + "skins/")
{
}

const SettingDefinition* findSettingDefinition(const std::string& name)
{
    std::string subkey;
    std::string valueName = name;
    size_t split = name.find_first_of("\\/");
    if (split != std::string::npos) {
        subkey = name.substr(0, split);
        valueName = name.substr(split + 1);
    }
    for (const SettingDefinition& definition : kSettingDefinitions)
        if (strcasecmp(definition.name, valueName.c_str()) == 0 &&
            (subkey.empty() || strcasecmp(definition.subkey, subkey.c_str()) == 0))
            return &definition;
    return nullptr;
}

bool settingIntegerValid(const SettingDefinition& definition, int32_t value)
{
    if (definition.isText || value < definition.minimum || value > definition.maximum)
        return false;
    return (static_cast<int64_t>(value) - definition.minimum) % definition.step == 0;
}

bool settingTextValid(const SettingDefinition& definition, const std::string& text)
{
    if (!definition.isText)
        return false;
    const std::string name = definition.name;
    if (name == "InstallPath" || name == "WorkPath" || name == "DataPath" || name == "SkinsPath")
        return text.empty() || text.back() == '/';
    if (name == "Metron") {
        MetronomeSettings parsed;
        return parseMetronomeText(text, parsed);
    }
    if (name == "Skin")
        return !text.empty() && text.find('/') == std::string::npos;
    if (name == "PhoneNumber")
        return text.size() <= 12 && allDigits(text);
    return true;
}

bool RegAccessString(bool write, const std::string& valueName, std::string& value, const std::string& subkeyName,
                     const std::string& rootPath)
{
    RegistryKey key = productKey(subkeyName, rootPath);
    if (!openKey(key, false))
        return false;
    return write ? writeString(key, valueName, value) : readString(key, valueName, value);
}

bool RegAccessInteger(bool write, const std::string& valueName, int32_t& value, const std::string& subkeyName,
                      const std::string& rootPath)
{
    RegistryKey key = productKey(subkeyName, rootPath);
    if (!openKey(key, false))
        return false;
    return write ? writeInteger(key, valueName, value) : readInteger(key, valueName, value);
}

bool SettingsInstalled()
{
    RegistryKey key = productKey(kSettingsKey);
    return openKey(key, false);
}

bool LoadStartupSettings()
{
    SettingsStore& s = settingsStore;
    RegistryKey settings = productKey(kSettingsKey);
    if (!openKey(settings, false))
        return false;

    std::string text;
    int32_t number = 0;
    if (!readString(settings, "InstallPath", s.installPath) || !readString(settings, "WorkPath", s.workPath))
        return false;
    if (!readString(settings, "DataPath", text))
        return false;
    s.dataPath = s.installPath + text;
    if (!readString(settings, "SkinsPath", text))
        return false;
    s.skinsPath = s.installPath + text;
    if (!readInteger(settings, "ShowTips", number))
        return false;
    s.showTips = number != 0;
    if (!readInteger(settings, "DelivOpt", number))
        return false;
    s.deliveryOptions = static_cast<DeliveryOptions>(number);
    if (!readString(settings, "url", s.url) || !readString(settings, "uri", s.uri))
        return false;
    if (!readString(settings, "Metron", text))
        return false;
    // An empty or absent Metron is written back from the metronome in force; a text of
    // another form leaves the metronome as it is (the settings dialog rewrites it).
    if (text.empty()) {
        if (!writeString(settings, "Metron", metronomeText(s.metronome)))
            return false;
    } else {
        parseMetronomeText(text, s.metronome);
    }

    RegistryKey desktop = productKey(kDeskTopKey);
    if (!openKey(desktop, false))
        return false;
    return readInteger(desktop, "Left", s.left) && readInteger(desktop, "Top", s.top) &&
           readString(desktop, "Skin", s.skin);
}

bool SaveWindowPosition(int32_t left, int32_t top)
{
    RegistryKey desktop = productKey(kDeskTopKey);
    if (!openKey(desktop, true))
        return false;
    return writeInteger(desktop, "Left", left) && writeInteger(desktop, "Top", top);
}

bool AccessSongSettings(SongSettings& record, int32_t& midiOutIndex, bool write)
{
    RegistryKey key = productKey(kSettingsKey);
    if (!openKey(key, false))
        return false;
    if (write)
        return writeInteger(key, "MidiOutDev", midiOutIndex) && writeInteger(key, "TPQN", record.tpqn) &&
               writeInteger(key, "Tempo", record.tempo) && writeInteger(key, "Nom", record.meterNum) &&
               writeInteger(key, "DeNom", record.meterDen) && writeInteger(key, "Patch", record.patch) &&
               writeInteger(key, "Vol", record.volume) && writeInteger(key, "OctShift", record.octaveShift) &&
               writeInteger(key, "Channel", record.channel);

    // Each field is set as soon as its value is read, so an error keeps the earlier ones.
    int32_t number = 0;
    if (!readInteger(key, "MidiOutDev", midiOutIndex) || !readInteger(key, "TPQN", record.tpqn))
        return false;
    if (!readInteger(key, "Tempo", number))
        return false;
    record.tempo = static_cast<int16_t>(number);
    record.recordTempo = record.tempo;
    if (!readInteger(key, "Nom", number))
        return false;
    record.meterNum = static_cast<uint8_t>(number);
    if (!readInteger(key, "DeNom", number))
        return false;
    record.meterDen = static_cast<uint8_t>(number);
    if (!readInteger(key, "Patch", number))
        return false;
    record.patch = static_cast<uint8_t>(number);
    if (!readInteger(key, "Vol", number))
        return false;
    record.volume = static_cast<uint8_t>(number);
    if (!readInteger(key, "OctShift", number))
        return false;
    record.octaveShift = static_cast<int8_t>(number);
    if (!readInteger(key, "Channel", number))
        return false;
    record.channel = static_cast<uint8_t>(number);
    return true;
}

bool AccessWaveDevices(int32_t& inputIndex, int32_t& outputIndex, bool write)
{
    RegistryKey key = productKey(kSettingsKey);
    if (!openKey(key, false))
        return false;
    if (write)
        return writeInteger(key, "WavInDev", inputIndex) && writeInteger(key, "WavOutDev", outputIndex);
    return readInteger(key, "WavInDev", inputIndex) && readInteger(key, "WavOutDev", outputIndex);
}

std::string browserPathFromCommand(const std::string& command)
{
    std::string upper = command;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    size_t exeEnd = endOfExeName(upper);
    if (exeEnd != std::string::npos) {
        size_t from = upper.front() == '"' ? 1 : 0;
        return upper.substr(from, exeEnd - from);
    }

    // A Linux command line: its program is the quoted path or the first word.
    size_t start = command.find_first_not_of(" \t");
    if (start == std::string::npos)
        return {};
    if (command[start] == '"') {
        size_t close = command.find('"', start + 1);
        return command.substr(start + 1, close == std::string::npos ? std::string::npos : close - start - 1);
    }
    size_t end = command.find_first_of(" \t", start);
    return command.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

void FindWebBrowser()
{
    SettingsStore& s = settingsStore;
    RegistryKey command(RegHive::ClassesRoot, kBrowserCommandKey);
    if (!openKey(command, false)) {
        s.browserPath = findProgramInPath("xdg-open");
        return;
    }
    std::string text;
    if (!readString(command, "", text))
        return;
    s.browserPath = browserPathFromCommand(text);
    if (s.browserPath.empty())
        s.browserPath = findProgramInPath("xdg-open");

    RegistryKey settings = productKey(kSettingsKey);
    if (!openKey(settings, false))
        return;
    if (readString(settings, "url", s.url))
        readString(settings, "uri", s.uri);
}

void OpenWebAddress(const std::string& address, const std::string& prompt)
{
    const std::string webAddress = "http://" + address;
    // A browser that cannot be started is as good as none: the user gets the address to type.
    if (!settingsStore.browserPath.empty() && startDetached({settingsStore.browserPath, webAddress}))
        return;
    showPlainMessage(prompt + webAddress);
}

void OpenSystemMixer(const std::string& argument)
{
    const std::string mixer = findProgramInPath("pavucontrol");
    if (mixer.empty()) {
        showPlainMessage("The volume control \"pavucontrol\" is not installed.\n"
                         "Install the package pavucontrol to open the mixer.");
        return;
    }
    // pavucontrol's pages: 3 output devices, 4 input devices.
    const std::string page = argument == "-r" ? "--tab=4" : "--tab=3";
    std::string error;
    if (!startDetached({mixer, page}, &error))
        showPlainMessage(error);
}

std::string metronomeText(const MetronomeSettings& metronome)
{
    return std::to_string(metronome.enabled) + std::to_string(metronome.sound) + std::to_string(metronome.volume);
}

bool parseMetronomeText(const std::string& text, MetronomeSettings& metronome)
{
    if (text.size() < 3 || !allDigits(text))
        return false;
    int32_t volume = 0;
    for (size_t i = 2; i < text.size(); ++i) {
        volume = volume * 10 + (text[i] - '0');
        if (volume > 127)
            return false;
    }
    metronome.enabled = static_cast<int16_t>(text[0] - '0');
    metronome.sound = static_cast<int16_t>(text[1] - '0');
    metronome.volume = static_cast<int16_t>(volume);
    return true;
}

int32_t deviceIdFromIndex(int32_t index)
{
    return index >= 1 ? index - 1 : -1;
}

int32_t storedDeviceEntry(int32_t storedIndex, int32_t entryCount)
{
    return static_cast<uint32_t>(storedIndex) < static_cast<uint32_t>(entryCount) ? storedIndex : 0;
}

int32_t voiceDiagramColumnWidth(int32_t stored)
{
    return stored < 1 || stored > 2 ? 1 : stored;
}
