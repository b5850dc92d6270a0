// The serial port listing against a fake device and process tree in a temporary folder, with
// udev's facts and the user given by the test; and once against this machine.
#include "RegistryTestSupport.h"

#include "platform/PortInventory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <grp.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using platform::PortEntry;
using platform::PortHint;
using platform::PortPresence;

namespace {

const char PortsKey[] = "Software\\Vexlon\\ZEP\\Ports";

// A process of the fake /proc: its command name and the paths its descriptors point at.
struct FakeProcess {
    long pid = 0;
    std::string command;
    std::vector<std::string> openFiles;
};

platform::TtyFacts UsbFacts(const std::string &vendorId, const std::string &productId) {
    platform::TtyFacts facts;
    facts.known = true;
    facts.driver = "usb-serial";
    facts.usb = platform::UsbIdentity{vendorId, productId, "A1B2", "Adapter", "Maker"};
    return facts;
}

platform::TtyFacts UartFacts(bool uartFound) {
    platform::TtyFacts facts;
    facts.known = true;
    facts.driver = "port";
    facts.unknownUartType = !uartFound;
    return facts;
}

bool HasHint(const PortEntry &entry, PortHint hint) {
    return std::find(entry.hints.begin(), entry.hints.end(), hint) != entry.hints.end();
}

// A private registry, and a root folder holding dev/ and proc/ that the listing reads instead of
// the machine's own.
class PortTree : public registrytest::RegistryFileTest {
protected:
    void SetUp() override {
        RegistryFileTest::SetUp();
        root_ = folder_ / "root";
        fs::create_directories(root_ / "dev");
        fs::create_directories(root_ / "proc");
        // A user who owns nothing and is in no group of the test's files.
        user_.uid = ::getuid() + 1000;
        user_.groups = {::getgid() + 1000};
    }

    void AddDevice(const std::string &name, fs::perms mode = fs::perms(0660)) {
        const fs::path path = root_ / "dev" / name;
        std::ofstream(path).put('\0');
        fs::permissions(path, mode);
    }

    void AddProcess(const FakeProcess &process) {
        const fs::path folder = root_ / "proc" / std::to_string(process.pid);
        fs::create_directories(folder / "fd");
        std::ofstream(folder / "comm") << process.command << '\n';
        int fd = 0;
        // /proc shows each descriptor as a link to the path the file was opened by.
        for (const std::string &file : process.openFiles)
            fs::create_symlink(file, folder / "fd" / std::to_string(fd++));
    }

    static void MapPort(const std::string &comName, const std::string &device) {
        platform::RegKey(PortsKey).SetString(comName, device);
    }

    std::vector<PortEntry> List() const {
        platform::PortSources sources;
        sources.root = root_;
        sources.describe = [facts = facts_](const std::string &ttyName) {
            const auto found = facts.find(ttyName);
            return found == facts.end() ? platform::TtyFacts{} : found->second;
        };
        sources.user = user_;
        return platform::ListSerialPorts(sources);
    }

    // The entry of device in a listing; fails the test when it is not listed.
    static PortEntry Find(const std::vector<PortEntry> &entries, const std::string &device) {
        const auto found =
            std::find_if(entries.begin(), entries.end(),
                         [&](const PortEntry &entry) { return entry.device == device; });
        EXPECT_NE(found, entries.end()) << device << " is not listed";
        return found == entries.end() ? PortEntry{} : *found;
    }

