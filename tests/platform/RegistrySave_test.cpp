// Saving the registry file: one replacement per commit, a private temporary, the lock, the merge
// with what another program wrote, and a save killed at any moment.
#include "RegistryTestSupport.h"
#include "platform/posix/RegistryHive.h"
#include "support/RegistryReplacements.h"

#include <chrono>
#include <csignal>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace registrytest;
using platform::DwordOf;
using platform::DwordValue;
using platform::RegBatch;
using platform::RegKey;
using platform::RegMerge;
using platform::StringValue;
namespace regfile = platform::regfile;

namespace {

using RegistrySaveTest = RegistryFileTest;

TEST_F(RegistrySaveTest, ACommitReplacesTheFileOnceWhateverItHolds) {
    RegistryReplacements replacements;
    RegBatch batch;
    for (int i = 0; i < 43; ++i)
        batch.Set(KeyPath, DwordValue("Value " + std::to_string(i), static_cast<uint32_t>(i)));
    batch.Set("Software\\Other", StringValue("Text", "x"));
    batch.Commit();
    EXPECT_EQ(replacements.Count(), 1);
    RegKey(KeyPath).SetDword("Value 3", 30);
    EXPECT_EQ(replacements.Count(), 2);
    RegBatch().Commit(); // nothing to write: the file stays
    EXPECT_EQ(replacements.Count(), 2);
    platform::ReloadRegistry();
    EXPECT_EQ(RegKey(KeyPath).ValueNames().size(), 43u);
    EXPECT_EQ(DwordOf(*RegKey(KeyPath).Query("Value 3")), 30u);
}

TEST_F(RegistrySaveTest, TemporaryIsPrivateFromItsCreationAndTheLockIsHeldWhileReplacing) {
    mode_t mask = ::umask(0);
    std::vector<std::string> seen;
    RegistryReplacements replacements([&](const std::string &temporary, const std::string &file) {
        struct stat info {};
        EXPECT_EQ(::stat(temporary.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
        EXPECT_EQ(fs::path(temporary).parent_path(), fs::path(file).parent_path());
        int fd = ::open((file + ".lock").c_str(), O_RDWR | O_CLOEXEC);
        EXPECT_GE(fd, 0);
        EXPECT_NE(::flock(fd, LOCK_EX | LOCK_NB), 0) << "the save does not hold the lock";
        ::close(fd);
        seen.push_back(temporary);
        return 0;
    });
    RegKey(KeyPath).SetString("CorvixSys Password", "secret");
    ::umask(mask);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_FALSE(fs::exists(seen[0]));
}

TEST_F(RegistrySaveTest, FailedReplacementLeavesTheFileAndWhatWasReadAsTheyWere) {
    RegKey(KeyPath).SetDword("Com Port", 1);
    const std::string before = ReadText(file_);
    RegistryReplacements replacements([](const std::string &, const std::string &) { return EIO; });
    try {
        RegKey(KeyPath).SetDword("Com Port", 2);
        ADD_FAILURE() << "the save should have failed";
    } catch (const platform::RegistryError &e) {
        std::string what = e.what();
        EXPECT_NE(what.find(file_.string()), std::string::npos) << what;
        EXPECT_NE(what.find("rename"), std::string::npos) << what;
    }
    EXPECT_EQ(ReadText(file_), before);
    EXPECT_EQ(DwordOf(*RegKey(KeyPath).Query("Com Port")), 1u);
    EXPECT_EQ(FolderEntries(), (std::vector<std::string>{"registry.reg", "registry.reg.lock"}));
}

// One value as this program read it (base), as the file holds it at the save (current), and as
// this program writes it.
struct MergeCase {
    const char *name;
    std::optional<uint32_t> base;
    std::optional<uint32_t> current;
    std::optional<uint32_t> ours; // nothing: this program erases the value
    RegMerge merge;
    std::optional<uint32_t> expected;
};

TEST(RegistryMerge, EachValueFollowsWhoChangedIt) {
    const std::vector<MergeCase> cases = {
        {"changed here only", 1, 1, 2, RegMerge::Changed, 2},
        {"changed here and elsewhere: here wins", 1, 3, 2, RegMerge::Changed, 2},
        {"changed elsewhere only", 1, 3, 1, RegMerge::Unchanged, 3},
        {"changed nowhere: written as this program holds it", 70000, 70000, 4464,
         RegMerge::Unchanged, 4464},
        {"removed elsewhere: written back", 1, std::nullopt, 1, RegMerge::Unchanged, 1},
        {"first start, nobody stored it", std::nullopt, std::nullopt, 1, RegMerge::Unchanged, 1},
        {"first start, stored elsewhere meanwhile", std::nullopt, 7, 1, RegMerge::Unchanged, 7},
        {"erased here", 1, 3, std::nullopt, RegMerge::Changed, std::nullopt},
    };
    for (const MergeCase &c : cases) {
        SCOPED_TRACE(c.name);
        regfile::Hive base;
        regfile::Hive current;
        if (c.base) regfile::PutValue(base.Key("K"), DwordValue("V", *c.base));
        if (c.current) regfile::PutValue(current.Key("K"), DwordValue("V", *c.current));
        RegBatch::Write write{"K", DwordValue("V", c.ours.value_or(0)), c.merge, !c.ours};
        regfile::Hive merged = regfile::MergeWrites(current, base, {&write, 1});
        const platform::RegValue *value = regfile::FindValue(merged, "K", "v");
        ASSERT_EQ(value != nullptr, c.expected.has_value());
        if (value) {
            EXPECT_EQ(DwordOf(*value), c.expected);
        }
    }
}

TEST_F(RegistrySaveTest, CommitMergesIntoWhatAnotherProgramWroteMeanwhile) {
    const std::string head = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\" +
                             std::string(KeyPath) + "]\n";
    WriteText(file_, head + "\"Mine\"=dword:00000001\n\"Theirs\"=dword:00000001\n");
    RegKey key(KeyPath);
    ASSERT_EQ(key.ValueNames().size(), 2u); // read now, as a program does at its start
    WriteText(file_, head + "\"Mine\"=dword:00000001\n\"Theirs\"=dword:00000009\n"
                            "\"Added\"=dword:00000003\n\n"
                            "[HKEY_CURRENT_USER\\Software\\Vexlon\\ZEP\\Ports]\n"
                            "\"COM3\"=\"/dev/ttyUSB0\"\n");
    RegBatch batch;
    batch.Set(KeyPath, DwordValue("Mine", 2), RegMerge::Changed);
    batch.Set(KeyPath, DwordValue("Theirs", 1), RegMerge::Unchanged);
    batch.Commit();
    // What this program sees now is what the file holds.
    EXPECT_EQ(key.ValueNames(), (std::vector<std::string>{"Mine", "Theirs", "Added"}));
    platform::ReloadRegistry();
    EXPECT_EQ(DwordOf(*RegKey(KeyPath).Query("Mine")), 2u);
    EXPECT_EQ(DwordOf(*RegKey(KeyPath).Query("Theirs")), 9u);
    EXPECT_EQ(DwordOf(*RegKey(KeyPath).Query("Added")), 3u);
    EXPECT_EQ(platform::StringOf(*RegKey("Software\\Vexlon\\ZEP\\Ports").Query("COM3")),
              "/dev/ttyUSB0");
}

// ---- a save killed at any moment ----

constexpr int KillRounds = 200;
constexpr int ValuesPerVersion = 40; // some 17 KB, ten times the settings: a save takes a while
const char *const KillKey = "Kill";

std::string VersionText(uint32_t version, int index) {
    return "version " + std::to_string(version) + " value " + std::to_string(index) + " " +
           std::string(400, static_cast<char>('a' + index % 26));
}

RegBatch VersionBatch(uint32_t version) {
    RegBatch batch;
    batch.Set(KillKey, DwordValue("Version", version));
    for (int i = 0; i < ValuesPerVersion; ++i)
        batch.Set(KillKey, StringValue("V" + std::to_string(i), VersionText(version, i)));
    return batch;
}

// The child's whole life: save version after version, telling the parent after each one.
[[noreturn]] void SaveVersionsUntilKilled(int ackFd, uint32_t firstVersion) {
    constexpr uint32_t MaxSaves = 100000; // ends by itself should the parent never kill it
    for (uint32_t version = firstVersion; version < firstVersion + MaxSaves; ++version) {
        try {
            VersionBatch(version).Commit();
        } catch (...) {
            ::_exit(3);
        }
        const char ack = 1;
        if (::write(ackFd, &ack, 1) != 1) ::_exit(4);
    }
    ::_exit(0);
}

// Reads one acknowledgement; false when the child ended or ten seconds passed.
bool ReadAck(int fd) {
    pollfd ready{fd, POLLIN, 0};
    char ack = 0;
    return ::poll(&ready, 1, 10000) == 1 && ::read(fd, &ack, 1) == 1;
}

// The version the file holds, once it is checked to hold that one version whole.
std::optional<uint32_t> WholeVersion(const fs::path &file, std::string &why) {
    regfile::HiveFile read = regfile::ReadHiveFile(file.string());
    if (read.state != regfile::HiveFile::State::Read || !read.skipped.empty()) {
        why = read.skipped.empty()
                  ? "unreadable: " + read.problem
                  : "line " + std::to_string(read.skipped[0].line) + ": " + read.skipped[0].reason;
        return std::nullopt;
    }
    const regfile::HiveKey *key = read.hive.FindKey(KillKey);
    if (!key || key->values.size() != ValuesPerVersion + 1u) {
        why = "not every value is there";
        return std::nullopt;
    }
    std::optional<uint32_t> version = DwordOf(key->values[0]);
    for (int i = 0; version && i < ValuesPerVersion; ++i) {
        if (platform::StringOf(key->values[static_cast<size_t>(i) + 1]) !=
            VersionText(*version, i)) {
            why = "value " + std::to_string(i) + " is from another version";
            return std::nullopt;
        }
    }
    return version;
}

TEST_F(RegistrySaveTest, SaveKilledAtAnyMomentLeavesTheOldOrTheNewFileWhole) {
    // How long one save takes here, so that the kills sweep over the whole of one.
    const auto started = std::chrono::steady_clock::now();
    VersionBatch(1).Commit();
    const auto saveTime = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - started);
    uint32_t fileVersion = 1;
    for (int round = 0; round < KillRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        int acks[2];
        ASSERT_EQ(::pipe2(acks, O_CLOEXEC), 0);
        const uint32_t first = fileVersion + 1;
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(acks[0]);
            SaveVersionsUntilKilled(acks[1], first);
        }
        ::close(acks[1]);
        // Mostly after one whole save, at 0% to 119% of the way into the next one; every fourth
        // round during the very first.
        int saved = 0;
        if (round % 4 != 0 && ReadAck(acks[0])) ++saved;
        ::usleep(static_cast<useconds_t>(saveTime.count() * ((round * 37) % 120) / 100));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;
        while (ReadAck(acks[0])) // saves finished before the kill, not yet counted
            ++saved;
        ::close(acks[0]);

        std::string why;
        std::optional<uint32_t> version = WholeVersion(file_, why);
        ASSERT_TRUE(version) << why;
        // The last save acknowledged, or the one under way when the kill came.
        const uint32_t lastWhole =
            saved > 0 ? first + static_cast<uint32_t>(saved) - 1 : fileVersion;
        EXPECT_TRUE(*version == lastWhole || *version == lastWhole + 1)
            << "version " << *version << " after " << saved << " saves from " << first;
        fileVersion = *version;
    }
    // A new start reads the last version whole.
    platform::ReloadRegistry();
    EXPECT_EQ(DwordOf(*RegKey(KillKey).Query("Version")), fileVersion);
}

} // namespace
