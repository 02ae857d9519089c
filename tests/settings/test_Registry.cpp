// The registry file: the ".reg" text format, keys and values, and the safety of writes.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

#include "SettingsTestSupport.h"
#include "platform/AtomicFile.h"
#include "platform/Registry.h"

namespace {

const std::string kKey = "\\software\\Test Lab\\Product\\Settings";

class RegistryFileTest : public RegistryTest {
protected:
    void TearDown() override
    {
        restoreFileWriteSteps();
        RegistryTest::TearDown();
    }

    RegistryKey openedKey(RegHive hive, const std::string& path, bool create = true)
    {
        RegistryKey key(hive, path, registryPath);
        EXPECT_TRUE(key.open(create).ok());
        return key;
    }
};

TEST_F(RegistryFileTest, EveryValueKindSurvivesARoundTripThroughTheFile)
{
    RegistryKey key = openedKey(RegHive::LocalMachine, kKey);
    ASSERT_TRUE(key.writeString("Path", "C:\\dir\\\"quoted\" name\\").ok());
    ASSERT_TRUE(key.writeString("Empty", "").ok());
    ASSERT_TRUE(key.writeString("Unicode", "Grüße, 音").ok());
    ASSERT_TRUE(key.writeInteger("Count", 30).ok());
    ASSERT_TRUE(key.writeInteger("Negative", -5).ok());
    ASSERT_TRUE(key.writeString("", "default text").ok());
    RegistryKey command = openedKey(RegHive::ClassesRoot, "\\htmlfile\\shell\\open\\command");
    ASSERT_TRUE(command.writeString("", "\"/opt/browser\" %1").ok());
    openedKey(RegHive::LocalMachine, "\\software\\Test Lab\\Product\\Info"); // a key without values

    const std::string text = registryText();
    EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\n", 0), 0u);
    EXPECT_NE(text.find("\n[HKEY_LOCAL_MACHINE\\software\\Test Lab\\Product\\Settings]\n@=\"default text\"\n"
                        "\"Path\"=\"C:\\\\dir\\\\\\\"quoted\\\" name\\\\\"\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\"Count\"=dword:0000001e\n"), std::string::npos);
    EXPECT_NE(text.find("\"Negative\"=dword:fffffffb\n"), std::string::npos);
    EXPECT_NE(text.find("[HKEY_CLASSES_ROOT\\htmlfile\\shell\\open\\command]\n@=\"\\\"/opt/browser\\\" %1\"\n"),
              std::string::npos);
    EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\software\\Test Lab\\Product\\Info]\n"), std::string::npos);

    // Read back through fresh handles, and the text written from what was read is the same.
    RegistryKey reread(RegHive::LocalMachine, kKey, registryPath);
    ASSERT_TRUE(reread.open(false).ok());
    std::string value;
    int32_t number = 0;
    ASSERT_TRUE(reread.readString("Path", value).ok());
    EXPECT_EQ(value, "C:\\dir\\\"quoted\" name\\");
    ASSERT_TRUE(reread.readString("Unicode", value).ok());
    EXPECT_EQ(value, "Grüße, 音");
    ASSERT_TRUE(reread.readString("Empty", value).ok());
    EXPECT_EQ(value, "");
    ASSERT_TRUE(reread.readString("", value).ok());
    EXPECT_EQ(value, "default text");
    ASSERT_TRUE(reread.readInteger("Negative", number).ok());
    EXPECT_EQ(number, -5);
    RegistryTree tree;
    ASSERT_TRUE(RegistryFile(registryPath).load(tree).ok());
    EXPECT_EQ(tree.toText(), text);
    EXPECT_TRUE(tree.hasKey(RegHive::LocalMachine, "\\software\\Test Lab\\Product\\Info"));
}

TEST_F(RegistryFileTest, AHandEditedFileReads)
{
    writeRegistryText("\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
                      "\r\n"
                      "; written by hand\r\n"
                      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\test lab\\PRODUCT\\settings]\r\n"
                      "\"Tempo\" = dword:7D   \r\n"
                      "\"Name\"=\"first\"\r\n"
                      "  \"name\"=\"second\"\r\n"
                      "[HKEY_LOCAL_MACHINE\\software\\Test Lab\\Product\\Settings]\n"
                      "\"Extra\"=dword:FFFFFFFF\n");
    RegistryKey key(RegHive::LocalMachine, kKey, registryPath);
    ASSERT_TRUE(key.open(false).ok());
    int32_t number = 0;
    std::string text;
    ASSERT_TRUE(key.readInteger("TEMPO", number).ok());
    EXPECT_EQ(number, 125);
    ASSERT_TRUE(key.readInteger("Extra", number).ok());
    EXPECT_EQ(number, -1);
    ASSERT_TRUE(key.readString("Name", text).ok());
    EXPECT_EQ(text, "second"); // the later line wins, as in the registry editor
}

