// The port inventory's machine facts on Windows, kept minimal: the local ports are the COM
// names the system lists under HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM, and there is no
// device manager, permission or process scan to consult (a port held by another program fails
// its open with the system's own "Access is denied").
#include "platform/PortInventoryBackend.h"

#include <windows.h>

#include <algorithm>

namespace platform {

std::string LocalDeviceOf(const std::string &name) { return "\\\\.\\" + name; }

std::vector<std::string> LocalTtyNames(const std::filesystem::path &) {
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return names; // no serial hardware at all
    for (DWORD index = 0;; ++index) {
        char valueName[256];
        DWORD nameLength = sizeof valueName;
        char data[256] = {};
        DWORD dataLength = sizeof data - 1;
        DWORD type = 0;
        const LSTATUS status = ::RegEnumValueA(key, index, valueName, &nameLength, nullptr, &type,
                                               reinterpret_cast<BYTE *>(data), &dataLength);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status == ERROR_SUCCESS && type == REG_SZ) names.emplace_back(data);
    }
    ::RegCloseKey(key);
    std::sort(names.begin(), names.end());
    return names;
}

std::function<TtyFacts(const std::string &ttyName)> SystemTtyDescriber() {
    return [](const std::string &) { return TtyFacts{}; };
}

std::optional<PortAccess> CheckPortAccess(const std::filesystem::path &,
                                          const std::optional<UserIds> &) {
    return std::nullopt;
}

ProcessScan ScanProcesses(const std::filesystem::path &, const std::set<std::string> &) {
    return {};
}

} // namespace platform
