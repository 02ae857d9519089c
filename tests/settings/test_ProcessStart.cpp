// Starting programs without waiting: the argument vector arrives unchanged and a missing
// program is reported.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "SettingsTestSupport.h"
#include "platform/ProcessStart.h"

namespace {

class ProcessStartTest : public RegistryTest {
protected:
    // Waits up to 10 s for a file that a started program writes completely (renamed into place).
    std::string waitForFile(const std::filesystem::path& path)
    {
        for (int i = 0; i < 1000 && !std::filesystem::exists(path); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
};

TEST_F(ProcessStartTest, ArgumentsReachTheProgramUnchanged)
{
    const std::filesystem::path output = folder / "args.txt";
    const std::string script = "printf '%s|' \"$@\" > \"$0.part\" && mv \"$0.part\" \"$0\"";
    std::string error;
    ASSERT_TRUE(startDetached({"sh", "-c", script, output.string(), "two words", "\"quoted\" $HOME;", ""}, &error))
        << error;
    EXPECT_EQ(waitForFile(output), "two words|\"quoted\" $HOME;||");
}

TEST_F(ProcessStartTest, AProgramThatIsNotThereIsReported)
{
    std::string error;
    EXPECT_FALSE(startDetached({"lirrosa-no-such-program"}, &error));
    EXPECT_EQ(error, "No such file or directory");
    EXPECT_FALSE(startDetached({}, &error));
}

TEST_F(ProcessStartTest, ProgramsAreFoundInPath)
{
    const std::filesystem::path bin = folder / "bin";
    std::filesystem::create_directories(bin);
    std::ofstream(bin / "tool") << "#!/bin/sh\n";
    std::filesystem::permissions(bin / "tool", std::filesystem::perms::owner_all);
    std::ofstream(bin / "plain") << "not executable\n";

    const std::string savedPath = std::getenv("PATH");
    setenv("PATH", ("/nonexistent:" + bin.string()).c_str(), 1);
    EXPECT_EQ(findProgramInPath("tool"), (bin / "tool").string());
    EXPECT_EQ(findProgramInPath("plain"), "") << "a file without execute permission";
    EXPECT_EQ(findProgramInPath("sh"), "");
    setenv("PATH", savedPath.c_str(), 1);
    EXPECT_NE(findProgramInPath("sh"), "");
    EXPECT_EQ(findProgramInPath((bin / "tool").string()), (bin / "tool").string());
}

} // namespace