TEST_F(RegistryFileTest, KeysOpenWithoutCreationOnlyWhenTheyExistAndTypesAreChecked)
{
    RegistryKey missing(RegHive::LocalMachine, kKey, registryPath);
    EXPECT_EQ(missing.open(false).status, RegStatus::KeyNotFound);
    EXPECT_FALSE(std::filesystem::exists(registryPath)) << "opening without creation wrote the file";

    RegistryKey key = openedKey(RegHive::LocalMachine, kKey);
    ASSERT_TRUE(key.writeInteger("Number", 7).ok());
    ASSERT_TRUE(key.writeString("Text", "x").ok());
    // Parents exist once a subkey does; the other hive is separate.
    EXPECT_TRUE(RegistryKey(RegHive::LocalMachine, "\\software\\test lab\\", registryPath).open(false).ok());
    EXPECT_FALSE(RegistryKey(RegHive::ClassesRoot, kKey, registryPath).open(false).ok());

    std::string text;
    int32_t number = 0;
    EXPECT_EQ(key.readString("Number", text).status, RegStatus::WrongType);
    EXPECT_EQ(key.readInteger("Text", number).status, RegStatus::WrongType);
    EXPECT_EQ(key.readInteger("Nothing", number).status, RegStatus::ValueAbsent);
    EXPECT_EQ(key.readString("Nothing", text).status, RegStatus::ValueAbsent);
}

TEST_F(RegistryFileTest, DeletingValuesAndKeys)
{
    RegistryKey key = openedKey(RegHive::LocalMachine, kKey);
    ASSERT_TRUE(key.writeInteger("Number", 7).ok());
    ASSERT_TRUE(key.deleteValue("number").ok());
    EXPECT_EQ(key.deleteValue("Number").status, RegStatus::ValueAbsent);
    int32_t number = 0;
    EXPECT_EQ(key.readInteger("Number", number).status, RegStatus::ValueAbsent);

    RegistryTree tree;
    tree.createKey(RegHive::LocalMachine, "\\a\\b\\c\\d");
    tree.createKey(RegHive::LocalMachine, "\\a\\bb");
    EXPECT_TRUE(tree.deleteKey(RegHive::LocalMachine, "\\A\\B"));
    EXPECT_FALSE(tree.hasKey(RegHive::LocalMachine, "\\a\\b\\c\\d"));
    EXPECT_FALSE(tree.hasKey(RegHive::LocalMachine, "\\a\\b"));
    EXPECT_TRUE(tree.hasKey(RegHive::LocalMachine, "\\a\\bb"));
    EXPECT_TRUE(tree.deleteKey(RegHive::LocalMachine, "\\a\\bb"));
    EXPECT_TRUE(tree.hasKey(RegHive::LocalMachine, "\\a")) << "the parent went with its last subkey";
    EXPECT_FALSE(tree.deleteKey(RegHive::LocalMachine, "\\x"));
}

TEST_F(RegistryFileTest, ACorruptFileIsReportedWithItsLineAndNeverOverwritten)
{
    const std::string header = "Windows Registry Editor Version 5.00\n\n";
    const struct {
        std::string text;
        std::string line;
    } cases[] = {
        {"REGEDIT4\n", "line 1:"},
        {header + "\"Orphan\"=\"x\"\n", "line 3:"},
        {header + "[HKEY_LOCAL_MACHINE\\k]\n\"Open\"=\"no end\n", "line 4:"},
        {header + "[HKEY_LOCAL_MACHINE\\k]\n\"Path\"=\"C:\\dir\"\n", "line 4:"},
        {header + "[HKEY_LOCAL_MACHINE\\k]\n\"N\"=dword:123456789\n", "line 4:"},
        {header + "[HKEY_LOCAL_MACHINE\\k]\n\"N\"=dword:12g4\n", "line 4:"},
        {header + "[HKEY_LOCAL_MACHINE\\k]\n\"N\"=hex:01,02\n", "line 4:"},
        {header + "[HKEY_LOCAL_MACHINE\\k]\n\"N\"=\"a\" trailing\n", "line 4:"},
        {header + "[HKEY_CURRENT_USER\\k]\n", "line 3:"},
        {header + "[HKEY_LOCAL_MACHINE\\k\n", "line 3:"},
        {header + "[HKEY_LOCAL_MACHINE]\n", "line 3:"},
        {header + "[-HKEY_LOCAL_MACHINE\\k]\n", "line 3:"},
        {header + "[HKEY_LOCAL_MACHINE\\k]\nName=1\n", "line 4:"},
        {"\xFF\xFEW\0i\0", "UTF-16"},
    };
    for (const auto& c : cases) {
        writeRegistryText(c.text);
        RegistryKey key(RegHive::LocalMachine, "\\k", registryPath);
        RegResult opened = key.open(true);
        EXPECT_EQ(opened.status, RegStatus::FileInvalid) << c.text;
        EXPECT_NE(opened.detail.find(c.line), std::string::npos) << opened.detail;
        EXPECT_NE(opened.detail.find(registryPath), std::string::npos) << opened.detail;

        RegResult changed = RegistryFile(registryPath).update([](RegistryTree& tree) {
            tree.createKey(RegHive::LocalMachine, "\\k").set("N", RegValue::ofDword(1));
            return RegResult();
        });
        EXPECT_EQ(changed.status, RegStatus::FileInvalid);
        EXPECT_EQ(registryText(), c.text) << "a file that does not parse was overwritten";
    }
}