    fs::path root_;
    std::map<std::string, platform::TtyFacts> facts_;
    platform::UserIds user_;
};

TEST_F(PortTree, HolderIsFoundWithItsCommandName) {
    AddDevice("ttyUSB0");
    AddDevice("ttyUSB1");
    AddProcess({321, "minicom", {"/dev/null", "/dev/ttyUSB0", "/dev/ttyUSB0"}});
    AddProcess({322, "bash", {"/dev/pts/0"}});
    // A process without a readable descriptor folder (another user's, or one that just ended).
    fs::create_directories(root_ / "proc" / "323");
    std::ofstream(root_ / "proc" / "323" / "comm") << "sshd\n";
    fs::create_directories(root_ / "proc" / "self");

    const auto entries = List();
    const PortEntry held = Find(entries, "/dev/ttyUSB0");
    ASSERT_EQ(held.holders.size(), 1u); // two descriptors, one holder
    EXPECT_EQ(held.holders[0].pid, 321);
    EXPECT_EQ(held.holders[0].command, "minicom");
    EXPECT_TRUE(HasHint(held, PortHint::HeldByOther));
    const PortEntry free = Find(entries, "/dev/ttyUSB1");
    EXPECT_TRUE(free.holders.empty());
    EXPECT_FALSE(HasHint(free, PortHint::HeldByOther));
}

// The programs that take serial ports away from their users: named when they hold the port, and
// when they run and are known to go after ports of this kind.
struct CulpritCase {
    const char *name;
    const char *tty;
    const char *vendorId;
    const char *productId;
    FakeProcess process;
    PortHint expected;
    bool expectedGiven;
};

void PrintTo(const CulpritCase &c, std::ostream *out) { *out << c.name; }

class CulpritHints : public PortTree, public ::testing::WithParamInterface<CulpritCase> {};

TEST_P(CulpritHints, NameTheProgramInTheWay) {
    const CulpritCase &c = GetParam();
    AddDevice(c.tty);
    facts_[c.tty] = UsbFacts(c.vendorId, c.productId);
    AddProcess(c.process);

    const PortEntry entry = Find(List(), std::string("/dev/") + c.tty);
    EXPECT_EQ(HasHint(entry, c.expected), c.expectedGiven);
}

INSTANTIATE_TEST_SUITE_P(PortTree, CulpritHints,
                         ::testing::Values(CulpritCase{"ModemManagerHoldsAcm",
                                                       "ttyACM0",
                                                       "2e8a",
                                                       "000a",
                                                       {40, "ModemManager", {"/dev/ttyACM0"}},
                                                       PortHint::ModemManager,
                                                       true},
                                           CulpritCase{"ModemManagerRunsBesideAcm",
                                                       "ttyACM0",
                                                       "2e8a",
                                                       "000a",
                                                       {40, "ModemManager", {}},
                                                       PortHint::ModemManager,
                                                       true},
                                           CulpritCase{"ModemManagerLeavesUsbSerialAlone",
                                                       "ttyUSB0",
                                                       "0403",
                                                       "6001",
                                                       {40, "ModemManager", {}},
                                                       PortHint::ModemManager,
                                                       false},
                                           CulpritCase{"ModemManagerHoldsUsbSerial",
                                                       "ttyUSB0",
                                                       "0403",
                                                       "6001",
                                                       {40, "ModemManager", {"/dev/ttyUSB0"}},
                                                       PortHint::ModemManager,
                                                       true},
                                           CulpritCase{"BrlttyRunsBesideCh340",
                                                       "ttyUSB0",
                                                       "1a86",
                                                       "7523",
                                                       {41, "brltty", {}},
                                                       PortHint::Brltty,
                                                       true},
                                           CulpritCase{"BrlttyRunsBesideCh341UpperCase",
                                                       "ttyUSB0",
                                                       "1A86",
                                                       "5523",
                                                       {41, "brltty", {}},
                                                       PortHint::Brltty,
                                                       true},
                                           CulpritCase{"BrlttyLeavesFtdiAlone",
                                                       "ttyUSB0",
                                                       "0403",
                                                       "6001",
                                                       {41, "brltty", {}},
                                                       PortHint::Brltty,
                                                       false},
                                           CulpritCase{"BrlttyHoldsFtdi",
                                                       "ttyUSB0",
                                                       "0403",
                                                       "6001",
                                                       {41, "brltty", {"/dev/ttyUSB0"}},
                                                       PortHint::Brltty,
                                                       true},
                                           CulpritCase{"Ch340WithoutBrltty",
                                                       "ttyUSB0",
                                                       "1a86",
                                                       "7523",
                                                       {42, "bash", {}},
                                                       PortHint::Brltty,
                                                       false},
                                           CulpritCase{"CulpritIsNoOtherHolder",
                                                       "ttyACM0",
                                                       "2e8a",
                                                       "000a",
                                                       {40, "ModemManager", {"/dev/ttyACM0"}},
                                                       PortHint::HeldByOther,
                                                       false},
                                           CulpritCase{"TerminalProgramIsAnotherHolder",
                                                       "ttyUSB0",
                                                       "1a86",
                                                       "7523",
                                                       {43, "picocom", {"/dev/ttyUSB0"}},
                                                       PortHint::HeldByOther,
                                                       true}),
                         [](const ::testing::TestParamInfo<CulpritCase> &param) {
                             return param.param.name;
                         });

TEST_F(PortTree, AccessFollowsTheClassTheUserFallsInto) {
    const std::map<std::string, int> modes = {
        {"ttyUSB0", 0660}, {"ttyUSB1", 0600}, {"ttyUSB2", 0666}, {"ttyUSB3", 0066}};
    for (const auto &[name, mode] : modes) {
        AddDevice(name, fs::perms(mode));
        // Root passes every check and root's group is no group to join: as root, the files go to
        // an ordinary owner and group.
        if (::geteuid() == 0) {
            ASSERT_EQ(::chown((root_ / "dev" / name).c_str(), 4242, 4243), 0);
        }
    }
    struct stat info {};
    ASSERT_EQ(::stat((root_ / "dev" / "ttyUSB0").c_str(), &info), 0);
    const group *owningGroup = ::getgrgid(info.st_gid);
    const std::string groupName = owningGroup ? owningGroup->gr_name : std::to_string(info.st_gid);

    // Neither owner nor member: only the bits for others count.
    auto entries = List();
    PortEntry entry = Find(entries, "/dev/ttyUSB0");
    ASSERT_TRUE(entry.access);
    EXPECT_FALSE(entry.access->mayOpen);
    EXPECT_FALSE(entry.access->inGroup);
    EXPECT_EQ(entry.access->group, groupName);
    EXPECT_EQ(entry.hints, std::vector<PortHint>{PortHint::JoinGroup});
    // The group may not open this one either, so joining it would not help.
    EXPECT_EQ(Find(entries, "/dev/ttyUSB1").hints,
              std::vector<PortHint>{PortHint::PermissionDenied});
    EXPECT_TRUE(Find(entries, "/dev/ttyUSB2").access->mayOpen);

    // A member of the owning group.
    user_.groups.push_back(info.st_gid);
    entries = List();
    entry = Find(entries, "/dev/ttyUSB0");
    EXPECT_TRUE(entry.access->mayOpen);
    EXPECT_TRUE(entry.access->inGroup);
    EXPECT_TRUE(entry.hints.empty());
    entry = Find(entries, "/dev/ttyUSB1");
    EXPECT_FALSE(entry.access->mayOpen);
    EXPECT_EQ(entry.hints, std::vector<PortHint>{PortHint::PermissionDenied});

    // The owner is judged by the owner bits alone, even where the group bits would allow more.
    user_.uid = info.st_uid;
    EXPECT_FALSE(Find(List(), "/dev/ttyUSB3").access->mayOpen);

    user_.uid = 0;
    EXPECT_TRUE(Find(List(), "/dev/ttyUSB1").access->mayOpen);
}

TEST_F(PortTree, MappedEntriesAppearWithTheirComNumbers) {
    AddDevice("ttyUSB0");
    AddDevice("ttyUSB1");
    AddDevice("ttyACM1");
    AddDevice("ttyUSB40");
    fs::create_directories(root_ / "dev" / "serial" / "by-id");
    fs::create_symlink("../../ttyUSB1", root_ / "dev" / "serial" / "by-id" / "usb-Maker_Adapter");
    MapPort("COM3", "/dev/ttyUSB0");
    MapPort("COM33", "/dev/ttyACM1"); // takes COM33 away from ttyUSB0
    MapPort("com5", "/dev/serial/by-id/usb-Maker_Adapter");
    MapPort("COM7", "rfc2217://127.0.0.1:4000");
    MapPort("COM9", "/dev/ttyNoSuchAdapter");
    platform::RegKey(PortsKey).SetDword("COM10", 1); // not a mapping

    const auto entries = List();
    std::vector<std::string> order(entries.size());
    std::transform(entries.begin(), entries.end(), order.begin(),
                   [](const PortEntry &entry) { return entry.device; });
    EXPECT_EQ(order,
              (std::vector<std::string>{"/dev/ttyUSB0", "/dev/ttyUSB1", "rfc2217://127.0.0.1:4000",
                                        "/dev/ttyNoSuchAdapter", "/dev/ttyACM1", "/dev/ttyUSB40"}));

    EXPECT_EQ(Find(entries, "/dev/ttyUSB0").comPorts, std::vector<int>{3});
    EXPECT_TRUE(Find(entries, "/dev/ttyUSB0").mapped);
    EXPECT_EQ(Find(entries, "/dev/ttyUSB1").comPorts, (std::vector<int>{5, 34}));
    EXPECT_EQ(Find(entries, "/dev/ttyACM1").comPorts, (std::vector<int>{33, 66}));

    const PortEntry remote = Find(entries, "rfc2217://127.0.0.1:4000");
    EXPECT_EQ(remote.comPorts, std::vector<int>{7});
    EXPECT_EQ(remote.presence, PortPresence::Remote);
    EXPECT_FALSE(remote.access);
    EXPECT_TRUE(remote.hints.empty());

    const PortEntry absent = Find(entries, "/dev/ttyNoSuchAdapter");
    EXPECT_EQ(absent.comPorts, std::vector<int>{9});
    EXPECT_EQ(absent.presence, PortPresence::Absent);
    EXPECT_FALSE(absent.access);
    EXPECT_EQ(absent.hints, std::vector<PortHint>{PortHint::NotFound});

    const PortEntry unreachable = Find(entries, "/dev/ttyUSB40");
    EXPECT_TRUE(unreachable.comPorts.empty());
    EXPECT_FALSE(unreachable.mapped);
    EXPECT_TRUE(HasHint(unreachable, PortHint::NoComNumber));
}

TEST_F(PortTree, ReservedUartPortsWithoutHardwareAreLeftOut) {
    AddDevice("ttyS0");
    AddDevice("ttyS1");
    AddDevice("ttyS2");
    AddDevice("ttyS3");
    AddDevice("ttyS3x"); // not a port name
    AddDevice("ttyprintk");
    facts_["ttyS0"] = UartFacts(true);
    facts_["ttyS1"] = UartFacts(false);
    facts_["ttyS3"] = UartFacts(false); // ttyS2 has no device entry at all
    MapPort("COM20", "/dev/ttyS3");

    const auto entries = List();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].device, "/dev/ttyS0");
    EXPECT_EQ(entries[0].comPorts, std::vector<int>{1});
    EXPECT_FALSE(HasHint(entries[0], PortHint::NoUart));
    // Named in the Ports key, so listed, with the reason it will not work.
    EXPECT_EQ(entries[1].device, "/dev/ttyS3");
    EXPECT_EQ(entries[1].comPorts, (std::vector<int>{4, 20}));
    EXPECT_TRUE(HasHint(entries[1], PortHint::NoUart));
}

