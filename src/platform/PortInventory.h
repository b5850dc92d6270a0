// The machine's serial ports as the user meets them: each local port with the COM numbers that
// reach it through the port map, its USB identity, whether this user may open it and which
// processes hold it, plus every entry of the Ports key (remote and absent devices included), each
// with hints for the faults users meet (permissions, ModemManager, brltty).
#pragma once

#include <exception>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform {

// A user and a group by number (uid_t and gid_t on POSIX).
using UserId = unsigned int;
using GroupId = unsigned int;

// What the USB device behind an adapter says of itself (sysfs attributes; empty when absent).
struct UsbIdentity {
    std::string vendorId;  // four hex digits, "1a86"
    std::string productId; // four hex digits, "7523"
    std::string serial;
    std::string product;
    std::string manufacturer;
};

// What the device manager (udev) knows of one tty.
struct TtyFacts {
    bool known = false;           // the tty has a device entry at all
    std::string driver;           // driver of the tty's device ("ftdi_sio", "cdc_acm", "port")
    bool unknownUartType = false; // a ttyS whose "type" is 0: the kernel found no UART there
    std::optional<UsbIdentity> usb;
};

// Who the checks are made for; by default this process, with the kernel's own access() verdict.
struct UserIds {
    UserId uid = 0;
    std::vector<GroupId> groups; // primary and supplementary groups
};

// Where the inventory looks. The defaults are the real machine; tests give a temporary folder
// holding dev/ and proc/, their own tty facts and a user.
struct PortSources {
    std::filesystem::path root = "/"; // dev/ and proc/ are looked up below it
    std::function<TtyFacts(const std::string &ttyName)> describe; // empty: udev
    std::optional<UserIds> user; // empty: this process, judged by access(R_OK | W_OK)
};

// A process that has the device open.
struct PortHolder {
    long pid = 0;
    std::string command; // /proc/PID/comm
};

// Whether the user may open the device for reading and writing, and why not.
struct PortAccess {
    bool mayOpen = false;
    GroupId gid = 0;           // the owning group
    std::string group;         // its name (its number when it has none)
    bool inGroup = false;      // the user is a member of that group
    bool groupMayOpen = false; // the group's mode bits allow reading and writing
};

enum class PortPresence { Present, Absent, Remote };

// What a user should know about a port, most pressing first. PortHintText words each one.
enum class PortHint {
    NotFound,         // a mapped local device that does not exist
    NoUart,           // a mapped ttyS where the kernel found no UART
    NoComNumber,      // no COM number reaches the device
    JoinGroup,        // no access, and joining the device's group would give it
    PermissionDenied, // no access, and the group would not help (mode, ACL or root's group)
    ModemManager,     // ModemManager holds the port, or runs and probes ttyACM devices
    Brltty,           // brltty holds the port, or runs and claims CH340/CH341 adapters
    HeldByOther,      // another program has the port open
};

struct PortEntry {
    std::vector<int> comPorts; // every COM number the port map sends here, ascending
    std::string device;        // "/dev/ttyUSB0", "rfc2217://127.0.0.1:4000"
    bool mapped = false;       // named by an entry of the Ports key
    PortPresence presence = PortPresence::Absent;
    TtyFacts facts;
    std::optional<PortAccess> access; // local devices that are present
    std::vector<PortHolder> holders;
    std::vector<PortHint> hints; // most pressing first
};

// One hint as a sentence for the user, naming the group or program of the entry.
std::string PortHintText(PortHint hint, const PortEntry &entry);

// The listing could not be made at all (the device folder cannot be read). What() is the
// reason, Detail() names the folder and the system's reason.
class PortInventoryError : public std::exception {
public:
    PortInventoryError(std::string message, std::string detail)
        : message_(std::move(message)), detail_(std::move(detail)) {}
    const char *what() const noexcept override { return message_.c_str(); }
    const std::string &Detail() const { return detail_; }

private:
    std::string message_;
    std::string detail_;
};

// The ports of the machine, ordered by their lowest COM number (ports no COM number reaches
// last, by device). Lists /dev/ttyS* that have a UART, /dev/ttyUSB*, /dev/ttyACM* and every
// Ports entry. Processes and descriptors that cannot be read are skipped. Throws
// PortInventoryError when the device folder cannot be read.
std::vector<PortEntry> ListSerialPorts(const PortSources &sources = {});

// The processes that have device open, as a user reads them: "ModemManager (pid 812), screen
// (pid 4410)"; empty when none is seen. For the detail of a port that is busy.
std::string DescribeHolders(const std::string &device);

// True for USB ids that brltty's rules claim as braille displays although they are common
// serial adapters (the WCH CH340/CH341 family).
bool BrlttyClaimsUsbId(const std::string &vendorId, const std::string &productId);

} // namespace platform