TEST_F(RegistryFileTest, AnInterruptedWriteLeavesTheOldFileIntact)
{
    RegistryKey key = openedKey(RegHive::LocalMachine, kKey);
    ASSERT_TRUE(key.writeString("Keep", "old").ok());
    const std::string before = registryText();

    const FileWriteSteps failures[] = {
        // The disk fills up after part of the file was written.
        {[](int fd, const void* data, size_t size) -> ssize_t {
             if (::write(fd, data, size / 2) < 0)
                 return -1;
             errno = ENOSPC;
             return -1;
         },
         ::fsync, ::rename},
        {::write, [](int) { return errno = EIO, -1; }, ::rename},
        {::write, ::fsync, [](const char*, const char*) { return errno = EIO, -1; }},
    };
    for (const FileWriteSteps& steps : failures) {
        setFileWriteSteps(steps);
        RegResult result = key.writeString("Keep", "new");
        restoreFileWriteSteps();
        EXPECT_EQ(result.status, RegStatus::WriteFailed);
        EXPECT_FALSE(result.detail.empty());
        EXPECT_EQ(registryText(), before);
        EXPECT_FALSE(std::filesystem::exists(registryPath + ".tmp")) << "the temporary file was left behind";
        std::string value;
        ASSERT_TRUE(key.readString("Keep", value).ok());
        EXPECT_EQ(value, "old") << "the handle shows a value the file does not hold";
    }
    ASSERT_TRUE(key.writeString("Keep", "new").ok());
    EXPECT_NE(registryText().find("\"Keep\"=\"new\""), std::string::npos);
}

TEST_F(RegistryFileTest, ANewFileIsTheUsersAloneAndALinkedFileIsWrittenThrough)
{
    RegistryKey key = openedKey(RegHive::LocalMachine, kKey);
    ASSERT_TRUE(key.writeString("EMail", "someone@example.org").ok());
    struct stat info {};
    ASSERT_EQ(::stat(registryPath.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    // The settings kept elsewhere and linked: the link stays, the file it names changes.
    const std::filesystem::path target = std::filesystem::path(registryPath).parent_path() / "kept.reg";
    std::filesystem::rename(registryPath, target);
    std::filesystem::create_symlink(target, registryPath);
    ASSERT_TRUE(key.writeString("EMail", "other@example.org").ok());
    EXPECT_TRUE(std::filesystem::is_symlink(registryPath));
    EXPECT_NE(registryText().find("other@example.org"), std::string::npos);
    ASSERT_EQ(::stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(RegistryFileTest, LineBreaksAreRefusedBecauseTheFileCannotHoldThem)
{
    RegistryKey key = openedKey(RegHive::LocalMachine, kKey);
    const std::string before = registryText();
    EXPECT_EQ(key.writeString("Text", "two\nlines").status, RegStatus::WriteFailed);
    EXPECT_EQ(key.writeInteger("Bad\rName", 1).status, RegStatus::WriteFailed);
    EXPECT_EQ(registryText(), before);
}

TEST_F(RegistryFileTest, TheFileIsFoundThroughTheEnvironment)
{
    EXPECT_EQ(RegistryFile::defaultPath(), registryPath);
    unsetenv("LIRROSA_REGISTRY");
    const char* oldXdg = std::getenv("XDG_CONFIG_HOME");
    const std::string savedXdg = oldXdg != nullptr ? oldXdg : "";
    setenv("XDG_CONFIG_HOME", "/tmp/xdg-config", 1);
    EXPECT_EQ(RegistryFile::defaultPath(), "/tmp/xdg-config/lirrosa/registry.reg");
    unsetenv("XDG_CONFIG_HOME");
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        EXPECT_EQ(RegistryFile::defaultPath(), std::string(home) + "/.config/lirrosa/registry.reg");
    }
    if (oldXdg != nullptr)
        setenv("XDG_CONFIG_HOME", savedXdg.c_str(), 1);
}

} // namespace
