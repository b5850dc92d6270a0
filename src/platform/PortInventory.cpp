// The port inventory's own logic: which devices to list, the COM numbers that reach each one,
// and the hints. What it reads of the machine comes through PortInventoryBackend.h.
#include "platform/PortInventory.h"

#include "platform/PortInventoryBackend.h"
#include "platform/Serial.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <system_error>

namespace platform {

namespace {

namespace fs = std::filesystem;

constexpr const char ModemManagerCommand[] = "ModemManager";
constexpr const char BrlttyCommand[] = "brltty";

bool IsRemote(const std::string &device) { return device.find("://") != std::string::npos; }

fs::path InRoot(const fs::path &root, const std::string &device) {
    return root / fs::path(device).relative_path();
}

// The device as the kernel names it, links followed ("/dev/serial/by-id/usb-..." is
// "/dev/ttyUSB0"), which is also how /proc shows it open. A device that does not resolve, or
// resolves outside the root, stays as it was written.
std::string Resolved(const fs::path &root, const std::string &device) {
    if (IsRemote(device)) return device;
    std::error_code error;
    const fs::path real = fs::canonical(InRoot(root, device), error);
    if (error) return device;
    const fs::path realRoot = fs::canonical(root, error);
    if (error) return device;
    const fs::path inside = real.lexically_relative(realRoot);
    if (inside.empty() || *inside.begin() == "..") return device;
    return (fs::path("/") / inside).string();
}

// The tty name udev knows a device by: only devices directly in /dev have one.
std::string TtyNameOf(const std::string &device) {
    const fs::path path(device);
    return path.parent_path() == "/dev" ? path.filename().string() : std::string();
}

bool StartsWith(const std::string &text, const std::string &prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// ttyS nodes exist for every port the kernel reserves; only those with a driver and a known
// UART type are ports.
bool LacksUart(const PortEntry &entry) {
    if (!StartsWith(TtyNameOf(entry.device), "ttyS")) return false;
    return !entry.facts.known || entry.facts.driver.empty() || entry.facts.unknownUartType;
}

std::vector<int> ComPortsOf(const std::string &device, const std::vector<ComPortMapping> &mappings,
                            const fs::path &root) {
    std::vector<int> comPorts;
    for (const ComPortMapping &mapping : mappings)
        if (Resolved(root, mapping.device) == device) comPorts.push_back(mapping.comPort);
    // The built-in range reaches the device unless the Ports key sends that COM number elsewhere.
    const int byDefault = DefaultComPortOf(device);
    const bool overridden =
        std::any_of(mappings.begin(), mappings.end(),
                    [&](const ComPortMapping &mapping) { return mapping.comPort == byDefault; });
    if (byDefault > 0 && !overridden) comPorts.push_back(byDefault);
    std::sort(comPorts.begin(), comPorts.end());
    comPorts.erase(std::unique(comPorts.begin(), comPorts.end()), comPorts.end());
    return comPorts;
}

void Examine(PortEntry &entry, const PortSources &sources,
             const std::function<TtyFacts(const std::string &)> &describe,
             const std::vector<ComPortMapping> &mappings) {
    entry.comPorts = ComPortsOf(entry.device, mappings, sources.root);
    if (IsRemote(entry.device)) {
        entry.presence = PortPresence::Remote;
        return;
    }
    std::error_code error;
    const fs::path path = InRoot(sources.root, entry.device);
    entry.presence = fs::exists(path, error) ? PortPresence::Present : PortPresence::Absent;
    if (entry.presence != PortPresence::Present) return;
    if (const std::string ttyName = TtyNameOf(entry.device); !ttyName.empty())
        entry.facts = describe(ttyName);
    entry.access = CheckPortAccess(path, sources.user);
}

// Joining the group is the cure only where the group may open the device; nobody should be
// told to join root's group.
bool JoiningHelps(const PortAccess &access) {
    return !access.inGroup && access.groupMayOpen && access.gid != 0;
}

bool HeldBy(const PortEntry &entry, const std::string &command) {
    return std::any_of(entry.holders.begin(), entry.holders.end(),
                       [&](const PortHolder &holder) { return holder.command == command; });
}

bool HeldByOther(const PortEntry &entry) {
    return std::any_of(entry.holders.begin(), entry.holders.end(), [](const PortHolder &holder) {
        return holder.command != ModemManagerCommand && holder.command != BrlttyCommand;
    });
}

// ModemManager opens every new ttyACM to ask whether it is a modem; brltty's rules take the
// CH340/CH341 family for braille displays. Either may hold the port when we look, or grab it
// the next time it appears, so a running one is worth naming for the ports it goes after.
std::vector<PortHint> HintsFor(const PortEntry &entry, const std::set<std::string> &commands) {
    std::vector<PortHint> hints;
    if (entry.presence == PortPresence::Absent) {
        hints.push_back(PortHint::NotFound);
        return hints;
    }
    if (LacksUart(entry) && entry.presence == PortPresence::Present)
        hints.push_back(PortHint::NoUart);
    if (entry.comPorts.empty()) hints.push_back(PortHint::NoComNumber);
    if (entry.access && !entry.access->mayOpen)
        hints.push_back(JoiningHelps(*entry.access) ? PortHint::JoinGroup
                                                    : PortHint::PermissionDenied);
    const bool acm = StartsWith(TtyNameOf(entry.device), "ttyACM");
    if (HeldBy(entry, ModemManagerCommand) || (acm && commands.count(ModemManagerCommand)))
        hints.push_back(PortHint::ModemManager);
    const bool claimedUsbId =
        entry.facts.usb && BrlttyClaimsUsbId(entry.facts.usb->vendorId, entry.facts.usb->productId);
    if (HeldBy(entry, BrlttyCommand) || (claimedUsbId && commands.count(BrlttyCommand)))
        hints.push_back(PortHint::Brltty);
    if (HeldByOther(entry)) hints.push_back(PortHint::HeldByOther);
    return hints;
}

bool ListedBefore(const PortEntry &a, const PortEntry &b) {
    // Ports that no COM number reaches go last.
    if (a.comPorts.empty() != b.comPorts.empty()) return b.comPorts.empty();
    if (!a.comPorts.empty() && a.comPorts.front() != b.comPorts.front())
        return a.comPorts.front() < b.comPorts.front();
    return a.device < b.device;
}

bool SameHex(const std::string &a, const char *b) {
    return std::equal(
        a.begin(), a.end(), b, b + std::char_traits<char>::length(b),
        [](char x, char y) { return std::tolower(static_cast<unsigned char>(x)) == y; });
}

} // namespace

std::vector<PortEntry> ListSerialPorts(const PortSources &sources) {
    const auto describe = sources.describe ? sources.describe : SystemTtyDescriber();
    const std::vector<ComPortMapping> mappings = MappedComPorts();

    std::map<std::string, PortEntry> byDevice;
    for (const ComPortMapping &mapping : mappings)
        byDevice[Resolved(sources.root, mapping.device)].mapped = true;
    for (const std::string &name : LocalTtyNames(sources.root))
        byDevice.try_emplace(LocalDeviceOf(name));

    std::vector<PortEntry> entries;
    for (auto &[device, entry] : byDevice) {
        entry.device = device;
        Examine(entry, sources, describe, mappings);
        // A reserved ttyS without a UART is listed only when the Ports key names it.
        if (entry.mapped || !LacksUart(entry)) entries.push_back(std::move(entry));
    }

    std::set<std::string> present;
    for (const PortEntry &entry : entries)
        if (entry.presence == PortPresence::Present) present.insert(entry.device);
    ProcessScan scan = ScanProcesses(sources.root, present);
    for (PortEntry &entry : entries) {
        if (auto held = scan.holders.find(entry.device); held != scan.holders.end())
            entry.holders = std::move(held->second);
        entry.hints = HintsFor(entry, scan.commands);
    }
    std::sort(entries.begin(), entries.end(), ListedBefore);
    return entries;
}

std::string DescribeHolders(const std::string &device) {
    if (IsRemote(device)) return {};
    const std::string real = Resolved("/", device);
    const ProcessScan scan = ScanProcesses("/", {real});
    const auto found = scan.holders.find(real);
    if (found == scan.holders.end()) return {};
    std::string text;
    for (const PortHolder &holder : found->second) {
        if (!text.empty()) text += ", ";
        text += holder.command + " (pid " + std::to_string(holder.pid) + ")";
    }
    return text;
}

bool BrlttyClaimsUsbId(const std::string &vendorId, const std::string &productId) {
    // 7523 and 7522 are the CH340, 5523 the CH341 in its serial mode.
    if (!SameHex(vendorId, "1a86")) return false;
    return SameHex(productId, "7523") || SameHex(productId, "7522") || SameHex(productId, "5523");
}

std::string PortHintText(PortHint hint, const PortEntry &entry) {
    const std::string group = entry.access ? entry.access->group : std::string();
    switch (hint) {
    case PortHint::NotFound:
        return "the device does not exist: the adapter is unplugged or named differently";
    case PortHint::NoUart: return "the kernel found no UART at this port";
    case PortHint::NoComNumber:
        return "no COM number reaches this device: map one with \"tarnwick-cli settings set-port "
               "COMn " +
               entry.device + "\"";
    case PortHint::JoinGroup:
        return "add yourself to the " + group + " group (sudo usermod -aG " + group +
               " $USER), then log in again";
    case PortHint::PermissionDenied:
        return "the device's mode or ACL refuses you; a udev rule can give it to the dialout group";
    case PortHint::ModemManager:
        return "ModemManager probes ttyACM devices: stop it (sudo systemctl stop ModemManager) or "
               "mark the adapter ID_MM_DEVICE_IGNORE=1 in a udev rule";
    case PortHint::Brltty:
        return "brltty claims CH340/CH341 adapters as braille displays: remove it (sudo apt remove "
               "brltty) or disable its udev rules";
    case PortHint::HeldByOther:
        for (const PortHolder &holder : entry.holders)
            if (holder.command != ModemManagerCommand && holder.command != BrlttyCommand)
                return "close " + holder.command + " (pid " + std::to_string(holder.pid) +
                       "), which has the port open";
        return "another program has the port open";
    }
    return {};
}

} // namespace platform
