#pragma once
// Helpers for the settings tests: a private registry file per test (through $LIRROSA_REGISTRY,
// never the user's own) and a notifier that records the message boxes instead of showing them.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/UserNotifier.h"

class RecordingNotifier : public UserNotifier {
public:
    MessageAnswer show(const std::string& text, const std::string&, MessageIcon, MessageButtons) override
    {
        messages.push_back(text);
        return MessageAnswer::Ok;
    }
    std::vector<std::string> messages;
};

// A fresh folder and registry path for one test; the notifier is installed for its duration.
class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "lirrosa-settings-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder = pattern;
        registryPath = (folder / "config" / "registry.reg").string();
        setenv("LIRROSA_REGISTRY", registryPath.c_str(), 1);
        setUserNotifier(&notifier);
    }
    void TearDown() override
    {
        setUserNotifier(nullptr);
        unsetenv("LIRROSA_REGISTRY");
        std::filesystem::remove_all(folder);
    }

    void writeRegistryText(const std::string& text)
    {
        std::filesystem::create_directories(std::filesystem::path(registryPath).parent_path());
        std::ofstream(registryPath, std::ios::binary) << text;
    }
    std::string registryText() const
    {
        std::ifstream in(registryPath, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::filesystem::path folder;
    std::string registryPath;
    RecordingNotifier notifier;
};
