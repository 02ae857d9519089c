// "Lirrosa Setup", the instrument list it installs, and the command-line front end's use of
// the settings (`lirrosa-cli settings`, and the values a conversion takes from them).

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <set>
#include <sstream>

#include "SettingsTestSupport.h"
#include "cli/SettingsCommand.h"
#include "platform/Registry.h"
#include "settings/My_registry.h"
#include "settings/SetupInstaller.h"

namespace {

class SetupTest : public RegistryTest {
protected:
    int setup(SetupOptions options, const std::string& resources = "")
    {
        std::ostringstream out;
        errors.str("");
        return runSetup(options, resources, out, errors);
    }
    int settings(const std::vector<std::string>& args)
    {
        output.str("");
        errors.str("");
        return runSettingsCommand(args, output, errors);
    }
    std::string stored(const std::string& key)
    {
        EXPECT_EQ(settings({"get", key}), 0) << errors.str();
        return output.str();
    }

    std::ostringstream output;
    std::ostringstream errors;
};

TEST_F(SetupTest, SetupKeepsTheUsersValuesAndResetRestoresTheBuiltInOnes)
{
    ASSERT_EQ(setup({}), 0) << errors.str();
    ASSERT_EQ(settings({"set", "TPQN", "240"}), 0) << errors.str();
    ASSERT_EQ(settings({"set", "DeskTop\\Skin", "DARK"}), 0) << errors.str();
    RegistryKey key(RegHive::LocalMachine, kRegistryRoot + kSettingsKey);
    ASSERT_TRUE(key.open(false).ok());
    ASSERT_TRUE(key.deleteValue("Tempo").ok());

    ASSERT_EQ(setup({}), 0);
    EXPECT_EQ(stored("TPQN"), "240\n");
    EXPECT_EQ(stored("Skin"), "DARK\n");
    EXPECT_EQ(stored("Tempo"), "120\n") << "a missing value is added";

    SetupOptions reset;
    reset.reset = true;
    ASSERT_EQ(setup(reset), 0);
    EXPECT_EQ(stored("TPQN"), "480\n");
    EXPECT_EQ(stored("Skin"), "BASE\n");
    EXPECT_EQ(stored("Metron"), "1160\n");

    // Every value of the three keys is there, with the built-in value and the right type.
    RegistryTree tree;
    ASSERT_TRUE(RegistryFile(registryPath).load(tree).ok());
    for (size_t i = 0; i < kSettingDefinitionCount; ++i) {
        const SettingDefinition& definition = kSettingDefinitions[i];
        const RegKey* owner = tree.findKey(RegHive::LocalMachine, kRegistryRoot + definition.subkey);
        ASSERT_NE(owner, nullptr) << definition.subkey;
        const RegValue* value = owner->find(definition.name);
        ASSERT_NE(value, nullptr) << definition.name;
        EXPECT_EQ(value->type == RegType::String, definition.isText) << definition.name;
        if (!definition.isText) {
            EXPECT_EQ(static_cast<int32_t>(value->dword), definition.builtInInteger) << definition.name;
        }
    }
}

TEST_F(SetupTest, SetupInstallsTheResourcesIntoTheInstallationFolder)
{
    const std::filesystem::path resources = folder / "resources";
    std::filesystem::create_directories(resources / "data");
    std::filesystem::create_directories(resources / "skins" / "BASE");
    std::filesystem::create_directories(resources / "skins" / "OTHER");
    std::filesystem::create_directories(resources / "Help");
    std::ofstream(resources / "data" / "gmi.txt") << "Piano\n";
    std::ofstream(resources / "skins" / "BASE" / "bg16.bmp") << "BM";
    std::ofstream(resources / "skins" / "OTHER" / "bg16.bmp") << "BM";
    std::ofstream(resources / "Help" / "3.html") << "<p>help</p>";

    SetupOptions options;
    options.installPath = (folder / "install").string();
    options.url = "example.org";
    ASSERT_EQ(setup(options, resources.string() + "/"), 0) << errors.str();
    const std::filesystem::path install = folder / "install";
    EXPECT_TRUE(std::filesystem::exists(install / "data" / "gmi.txt"));
    EXPECT_TRUE(std::filesystem::exists(install / "skins" / "BASE" / "bg16.bmp"));
    EXPECT_FALSE(std::filesystem::exists(install / "skins" / "OTHER")) << "only the BASE skin is installed";
    EXPECT_TRUE(std::filesystem::exists(install / "Help" / "3.html"));
    EXPECT_EQ(stored("InstallPath"), install.string() + "/\n");
    EXPECT_EQ(stored("url"), "example.org\n");

    // A changed instrument list stays unless the setup resets.
    std::ofstream(install / "data" / "gmi.txt") << "Mine\n";
    ASSERT_EQ(setup(options, resources.string() + "/"), 0);
    EXPECT_EQ(std::ifstream(install / "data" / "gmi.txt").rdbuf()->sgetc(), 'M');
    options.reset = true;
    ASSERT_EQ(setup(options, resources.string() + "/"), 0);
    EXPECT_EQ(std::ifstream(install / "data" / "gmi.txt").rdbuf()->sgetc(), 'P');

    options.url = "two\nlines";
    EXPECT_EQ(setup(options), 1);
}

TEST_F(SetupTest, TheInstrumentListNamesThe128GeneralMidiPrograms)
{
    std::ifstream in(std::string(LIRROSA_SOURCE_DIR) + "/data/gmi.txt");
    std::vector<std::string> names;
    for (std::string line; std::getline(in, line);)
        names.push_back(line);
    ASSERT_EQ(names.size(), 128u);
    EXPECT_EQ(names[0], "Acoustic Grand Piano");
    EXPECT_EQ(names[40], "Violin");
    EXPECT_EQ(names[56], "Trumpet");
    EXPECT_EQ(names[73], "Flute");
    EXPECT_EQ(names[127], "Gunshot");
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), 128u) << "a name is repeated";
    for (const std::string& name : names)
        EXPECT_TRUE(!name.empty() && name.back() != '\r' && name.back() != ' ') << "'" << name << "'";
}

