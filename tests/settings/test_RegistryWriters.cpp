// Writers at the same time: two processes and two threads, each with its own handle on the
// same registry file, lose no change; a reader never sees a half-written file.

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "SettingsTestSupport.h"
#include "platform/Registry.h"

namespace {

const std::string kKey = "\\software\\Test Lab\\Product\\Counters";
constexpr int kIncrements = 40;

// One read-modify-write: adds 1 to the shared counter and to the writer's own.
RegResult increment(const std::string& path, const std::string& own)
{
    return RegistryFile(path).update([&](RegistryTree& tree) {
        RegKey& key = tree.createKey(RegHive::LocalMachine, kKey);
        for (const std::string& name : {std::string("Shared"), own}) {
            const RegValue* value = key.find(name);
            key.set(name, RegValue::ofDword(value != nullptr ? value->dword + 1 : 1));
        }
        return RegResult();
    });
}

int32_t counter(const std::string& path, const std::string& name)
{
    RegistryKey key(RegHive::LocalMachine, kKey, path);
    int32_t value = -1;
    EXPECT_TRUE(key.open(false).ok());
    EXPECT_TRUE(key.readInteger(name, value).ok()) << name;
    return value;
}

class RegistryWritersTest : public RegistryTest {};

TEST_F(RegistryWritersTest, TwoProcessesWritingAtOnceLoseNoChange)
{
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    const std::string own = child == 0 ? "Child" : "Parent";
    bool allWritten = true;
    for (int i = 0; i < kIncrements; ++i)
        allWritten = increment(registryPath, own).ok() && allWritten;
    if (child == 0)
        _exit(allWritten ? 0 : 1);

    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "a write of the other process failed";
    EXPECT_TRUE(allWritten);
    EXPECT_EQ(counter(registryPath, "Parent"), kIncrements);
    EXPECT_EQ(counter(registryPath, "Child"), kIncrements);
    EXPECT_EQ(counter(registryPath, "Shared"), 2 * kIncrements);
}

TEST_F(RegistryWritersTest, TwoThreadsWithTheirOwnHandlesLoseNoChangeAndReadersSeeWholeFiles)
{
    // Each thread writes its own values through its own key handle and counts through the file.
    std::atomic<bool> writing{true};
    std::atomic<int> failedWrites{0};
    std::atomic<int> failedReads{0};
    auto writer = [&](const std::string& own) {
        RegistryKey key(RegHive::LocalMachine, kKey, registryPath);
        if (!key.open(true).ok())
            ++failedWrites;
        for (int i = 0; i < kIncrements; ++i) {
            if (!increment(registryPath, own).ok())
                ++failedWrites;
            if (!key.writeString(own + "Text" + std::to_string(i), "value " + std::to_string(i)).ok())
                ++failedWrites;
        }
    };
    std::thread reader([&] {
        while (writing) {
            RegistryTree tree;
            if (!RegistryFile(registryPath).load(tree).ok())
                ++failedReads;
        }
    });
    std::thread first(writer, "First");
    std::thread second(writer, "Second");
    first.join();
    second.join();
    writing = false;
    reader.join();

    EXPECT_EQ(failedWrites, 0);
    EXPECT_EQ(failedReads, 0) << "a reader saw a file that did not parse";
    EXPECT_EQ(counter(registryPath, "Shared"), 2 * kIncrements);
    RegistryKey key(RegHive::LocalMachine, kKey, registryPath);
    ASSERT_TRUE(key.open(false).ok());
    for (const std::string own : {"First", "Second"})
        for (int i = 0; i < kIncrements; ++i)
            EXPECT_TRUE(key.hasValue(own + "Text" + std::to_string(i))) << own << i;
}

} // namespace
