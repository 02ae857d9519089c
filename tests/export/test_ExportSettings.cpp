#include "export/SiblingProgram.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

#include "export/DeliverySettings.h"
#include "settings/My_registry.h"
#include "settings/SettingsTestSupport.h"

namespace {

class SiblingLookUp : public RegistryTest {
protected:
    // A folder for the sibling program, named as the registry text wants it.
    std::string programFolder(const std::vector<std::string>& files)
    {
        const std::filesystem::path at = folder / "kestrova";
        std::filesystem::create_directories(at);
        for (const std::string& name : files)
            std::ofstream(at / name) << "#!/bin/sh\n";
        return at.string() + "/";
    }

    void installUnder(const std::string& root, const std::string& installPath)
    {
        std::string key = root.substr(1) + "Settings";
        writeRegistryText("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\" + key +
                          "]\r\n\"InstallPath\"=\"" + installPath + "\"\r\n");
    }
};

TEST_F(SiblingLookUp, OnlyTheOlderRootWithTheOlderProgram)
{
    installUnder(kOlderSiblingRoot, programFolder({"kstr_am.exe"}));
    SiblingProgram sibling;
    lookUpSiblingProgram(sibling);
    EXPECT_TRUE(sibling.found);
    EXPECT_EQ(std::filesystem::path(sibling.path).filename(), "kstr_am.exe");
    EXPECT_TRUE(notifier.messages.empty());
}

TEST_F(SiblingLookUp, CurrentRootPrefersKestrovaAndAddsTheSlash)
{
    std::string at = programFolder({"kestrova.exe", "kstr_am.exe"});
    at.pop_back();
    installUnder(kSiblingRoot, at);
    SiblingProgram sibling;
    lookUpSiblingProgram(sibling);
    EXPECT_TRUE(sibling.found);
    EXPECT_EQ(sibling.path, at + "/kestrova.exe");
}

TEST_F(SiblingLookUp, NeitherRootLooksAgainNextTime)
{
    SiblingProgram sibling;
    lookUpSiblingProgram(sibling);
    EXPECT_FALSE(sibling.found);
    EXPECT_EQ(sibling.path, "");
    EXPECT_FALSE(startSiblingProgram(sibling, "/tmp/score.mid"));

    installUnder(kSiblingRoot, programFolder({"kestrova.exe"}));
    lookUpSiblingProgram(sibling);
    EXPECT_TRUE(sibling.found);
}

TEST_F(SiblingLookUp, AMissingProgramKeepsItsPathAndIsNotLookedUpAgain)
{
    installUnder(kSiblingRoot, programFolder({}));
    SiblingProgram sibling;
    lookUpSiblingProgram(sibling);
    EXPECT_FALSE(sibling.found);
    EXPECT_EQ(std::filesystem::path(sibling.path).filename(), "kstr_am.exe");
    programFolder({"kestrova.exe"});
    lookUpSiblingProgram(sibling);
    EXPECT_FALSE(sibling.found);
}

TEST_F(SiblingLookUp, StartsTheProgramWithTheScore)
{
    const std::string at = programFolder({});
    const std::filesystem::path program = std::filesystem::path(at) / "kestrova.exe";
    const std::filesystem::path seen = folder / "argument";
    std::ofstream(program) << "#!/bin/sh\nprintf '%s' \"$1\" > '" << seen.string() << ".part' && mv '"
                           << seen.string() << ".part' '" << seen.string() << "'\n";
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    installUnder(kSiblingRoot, at);
    SiblingProgram sibling;
    lookUpSiblingProgram(sibling);
    ASSERT_TRUE(startSiblingProgram(sibling, "/tmp/my score.mid"));
    for (int i = 0; i < 500 && !std::filesystem::exists(seen); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::ifstream in(seen);
    std::string argument((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(argument, "/tmp/my score.mid");
    EXPECT_FALSE(startSiblingProgram(sibling, ""));
}

TEST_F(SiblingLookUp, DeliveryFieldsAndOptionsAreStored)
{
    writeRegistryText("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\software\\Kestrova Lab\\"
                      "Lirrosa Demo\\Settings]\r\n\"DelivOpt\"=dword:00000001\r\n\r\n[HKEY_LOCAL_MACHINE\\software\\"
                      "Kestrova Lab\\Lirrosa Demo\\Info]\r\n\"LastMailTo\"=\"old@example.org\"\r\n");
    std::string mail;
    std::string phone = "x";
    loadDeliveryFields(mail, phone);
    EXPECT_EQ(mail, "old@example.org");
    EXPECT_EQ(phone, "");

    DeliveryChoice choice;
    choice.mailTo = "new@example.org";
    choice.phoneNumber = "13055551234";
    storeDeliveryFields(choice); // without SMS the phone number is not kept
    loadDeliveryFields(mail, phone);
    EXPECT_EQ(mail, "new@example.org");
    EXPECT_EQ(phone, "");
    choice.sms = true;
    storeDeliveryFields(choice);
    loadDeliveryFields(mail, phone);
    EXPECT_EQ(phone, "13055551234");

    ASSERT_TRUE(storeDeliveryOptions(5));
    EXPECT_EQ(settingsStore.deliveryOptions, 5u);
    int32_t stored = 0;
    ASSERT_TRUE(RegAccessInteger(false, "DelivOpt", stored, kSettingsKey));
    EXPECT_EQ(stored, 5);
    EXPECT_TRUE(notifier.messages.empty());
}

} // namespace