TEST_F(SetupTest, TheSettingsCommandShowsAndChecksValues)
{
    EXPECT_EQ(settings({}), 1);
    EXPECT_NE(errors.str().find("Please run Lirrosa Setup"), std::string::npos) << errors.str();
    EXPECT_EQ(settings({"set", "TPQN", "240"}), 1);
    EXPECT_FALSE(std::filesystem::exists(registryPath)) << "the command created settings before the setup";

    ASSERT_EQ(setup({}), 0);
    ASSERT_EQ(settings({}), 0);
    EXPECT_NE(output.str().find("Settings\\TPQN = 480\n"), std::string::npos) << output.str();
    EXPECT_NE(output.str().find("DeskTop\\Skin = BASE\n"), std::string::npos);

    EXPECT_EQ(settings({"set", "octshift", "-3"}), 0);
    EXPECT_EQ(stored("Settings/OctShift"), "-3\n");
    EXPECT_EQ(settings({"set", "Metron", "0275"}), 0);
    EXPECT_EQ(settings({"set", "Left", "-20"}), 0);
    EXPECT_EQ(stored("Left"), "-20\n");

    const std::string before = registryText();
    for (const std::vector<std::string>& wrong : std::vector<std::vector<std::string>>{
             {"set", "TPQN", "250"},       // not a step of 24
             {"set", "TPQN", "984"},       // above the range
             {"set", "Tempo", "12x"},      // not a number
             {"set", "OctShift", "4"},     // outside -3..3
             {"set", "Metron", "1a60"},    // not three numbers
             {"set", "PhoneNumber", "+49"},// digits only
             {"set", "Nothing", "1"},      // no such value
             {"get", "TPQN", "extra"},
             {"frobnicate"}}) {
        EXPECT_EQ(settings(wrong), 2) << wrong[0] << " " << (wrong.size() > 1 ? wrong[1] : "");
        EXPECT_FALSE(errors.str().empty());
    }
    EXPECT_EQ(registryText(), before);

    ASSERT_TRUE(RegistryFile(registryPath).update([](RegistryTree& tree) {
        tree.deleteKey(RegHive::LocalMachine, kRegistryRoot + kInfoKey);
        return RegResult();
    }).ok());
    EXPECT_EQ(settings({"set", "LastMailTo", "a@b.c"}), 1) << "the Info key is never created here";
    EXPECT_EQ(settings({"get", "LastMailTo"}), 1);
}