TEST_F(PortTree, NoPortsIsAnEmptyListing) {
    AddProcess({50, "ModemManager", {}});
    EXPECT_TRUE(List().empty());
}

TEST_F(PortTree, UnreadableDeviceFolderFailsTheListing) {
    fs::remove_all(root_ / "dev");
    EXPECT_THROW(List(), platform::PortInventoryError);
}

// This machine, whatever it has: the listing must finish and every entry must make sense.
TEST_F(PortTree, ThisMachineListsWellFormedEntries) {
    MapPort("COM7", "rfc2217://127.0.0.1:4000");
    std::vector<PortEntry> entries;
    ASSERT_NO_THROW(entries = platform::ListSerialPorts());
    ASSERT_FALSE(entries.empty()); // the mapping at least
    for (const PortEntry &entry : entries) {
        SCOPED_TRACE(entry.device);
        EXPECT_FALSE(entry.device.empty());
        EXPECT_TRUE(std::is_sorted(entry.comPorts.begin(), entry.comPorts.end()));
        for (int comPort : entry.comPorts) EXPECT_GT(comPort, 0);
        if (!entry.mapped) {
            EXPECT_EQ(entry.presence, PortPresence::Present);
        }
        EXPECT_EQ(entry.access.has_value(), entry.presence == PortPresence::Present);
        for (const platform::PortHolder &holder : entry.holders) EXPECT_GT(holder.pid, 0);
        if (entry.facts.usb) {
            EXPECT_EQ(entry.facts.usb->vendorId.size(), 4u);
            EXPECT_EQ(entry.facts.usb->productId.size(), 4u);
        }
    }
}

} // namespace
