#pragma once
// The settings store: the product's keys in the registry, the values loaded at start that
// the rest of the program reads directly, the transfers the settings dialog uses, and the two
// helpers that read the same keys (web browser and volume control).
//
// Every operation opens the registry file, opens its key, transfers its values and lets go
// again; nothing stays open between calls. A registry error ends the operation at that value
// with a message box; a key that cannot be opened ends it silently.

#include <cstdint>
#include <string>

#include "notes/Tv2m_data.h"

// The product's root key below HKEY_LOCAL_MACHINE; a subkey path is this root followed
// directly by the subkey name.
inline const std::string kRegistryRoot = "\\software\\Kestrova Lab\\Lirrosa Demo\\";
inline const std::string kSettingsKey = "Settings";
inline const std::string kDeskTopKey = "DeskTop";
inline const std::string kInfoKey = "Info";
// Where the registry names the command that opens web pages (below HKEY_CLASSES_ROOT).
inline const std::string kBrowserCommandKey = "\\htmlfile\\shell\\open\\command";

// The names of the chosen devices that stay the same when a list's order changes, kept beside
// the list indices MidiOutDev, WavInDev and WavOutDev.
inline const std::string kMidiOutDevName = "MidiOutDevName";
inline const std::string kWavInDevName = "WavInDevName";
inline const std::string kWavOutDevName = "WavOutDevName";

inline const std::string kRunSetupText = "Please run Lirrosa Setup";
inline const std::string kWebAddressPrompt =
    "Please start your web-browser\n\n and enter the following web-address \n ";

struct MetronomeSettings {
    int16_t enabled = 1; // 0 or 1
    int16_t sound = 1;   // 1 maracas, otherwise side stick (written as 2)
    int16_t volume = 60; // 0..127
};

// Which delivery forms the online service offers (the DelivOpt bit set).
using DeliveryOptions = uint32_t;
inline constexpr DeliveryOptions kDeliverRtttl = 1;
inline constexpr DeliveryOptions kDeliverMidi = 2;
inline constexpr DeliveryOptions kDeliverSms = 4;

// The values loaded at start. Before the registry is read the paths come from the folder of
// the program file; every folder value ends in '/'.
struct SettingsStore {
    SettingsStore();

    std::string installPath;
    std::string workPath;
    std::string dataPath;
    std::string skinsPath;
    std::string skin = "BASE";
    bool showTips = true;
    DeliveryOptions deliveryOptions = kDeliverRtttl;
    std::string url;
    std::string uri;
    std::string browserPath; // empty when no browser is known
    MetronomeSettings metronome;
    int32_t left = 10;
    int32_t top = 10;
};

extern SettingsStore settingsStore;

// The folder of the running program file, ending in '/'.
std::string programFolder();

// One value of the product's keys with its built-in value and the range the program accepts.
struct SettingDefinition {
    const char* subkey;
    const char* name;
    bool isText;
    int32_t builtInInteger;
    const char* builtInText; // for text values; the installation paths are set by the installer
    int32_t minimum;         // integers: accepted range and step
    int32_t maximum;
    int32_t step;
};

// Every value of "Settings", "DeskTop" and "Info", in the order the installer writes them.
extern const SettingDefinition kSettingDefinitions[];
extern const size_t kSettingDefinitionCount;

// The definition whose name (or "Subkey\Name", "Subkey/Name") matches, ignoring case; null when none.
const SettingDefinition* findSettingDefinition(const std::string& name);
// Whether `value` is in the definition's range; for text values whether the text has a valid form.
bool settingIntegerValid(const SettingDefinition& definition, int32_t value);
bool settingTextValid(const SettingDefinition& definition, const std::string& text);

// Reads (write = false) or writes one value under HKEY_LOCAL_MACHINE + rootPath + subkeyName.
// The key is opened without being created. False when the key could not be opened (nothing
// is shown) or when the transfer failed (its message is shown). An absent text value reads
// as empty text; an absent integer is an error.
bool RegAccessString(bool write, const std::string& valueName, std::string& value, const std::string& subkeyName,
                     const std::string& rootPath = kRegistryRoot);
bool RegAccessInteger(bool write, const std::string& valueName, int32_t& value, const std::string& subkeyName,
                      const std::string& rootPath = kRegistryRoot);

// True when the product's "Settings" key exists.
bool SettingsInstalled();

// Reads the start-up values from "Settings" and "DeskTop" into settingsStore, stopping at the
// first error; writes the metronome back when Metron is absent or empty. True when all were read.
bool LoadStartupSettings();

// Writes Left and Top under "DeskTop", creating that key when it is missing.
bool SaveWindowPosition(int32_t left, int32_t top);

// Reads or writes MidiOutDev, TPQN, Tempo, Nom, DeNom, Patch, Vol, OctShift and Channel, in
// that order. On read recordTempo follows tempo and the narrower fields keep the low-order bits.
bool AccessSongSettings(SongSettings& record, int32_t& midiOutIndex, bool write);

// Reads or writes WavInDev then WavOutDev.
bool AccessWaveDevices(int32_t& inputIndex, int32_t& outputIndex, bool write);

// Sets the browser path from the registry's web-page command, or to xdg-open when the
// registry has none; then reads url and uri again.
void FindWebBrowser();

// The program that a web-page command line starts: a Windows command up to and including
// its first ".EXE" (upper-cased, without a leading quote); otherwise the command's first
// word or quoted path. Empty when the command names no program.
std::string browserPathFromCommand(const std::string& command);

// Opens "http://" + address in the browser, or shows prompt + "http://" + address when no
// browser is known or it cannot be started.
void OpenWebAddress(const std::string& address, const std::string& prompt);

// Starts the volume control: pavucontrol on its input devices page for "-r", its output
// devices page otherwise; else the desktop's sound settings; else says what to install.
void OpenSystemMixer(const std::string& argument = {});

// Metron text: enabled, sound and volume as decimal texts joined ("1160").
std::string metronomeText(const MetronomeSettings& metronome);
// Parses a Metron text: one digit enabled, one digit sound, then the volume 0..127 in
// decimal. False for any other text; `metronome` is then unchanged.
bool parseMetronomeText(const std::string& text, MetronomeSettings& metronome);

// The device identifier for a device-list index: index k >= 1 is device k - 1, anything
// else the system default (-1).
int32_t deviceIdFromIndex(int32_t index);
// The list entry to select for a stored index: the index when it is below the number of
// entries (compared unsigned, so negative values are too large), otherwise 0 ("Auto").
int32_t storedDeviceEntry(int32_t storedIndex, int32_t entryCount);
// The voice diagram's column width for a stored WidthDVC: 1 or 2; 0 (or less) and anything
// above 2 give 1.
int32_t voiceDiagramColumnWidth(int32_t stored);