TEST_F(SetupTest, ConversionsTakeTheStoredValuesWhenTheyExist)
{
    std::ostringstream warnings;
    CliSettings builtIn = readCliSettings(warnings);
    EXPECT_EQ(builtIn.tpqn, 480);
    EXPECT_EQ(builtIn.tempo, 120);
    EXPECT_TRUE(builtIn.mergeShortPitchDeviations);
    EXPECT_EQ(builtIn.engine, RecognitionEngine::Classic);
    EXPECT_TRUE(warnings.str().empty());

    ASSERT_EQ(setup({}), 0);
    for (const auto& [key, value] : std::vector<std::pair<std::string, std::string>>{
             {"TPQN", "960"}, {"Tempo", "90"}, {"MergeSPD", "0"}, {"Engine", "1"}, {"OctShift", "2"},
             {"MidiOutDev", "2"}, {"WavInDev", "1"}, {"WavOutDev", "3"}})
        ASSERT_EQ(settings({"set", key, value}), 0) << key;
    CliSettings read = readCliSettings(warnings);
    EXPECT_EQ(read.tpqn, 960);
    EXPECT_EQ(read.tempo, 90);
    EXPECT_FALSE(read.mergeShortPitchDeviations);
    EXPECT_EQ(read.engine, RecognitionEngine::Precise);
    EXPECT_EQ(read.octaveShift, 2);
    EXPECT_EQ(read.midiOutIndex, 2);
    EXPECT_EQ(read.wavInIndex, 1);
    EXPECT_EQ(read.wavOutIndex, 3);
    EXPECT_TRUE(warnings.str().empty());

    // Unusable values fall back to the built-in ones with a warning each.
    RegistryKey key(RegHive::LocalMachine, kRegistryRoot + kSettingsKey);
    ASSERT_TRUE(key.open(false).ok());
    ASSERT_TRUE(key.writeInteger("TPQN", 0).ok());
    ASSERT_TRUE(key.writeString("Tempo", "90").ok());
    read = readCliSettings(warnings);
    EXPECT_EQ(read.tpqn, 480);
    EXPECT_EQ(read.tempo, 120);
    EXPECT_EQ(read.octaveShift, 2);
    EXPECT_NE(warnings.str().find("TPQN"), std::string::npos);
    EXPECT_NE(warnings.str().find("Tempo"), std::string::npos);

    writeRegistryText("not a registry file\n");
    warnings.str("");
    read = readCliSettings(warnings);
    EXPECT_EQ(read.tpqn, 480);
    EXPECT_NE(warnings.str().find("line 1"), std::string::npos) << warnings.str();
}

TEST_F(SetupTest, TheSetupCommandRuns)
{
    const std::string command = std::string(LIRROSA_BINARY_DIR) + "/src/lirrosa-setup";
    ASSERT_TRUE(std::filesystem::exists(command)) << command;
    EXPECT_EQ(std::system((command + " --install-path " + (folder / "install").string() + " >/dev/null").c_str()), 0);
    EXPECT_NE(registryText().find("\"InstallPath\"=\"" + (folder / "install").string() + "/\""), std::string::npos)
        << registryText();
    EXPECT_EQ(WEXITSTATUS(std::system((command + " --no-such-option 2>/dev/null").c_str())), 2);
}

} // namespace
