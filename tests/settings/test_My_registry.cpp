// The settings store: the start check and start-up load, the transfers of the settings
// dialog, the window position, the web browser and the volume control.

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "SettingsTestSupport.h"
#include "platform/AtomicFile.h"
#include "platform/Registry.h"
#include "settings/My_registry.h"
#include "settings/SetupInstaller.h"

namespace {

class SettingsStoreTest : public RegistryTest {
protected:
    void SetUp() override
    {
        RegistryTest::SetUp();
        settingsStore = SettingsStore();
        savedPath = std::getenv("PATH");
    }
    void TearDown() override
    {
        setenv("PATH", savedPath.c_str(), 1);
        restoreFileWriteSteps();
        RegistryTest::TearDown();
    }

    // Runs the installer into a folder of this test.
    void runInstaller()
    {
        SetupOptions options;
        options.installPath = (folder / "install").string();
        std::ostringstream out, err;
        ASSERT_EQ(runSetup(options, "", out, err), 0) << err.str();
    }

    RegistryKey settingsKey(const std::string& subkey = kSettingsKey)
    {
        RegistryKey key(RegHive::LocalMachine, kRegistryRoot + subkey);
        EXPECT_TRUE(key.open(false).ok());
        return key;
    }

    // A PATH holding only a folder of this test with the given shell scripts, each of which
    // writes its arguments, one per line, to <folder>/<name>.out.
    void useFakePrograms(const std::vector<std::string>& names)
    {
        const std::filesystem::path bin = folder / "bin";
        std::filesystem::remove_all(bin);
        std::filesystem::create_directories(bin);
        for (const std::string& name : names) {
            std::ofstream(bin / name) << "#!/bin/sh\nprintf '%s\\n' \"$@\" > " << (folder / name).string()
                                      << ".part && /bin/mv " << (folder / name).string() << ".part "
                                      << (folder / name).string() << ".out\n";
            std::filesystem::permissions(bin / name, std::filesystem::perms::owner_all);
        }
        setenv("PATH", bin.c_str(), 1);
    }
    std::string argumentsOf(const std::string& name)
    {
        const std::filesystem::path out = folder / (name + ".out");
        for (int i = 0; i < 1000 && !std::filesystem::exists(out); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::ifstream in(out);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::string savedPath;
};

TEST_F(SettingsStoreTest, TheStartCheckFailsBeforeSetupAndPassesAfterIt)
{
    EXPECT_FALSE(SettingsInstalled());
    EXPECT_FALSE(LoadStartupSettings());
    EXPECT_TRUE(notifier.messages.empty()) << "a missing key is not reported by the store";
    EXPECT_EQ(kRunSetupText, "Please run Lirrosa Setup");

    // Only "DeskTop" is not enough.
    ASSERT_TRUE(SaveWindowPosition(1, 2));
    EXPECT_FALSE(SettingsInstalled());

    runInstaller();
    EXPECT_TRUE(SettingsInstalled());
}

TEST_F(SettingsStoreTest, BeforeTheRegistryIsReadThePathsComeFromTheProgramFolder)
{
    const std::string program = programFolder();
    ASSERT_EQ(program.back(), '/');
    EXPECT_TRUE(std::filesystem::exists(program + "test_My_registry"));
    EXPECT_EQ(settingsStore.installPath, program);
    EXPECT_EQ(settingsStore.workPath, program);
    EXPECT_EQ(settingsStore.dataPath, program + "data/");
    EXPECT_EQ(settingsStore.skinsPath, program + "skins/");
    EXPECT_EQ(settingsStore.skin, "BASE");
}

TEST_F(SettingsStoreTest, StartUpLoadReadsTheInstalledValues)
{
    runInstaller();
    RegistryKey settings = settingsKey();
    ASSERT_TRUE(settings.writeString("url", "example.org").ok());
    ASSERT_TRUE(settings.writeInteger("DelivOpt", 5).ok());
    ASSERT_TRUE(settings.writeInteger("ShowTips", 0).ok());
    ASSERT_TRUE(settingsKey(kDeskTopKey).writeInteger("Left", -40).ok());

    ASSERT_TRUE(LoadStartupSettings());
    const std::string install = (folder / "install").string() + "/";
    EXPECT_EQ(settingsStore.installPath, install);
    EXPECT_EQ(settingsStore.workPath, install);
    EXPECT_EQ(settingsStore.dataPath, install + "data/");
    EXPECT_EQ(settingsStore.skinsPath, install + "skins/");
    EXPECT_FALSE(settingsStore.showTips);
    EXPECT_EQ(settingsStore.deliveryOptions, kDeliverRtttl | kDeliverSms);
    EXPECT_EQ(settingsStore.url, "example.org");
    EXPECT_EQ(settingsStore.left, -40);
    EXPECT_EQ(settingsStore.top, 10);
    EXPECT_EQ(settingsStore.skin, "BASE");
    EXPECT_EQ(settingsStore.metronome.enabled, 1);
    EXPECT_EQ(settingsStore.metronome.sound, 1);
    EXPECT_EQ(settingsStore.metronome.volume, 60);
    EXPECT_TRUE(notifier.messages.empty());
}

TEST_F(SettingsStoreTest, AnAbsentOrEmptyMetronIsWrittenBackAs1160)
{
    runInstaller();
    for (bool remove : {true, false}) {
        RegistryKey settings = settingsKey();
        ASSERT_TRUE(remove ? settings.deleteValue("Metron").ok() : settings.writeString("Metron", "").ok());
        settingsStore.metronome = MetronomeSettings{};
        ASSERT_TRUE(LoadStartupSettings());
        std::string stored;
        ASSERT_TRUE(RegAccessString(false, "Metron", stored, kSettingsKey));
        EXPECT_EQ(stored, "1160");
        EXPECT_EQ(settingsStore.metronome.enabled, 1);
        EXPECT_EQ(settingsStore.metronome.sound, 1);
        EXPECT_EQ(settingsStore.metronome.volume, 60);
    }
}

TEST_F(SettingsStoreTest, MetronTexts)
{
    runInstaller();
    ASSERT_TRUE(settingsKey().writeString("Metron", "0275").ok());
    ASSERT_TRUE(LoadStartupSettings());
    EXPECT_EQ(settingsStore.metronome.enabled, 0);
    EXPECT_EQ(settingsStore.metronome.sound, 2);
    EXPECT_EQ(settingsStore.metronome.volume, 75);

    // Texts of another form leave the metronome as it is and are not rewritten.
    for (const std::string text : {"12", "1a60", "11128", "11-1", " 160"}) {
        settingsStore.metronome = MetronomeSettings{};
        ASSERT_TRUE(settingsKey().writeString("Metron", text).ok());
        ASSERT_TRUE(LoadStartupSettings());
        EXPECT_EQ(settingsStore.metronome.volume, 60) << text;
        std::string stored;
        ASSERT_TRUE(RegAccessString(false, "Metron", stored, kSettingsKey));
        EXPECT_EQ(stored, text);
    }

    EXPECT_EQ(metronomeText({1, 2, 90}), "1290");
    MetronomeSettings parsed;
    ASSERT_TRUE(parseMetronomeText("11127", parsed));
    EXPECT_EQ(parsed.volume, 127);
}

TEST_F(SettingsStoreTest, AMissingIntegerEndsTheLoadAndLeavesTheLaterValuesBuiltIn)
{
    runInstaller();
    RegistryKey settings = settingsKey();
    ASSERT_TRUE(settings.deleteValue("ShowTips").ok());
    ASSERT_TRUE(settings.writeString("InstallPath", "/opt/lirrosa/").ok());
    ASSERT_TRUE(settings.writeInteger("DelivOpt", 7).ok());
    ASSERT_TRUE(settings.writeString("url", "example.org").ok());
    ASSERT_TRUE(settings.writeString("Metron", "0275").ok());
    ASSERT_TRUE(settingsKey(kDeskTopKey).writeInteger("Left", 300).ok());
    ASSERT_TRUE(settingsKey(kDeskTopKey).writeString("Skin", "DARK").ok());

    EXPECT_FALSE(LoadStartupSettings());
    EXPECT_EQ(notifier.messages, std::vector<std::string>{"Failed to get data for 'ShowTips'"});
    EXPECT_EQ(settingsStore.installPath, "/opt/lirrosa/") << "values before the error are kept";
    EXPECT_EQ(settingsStore.skinsPath, "/opt/lirrosa/skins/");
    EXPECT_EQ(settingsStore.deliveryOptions, kDeliverRtttl);
    EXPECT_EQ(settingsStore.url, "");
    EXPECT_EQ(settingsStore.metronome.volume, 60);
    EXPECT_EQ(settingsStore.left, 10);
    EXPECT_EQ(settingsStore.skin, "BASE");
}

TEST_F(SettingsStoreTest, AValueOfTheWrongTypeEndsTheTransferAtThatValue)
{
    runInstaller();
    RegistryKey settings = settingsKey();
    ASSERT_TRUE(settings.writeInteger("MidiOutDev", 2).ok());
    ASSERT_TRUE(settings.writeString("TPQN", "240").ok());
    ASSERT_TRUE(settings.writeInteger("Tempo", 90).ok());

    SongSettings record;
    int32_t midiOut = 0;
    EXPECT_FALSE(AccessSongSettings(record, midiOut, false));
    EXPECT_EQ(notifier.messages, std::vector<std::string>{"Invalid data type for 'TPQN'"});
    EXPECT_EQ(midiOut, 2);
    EXPECT_EQ(record.tpqn, 480);
    EXPECT_EQ(record.tempo, 120);

    notifier.messages.clear();
    ASSERT_TRUE(settings.writeInteger("InstallPath", 3).ok());
    EXPECT_FALSE(LoadStartupSettings());
    EXPECT_EQ(notifier.messages, std::vector<std::string>{"Invalid data type for 'InstallPath'"});
}

TEST_F(SettingsStoreTest, SongSettingsRoundTripAndKeepTheLowOrderBits)
{
    runInstaller();
    SongSettings record;
    record.tpqn = 960;
    record.tempo = 75;
    record.recordTempo = 60;
    record.meterNum = 3;
    record.meterDen = 8;
    record.patch = 73;
    record.volume = 127;
    record.octaveShift = -3;
    record.channel = 15;
    int32_t midiOut = 4;
    ASSERT_TRUE(AccessSongSettings(record, midiOut, true));

    SongSettings read;
    int32_t readIndex = 0;
    ASSERT_TRUE(AccessSongSettings(read, readIndex, false));
    EXPECT_EQ(readIndex, 4);
    EXPECT_EQ(read.tpqn, 960);
    EXPECT_EQ(read.tempo, 75);
    EXPECT_EQ(read.recordTempo, 75) << "recordTempo follows tempo on read";
    EXPECT_EQ(read.meterNum, 3);
    EXPECT_EQ(read.meterDen, 8);
    EXPECT_EQ(read.patch, 73);
    EXPECT_EQ(read.volume, 127);
    EXPECT_EQ(read.octaveShift, -3);
    EXPECT_EQ(read.channel, 15);
    int32_t stored = 0;
    ASSERT_TRUE(RegAccessInteger(false, "OctShift", stored, kSettingsKey));
    EXPECT_EQ(stored, -3);

    RegistryKey settings = settingsKey();
    ASSERT_TRUE(settings.writeInteger("Patch", 0x1FF).ok());
    ASSERT_TRUE(settings.writeInteger("Tempo", 70000).ok());
    ASSERT_TRUE(AccessSongSettings(read, readIndex, false));
    EXPECT_EQ(read.patch, 0xFF);
    EXPECT_EQ(read.tempo, 70000 - 65536);
}

TEST_F(SettingsStoreTest, WaveDevicesChangeOnlyTheirOwnValues)
{
    runInstaller();
    const std::string before = registryText();
    int32_t input = 3, output = 1;
    ASSERT_TRUE(AccessWaveDevices(input, output, true));
    std::string expected = before;
    expected.replace(expected.find("\"WavInDev\"=dword:00000000"), 25, "\"WavInDev\"=dword:00000003");
    expected.replace(expected.find("\"WavOutDev\"=dword:00000000"), 26, "\"WavOutDev\"=dword:00000001");
    EXPECT_EQ(registryText(), expected);

    int32_t readIn = 0, readOut = 0;
    ASSERT_TRUE(AccessWaveDevices(readIn, readOut, false));
    EXPECT_EQ(readIn, 3);
    EXPECT_EQ(readOut, 1);
}

TEST_F(SettingsStoreTest, DeviceIndicesAndColumnWidthsAsTheDialogUsesThem)
{
    EXPECT_EQ(deviceIdFromIndex(0), -1);
    EXPECT_EQ(deviceIdFromIndex(-2), -1);
    EXPECT_EQ(deviceIdFromIndex(1), 0);
    EXPECT_EQ(deviceIdFromIndex(3), 2);
    // MidiOutDev 3 with two devices: a list of three entries with "Auto" keeps "Auto".
    EXPECT_EQ(storedDeviceEntry(3, 3), 0);
    EXPECT_EQ(storedDeviceEntry(2, 3), 2);
    EXPECT_EQ(storedDeviceEntry(-1, 3), 0);
    EXPECT_EQ(voiceDiagramColumnWidth(0), 1);
    EXPECT_EQ(voiceDiagramColumnWidth(5), 1);
    EXPECT_EQ(voiceDiagramColumnWidth(2), 2);
    EXPECT_EQ(voiceDiagramColumnWidth(1), 1);
}

TEST_F(SettingsStoreTest, TheWindowPositionSaveCreatesDeskTop)
{
    runInstaller();
    ASSERT_TRUE(RegistryFile(registryPath).update([](RegistryTree& tree) {
        tree.deleteKey(RegHive::LocalMachine, kRegistryRoot + kDeskTopKey);
        return RegResult();
    }).ok());
    ASSERT_TRUE(SaveWindowPosition(-5, 300));
    EXPECT_NE(registryText().find("\"Left\"=dword:fffffffb\n\"Top\"=dword:0000012c\n"), std::string::npos);
    int32_t left = 0;
    ASSERT_TRUE(RegAccessInteger(false, "Left", left, kDeskTopKey));
    EXPECT_EQ(left, -5);
}

TEST_F(SettingsStoreTest, AccessorsReadOtherProductsKeys)
{
    const std::string sibling = "\\software\\Tolvane Lab\\Kestrova\\";
    writeRegistryText("Windows Registry Editor Version 5.00\n\n"
                      "[HKEY_LOCAL_MACHINE\\software\\Tolvane Lab\\Kestrova\\Settings]\n"
                      "\"InstallPath\"=\"/opt/kestrova/\"\n");
    std::string path;
    ASSERT_TRUE(RegAccessString(false, "InstallPath", path, "Settings", sibling));
    EXPECT_EQ(path, "/opt/kestrova/");
    std::string absent = "previous";
    EXPECT_TRUE(RegAccessString(false, "Missing", absent, "Settings", sibling));
    EXPECT_EQ(absent, "");
    EXPECT_FALSE(RegAccessString(false, "InstallPath", path, "Settings", "\\software\\Kestrova Lab\\Kestrova\\"));
    EXPECT_TRUE(notifier.messages.empty());
    int32_t number = 7;
    EXPECT_FALSE(RegAccessInteger(false, "Missing", number, "Settings", sibling));
    EXPECT_EQ(number, 7);
    EXPECT_EQ(notifier.messages, std::vector<std::string>{"Failed to get data for 'Missing'"});
}

TEST_F(SettingsStoreTest, AFailedWriteIsReportedAndTheFileKept)
{
    runInstaller();
    const std::string before = registryText();
    setFileWriteSteps({::write, ::fsync, [](const char*, const char*) { return errno = ENOSPC, -1; }});
    int32_t flag = 1;
    EXPECT_FALSE(RegAccessInteger(true, "DisableDV", flag, kSettingsKey));
    EXPECT_FALSE(SaveWindowPosition(1, 1));
    restoreFileWriteSteps();
    EXPECT_EQ(notifier.messages,
              (std::vector<std::string>{"Failed to set data for 'DisableDV'", "Failed to set data for 'Left'"}));
    EXPECT_EQ(registryText(), before);
}

TEST_F(SettingsStoreTest, ACorruptFileIsReportedWithItsLineAndKept)
{
    const std::string corrupt = "Windows Registry Editor Version 5.00\n\n"
                                "[HKEY_LOCAL_MACHINE\\software\\Kestrova Lab\\Lirrosa Demo\\Settings]\n"
                                "\"TPQN\"=dword:1e0\n"
                                "\"Tempo\"=120\n";
    writeRegistryText(corrupt);
    EXPECT_FALSE(SettingsInstalled());
    ASSERT_EQ(notifier.messages.size(), 1u);
    EXPECT_NE(notifier.messages[0].find("line 5"), std::string::npos) << notifier.messages[0];
    EXPECT_FALSE(SaveWindowPosition(1, 1));
    std::ostringstream out, err;
    EXPECT_EQ(runSetup(SetupOptions{}, "", out, err), 1);
    EXPECT_NE(err.str().find("line 5"), std::string::npos) << err.str();
    EXPECT_EQ(registryText(), corrupt);
}

TEST_F(SettingsStoreTest, TheBrowserProgramIsTakenFromTheWebPageCommand)
{
    EXPECT_EQ(browserPathFromCommand("\"C:\\Program Files\\Internet Explorer\\iexplore.exe\" -nohome \"%1\""),
              "C:\\PROGRAM FILES\\INTERNET EXPLORER\\IEXPLORE.EXE");
    EXPECT_EQ(browserPathFromCommand("c:\\progra~1\\netscape\\netscp.exe -url %1"),
              "C:\\PROGRA~1\\NETSCAPE\\NETSCP.EXE");
    EXPECT_EQ(browserPathFromCommand("firefox --new-window %u"), "firefox");
    EXPECT_EQ(browserPathFromCommand("  \"/opt/My Browser/browser\" %u"), "/opt/My Browser/browser");
    EXPECT_EQ(browserPathFromCommand("/usr/bin/web.executor %u"), "/usr/bin/web.executor");
    EXPECT_EQ(browserPathFromCommand("   "), "");
}

TEST_F(SettingsStoreTest, FindWebBrowserUsesTheRegistryCommandAndReadsTheSiteAgain)
{
    runInstaller();
    RegistryKey command(RegHive::ClassesRoot, kBrowserCommandKey);
    ASSERT_TRUE(command.open(true).ok());
    ASSERT_TRUE(command.writeString("", "webview --private %1").ok());
    settingsStore.url = "old";
    ASSERT_TRUE(settingsKey().writeString("url", "example.org").ok());
    useFakePrograms({"webview"});

    FindWebBrowser();
    EXPECT_EQ(settingsStore.browserPath, "webview");
    EXPECT_EQ(settingsStore.url, "example.org");
    OpenWebAddress("example.org/download.html", kWebAddressPrompt);
    EXPECT_EQ(argumentsOf("webview"), "http://example.org/download.html\n");
    EXPECT_TRUE(notifier.messages.empty());
}

TEST_F(SettingsStoreTest, WithoutACommandKeyXdgOpenIsUsedOrTheAddressShown)
{
    runInstaller();
    useFakePrograms({"xdg-open"});
    FindWebBrowser();
    EXPECT_EQ(settingsStore.browserPath, (folder / "bin" / "xdg-open").string());
    OpenWebAddress("example.org", kWebAddressPrompt);
    EXPECT_EQ(argumentsOf("xdg-open"), "http://example.org\n");

    useFakePrograms({});
    settingsStore.browserPath.clear();
    FindWebBrowser();
    EXPECT_EQ(settingsStore.browserPath, "");
    OpenWebAddress("example.org", kWebAddressPrompt);
    EXPECT_EQ(notifier.messages, std::vector<std::string>{"Please start your web-browser\n\n and enter the "
                                                          "following web-address \n http://example.org"});

    // A browser that cannot be started leaves the user the address to type.
    notifier.messages.clear();
    settingsStore.browserPath = "C:\\PROGRAM FILES\\IEXPLORE.EXE";
    OpenWebAddress("example.org", "Open: ");
    EXPECT_EQ(notifier.messages, std::vector<std::string>{"Open: http://example.org"});
}

TEST_F(SettingsStoreTest, TheMixerOpensTheInputOrOutputPageOrSaysWhatToInstall)
{
    useFakePrograms({});
    OpenSystemMixer("-r");
    ASSERT_EQ(notifier.messages.size(), 1u);
    EXPECT_NE(notifier.messages[0].find("pavucontrol"), std::string::npos);

    useFakePrograms({"pavucontrol"});
    OpenSystemMixer("-r");
    EXPECT_EQ(argumentsOf("pavucontrol"), "--tab=4\n");
    std::filesystem::remove(folder / "pavucontrol.out");
    OpenSystemMixer("0");
    EXPECT_EQ(argumentsOf("pavucontrol"), "--tab=3\n");
    EXPECT_EQ(notifier.messages.size(), 1u);
}

} // namespace
