// The Linux side of the port inventory: device nodes in /dev, udev's view of each tty, file
// modes and groups, and the open descriptors in /proc.
#include "platform/PortInventoryBackend.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <grp.h>
#include <libudev.h>
#include <memory>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <type_traits>
#include <unistd.h>

namespace platform {

static_assert(std::is_same_v<UserId, uid_t> && std::is_same_v<GroupId, gid_t>);

namespace {

namespace fs = std::filesystem;

// Bounds on what the scans read, so that a huge or hostile process table cannot stall a listing:
// far above what a workstation or build server has.
constexpr size_t MaxDeviceEntries = 1 << 16;
constexpr size_t MaxProcesses = 1 << 16;
constexpr size_t MaxDescriptorsPerProcess = 1 << 16;
// Sysfs attributes and command names are short; anything longer is cut here.
constexpr size_t MaxAttributeLength = 256;
constexpr size_t MaxCommandLength = 64;
// A group entry larger than this is not worth listing a port for.
constexpr size_t MaxGroupBuffer = 1 << 20;
// The most digits a tty or process number has here.
constexpr size_t MaxIndexDigits = 10;

const std::string_view TtyFamilies[] = {"ttyS", "ttyUSB", "ttyACM"};

bool AllDigits(std::string_view text) {
    return !text.empty() && text.size() <= MaxIndexDigits &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool IsPortTtyName(std::string_view name) {
    return std::any_of(
        std::begin(TtyFamilies), std::end(TtyFamilies), [&](std::string_view family) {
            return name.substr(0, family.size()) == family && AllDigits(name.substr(family.size()));
        });
}

// Calls fn for at most limit entries of folder. Entries that vanish while the folder is read (a
// process ending) only end the walk early. Returns the error of opening the folder.
template <typename Fn> std::error_code ForEachEntry(const fs::path &folder, size_t limit, Fn fn) {
    std::error_code error;
    fs::directory_iterator it(folder, error);
    if (error) return error;
    for (size_t seen = 0; it != fs::directory_iterator() && seen < limit; ++seen) {
        fn(*it);
        it.increment(error);
        if (error) break;
    }
    return {};
}

// Text from sysfs or procfs without its line end, cut to at most limit bytes.
std::string Trimmed(std::string text, size_t limit) {
    if (text.size() > limit) text.resize(limit);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

std::string ReadShortFile(const fs::path &path, size_t limit) {
    std::ifstream in(path, std::ios::binary);
    std::string text(limit, '\0');
    in.read(text.data(), static_cast<std::streamsize>(limit));
    text.resize(static_cast<size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    return Trimmed(std::move(text), limit);
}

// --- udev ---

struct UdevUnref {
    void operator()(udev *context) const { udev_unref(context); }
    void operator()(udev_device *device) const { udev_device_unref(device); }
};
using UdevDevicePtr = std::unique_ptr<udev_device, UdevUnref>;

std::string Attribute(udev_device *device, const char *name) {
    const char *value = udev_device_get_sysattr_value(device, name);
    return value ? Trimmed(value, MaxAttributeLength) : std::string();
}

std::string Property(udev_device *device, const char *name) {
    const char *value = udev_device_get_property_value(device, name);
    return value ? Trimmed(value, MaxAttributeLength) : std::string();
}

UsbIdentity UsbIdentityOf(udev_device *tty, udev_device *usbDevice) {
    UsbIdentity usb;
    usb.vendorId = Attribute(usbDevice, "idVendor");
    usb.productId = Attribute(usbDevice, "idProduct");
    usb.serial = Attribute(usbDevice, "serial");
    usb.product = Attribute(usbDevice, "product");
    usb.manufacturer = Attribute(usbDevice, "manufacturer");
    // Cheap adapters often carry no strings; udev's hardware database may still name them.
    if (usb.product.empty()) usb.product = Property(tty, "ID_MODEL_FROM_DATABASE");
    if (usb.manufacturer.empty()) usb.manufacturer = Property(tty, "ID_VENDOR_FROM_DATABASE");
    return usb;
}

TtyFacts DescribeWithUdev(udev *context, const std::string &ttyName) {
    TtyFacts facts;
    if (!context) return facts;
    UdevDevicePtr tty(udev_device_new_from_subsystem_sysname(context, "tty", ttyName.c_str()));
    if (!tty) return facts;
    facts.known = true;
    // 8250-style ports the kernel reserves without finding a UART report type 0 (PORT_UNKNOWN);
    // opening one fails with EIO.
    facts.unknownUartType = Attribute(tty.get(), "type") == "0";
    // Parents belong to the child device and are released with it.
    if (udev_device *parent = udev_device_get_parent(tty.get())) {
        if (const char *driver = udev_device_get_driver(parent))
            facts.driver = Trimmed(driver, MaxAttributeLength);
    }
    if (udev_device *usbDevice =
            udev_device_get_parent_with_subsystem_devtype(tty.get(), "usb", "usb_device"))
        facts.usb = UsbIdentityOf(tty.get(), usbDevice);
    return facts;
}

// --- access ---

std::string GroupName(gid_t gid) {
    std::vector<char> buffer(1024);
    for (;;) {
        group entry{};
        group *found = nullptr;
        const int error = ::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found);
        if (error == 0 && found) return found->gr_name;
        if (error != ERANGE || buffer.size() >= MaxGroupBuffer) return std::to_string(gid);
        buffer.resize(buffer.size() * 2);
    }
}

UserIds ProcessUser() {
    UserIds user;
    user.uid = ::getuid();
    user.groups.push_back(::getgid());
    const int count = ::getgroups(0, nullptr);
    if (count > 0) {
        std::vector<gid_t> groups(static_cast<size_t>(count));
        const int got = ::getgroups(count, groups.data());
        if (got > 0) user.groups.insert(user.groups.end(), groups.begin(), groups.begin() + got);
    }
    return user;
}

// The permission bits of the class (owner, group, others) that user falls into, as the kernel
// picks it: the first class that matches decides, even when a later one would allow more.
bool ModeAllowsReadWrite(const struct stat &info, const UserIds &user) {
    if (user.uid == 0) return true;
    const mode_t mode = info.st_mode;
    if (user.uid == info.st_uid) return (mode & S_IRUSR) && (mode & S_IWUSR);
    if (std::find(user.groups.begin(), user.groups.end(), info.st_gid) != user.groups.end())
        return (mode & S_IRGRP) && (mode & S_IWGRP);
    return (mode & S_IROTH) && (mode & S_IWOTH);
}

// --- processes ---

void ScanDescriptors(const fs::path &fdFolder, long pid, const std::string &command,
                     const std::set<std::string> &devices, ProcessScan &scan) {
    // Another user's descriptors cannot be read without privileges; the listing shows the
    // holders this user can see, and says nothing of the rest.
    (void)ForEachEntry(fdFolder, MaxDescriptorsPerProcess, [&](const fs::directory_entry &fd) {
        std::error_code error;
        const fs::path target = fs::read_symlink(fd.path(), error);
        if (error || !devices.count(target.string())) return;
        auto &holders = scan.holders[target.string()];
        // A process with the device open twice is one holder.
        if (holders.empty() || holders.back().pid != pid) holders.push_back({pid, command});
    });
}

} // namespace

std::string LocalDeviceOf(const std::string &name) { return "/dev/" + name; }

std::vector<std::string> LocalTtyNames(const fs::path &root) {
    std::vector<std::string> names;
    const fs::path folder = root / "dev";
    const std::error_code error =
        ForEachEntry(folder, MaxDeviceEntries, [&](const fs::directory_entry &entry) {
            std::string name = entry.path().filename().string();
            if (IsPortTtyName(name)) names.push_back(std::move(name));
        });
    if (error)
        throw PortInventoryError("The serial ports could not be listed.",
                                 folder.string() + ": " + error.message());
    std::sort(names.begin(), names.end());
    return names;
}

std::function<TtyFacts(const std::string &)> SystemTtyDescriber() {
    // One udev context for the whole listing; a machine without udev just has no facts to give.
    std::shared_ptr<udev> context(udev_new(), UdevUnref());
    return
        [context](const std::string &ttyName) { return DescribeWithUdev(context.get(), ttyName); };
}

std::optional<PortAccess> CheckPortAccess(const fs::path &path,
                                          const std::optional<UserIds> &user) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    const UserIds ids = user ? *user : ProcessUser();
    PortAccess access;
    access.gid = info.st_gid;
    access.group = GroupName(info.st_gid);
    access.groupMayOpen = (info.st_mode & S_IRGRP) && (info.st_mode & S_IWGRP);
    access.inGroup =
        std::find(ids.groups.begin(), ids.groups.end(), info.st_gid) != ids.groups.end();
    // The kernel's own verdict for this process also weighs ACLs and capabilities.
    access.mayOpen =
        user ? ModeAllowsReadWrite(info, *user) : ::access(path.c_str(), R_OK | W_OK) == 0;
    return access;
}

ProcessScan ScanProcesses(const fs::path &root, const std::set<std::string> &devices) {
    ProcessScan scan;
    // A /proc that cannot be read only means no holders can be named; the ports are still listed.
    (void)ForEachEntry(root / "proc", MaxProcesses, [&](const fs::directory_entry &entry) {
        const std::string name = entry.path().filename().string();
        if (!AllDigits(name)) return;
        const long pid = std::stol(name);
        std::string command = ReadShortFile(entry.path() / "comm", MaxCommandLength);
        if (!command.empty()) scan.commands.insert(command);
        if (!devices.empty()) ScanDescriptors(entry.path() / "fd", pid, command, devices, scan);
    });
    return scan;
}

} // namespace platform
