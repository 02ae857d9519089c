#include "cli/SettingsCommand.h"

#include <cerrno>
#include <cstdlib>

#include "platform/Registry.h"
#include "settings/My_registry.h"

namespace {

std::string settingName(const SettingDefinition& definition)
{
    return std::string(definition.subkey) + "\\" + definition.name;
}

std::string shownValue(const RegValue& value)
{
    return value.type == RegType::Dword ? std::to_string(static_cast<int32_t>(value.dword)) : value.text;
}

bool parseInteger(const std::string& text, int32_t& value)
{
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    const long long parsed = std::strtoll(text.c_str(), &end, 10);
    if (*end != '\0' || errno == ERANGE || parsed < INT32_MIN || parsed > INT32_MAX)
        return false;
    value = static_cast<int32_t>(parsed);
    return true;
}

int failure(std::ostream& err, const std::string& message)
{
    err << "lirrosa-cli: " << message << "\n";
    return 1;
}

int usage(std::ostream& err, const std::string& message)
{
    err << "lirrosa-cli: " << message << " (see lirrosa-cli --help)\n";
    return 2;
}

bool loadSettings(RegistryTree& tree, std::ostream& err)
{
    RegistryFile file(RegistryFile::defaultPath());
    RegResult result = file.load(tree);
    if (!result.ok()) {
        err << "lirrosa-cli: the settings file cannot be read: " << result.detail << "\n";
        return false;
    }
    if (!tree.hasKey(RegHive::LocalMachine, kRegistryRoot + kSettingsKey)) {
        err << "lirrosa-cli: " << kRunSetupText << " (no settings in " << file.path() << ")\n";
        return false;
    }
    return true;
}

int listSettings(std::ostream& out, std::ostream& err)
{
    RegistryTree tree;
    if (!loadSettings(tree, err))
        return 1;
    for (const std::string& subkey : {kSettingsKey, kDeskTopKey, kInfoKey}) {
        const RegKey* key = tree.findKey(RegHive::LocalMachine, kRegistryRoot + subkey);
        if (key == nullptr)
            continue;
        for (const auto& [name, value] : key->values)
            out << subkey << "\\" << (name.empty() ? "@" : name) << " = " << shownValue(value) << "\n";
    }
    return 0;
}

int getSetting(const SettingDefinition& definition, std::ostream& out, std::ostream& err)
{
    RegistryTree tree;
    if (!loadSettings(tree, err))
        return 1;
    const RegKey* key = tree.findKey(RegHive::LocalMachine, kRegistryRoot + definition.subkey);
    const RegValue* value = key != nullptr ? key->find(definition.name) : nullptr;
    if (value == nullptr)
        return failure(err, settingName(definition) + " is not set");
    out << shownValue(*value) << "\n";
    return 0;
}

int setSetting(const SettingDefinition& definition, const std::string& text, std::ostream& out, std::ostream& err)
{
    int32_t number = 0;
    if (definition.isText ? !settingTextValid(definition, text)
                          : !parseInteger(text, number) || !settingIntegerValid(definition, number)) {
        std::string range = definition.isText ? "a valid text"
                                              : std::to_string(definition.minimum) + ".." +
                                                    std::to_string(definition.maximum);
        if (!definition.isText && definition.step > 1)
            range += " in steps of " + std::to_string(definition.step);
        return usage(err, "'" + text + "' is not a valid value for " + settingName(definition) + " (" + range + ")");
    }
    RegistryTree tree;
    if (!loadSettings(tree, err))
        return 1;

    // Like the program, this never creates "Settings" or "Info"; "DeskTop" it may create.
    RegistryKey key(RegHive::LocalMachine, kRegistryRoot + definition.subkey);
    RegResult result = key.open(std::string(definition.subkey) == kDeskTopKey);
    if (result.status == RegStatus::KeyNotFound)
        return failure(err, std::string("the key ") + definition.subkey + " is missing; " + kRunSetupText);
    if (result.ok())
        result = definition.isText ? key.writeString(definition.name, text) : key.writeInteger(definition.name, number);
    if (!result.ok())
        return failure(err, "Failed to set data for '" + std::string(definition.name) + "': " + result.detail);
    out << settingName(definition) << " = " << (definition.isText ? text : std::to_string(number)) << "\n";
    return 0;
}

} // namespace

CliSettings readCliSettings(std::ostream& warnings)
{
    CliSettings settings;
    RegistryTree tree;
    RegistryFile file(RegistryFile::defaultPath());
    RegResult result = file.load(tree);
    if (!result.ok()) {
        warnings << "lirrosa-cli: settings not used: " << result.detail << "\n";
        return settings;
    }
    const RegKey* key = tree.findKey(RegHive::LocalMachine, kRegistryRoot + kSettingsKey);
    if (key == nullptr)
        return settings;

    auto take = [&](const char* name, int32_t& field) {
        const RegValue* value = key->find(name);
        const SettingDefinition* definition = findSettingDefinition(std::string(kSettingsKey) + "\\" + name);
        if (value == nullptr)
            return;
        const int32_t number = static_cast<int32_t>(value->dword);
        if (value->type != RegType::Dword || !settingIntegerValid(*definition, number)) {
            warnings << "lirrosa-cli: setting " << name << " ignored: not a whole number in "
                     << definition->minimum << ".." << definition->maximum << "\n";
            return;
        }
        field = number;
    };
    int32_t merge = settings.mergeShortPitchDeviations ? 1 : 0;
    take("TPQN", settings.tpqn);
    take("Tempo", settings.tempo);
    take("MergeSPD", merge);
    int32_t engine = static_cast<int32_t>(settings.engine);
    take("Engine", engine);
    settings.engine = static_cast<RecognitionEngine>(engine);
    take("OctShift", settings.octaveShift);
    take("MidiOutDev", settings.midiOutIndex);
    take("WavInDev", settings.wavInIndex);
    take("WavOutDev", settings.wavOutIndex);
    settings.mergeShortPitchDeviations = merge != 0;
    return settings;
}

int runSettingsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    if (args.empty())
        return listSettings(out, err);
    const std::string& action = args[0];
    if (action != "get" && action != "set")
        return usage(err, "settings takes no arguments, 'get KEY' or 'set KEY VALUE'");
    const size_t expected = action == "get" ? 2 : 3;
    if (args.size() != expected)
        return usage(err, action == "get" ? "settings get needs one KEY" : "settings set needs a KEY and a VALUE");
    const SettingDefinition* definition = findSettingDefinition(args[1]);
    if (definition == nullptr)
        return usage(err, "unknown setting '" + args[1] + "'");
    return action == "get" ? getSetting(*definition, out, err) : setSetting(*definition, args[2], out, err);
}
