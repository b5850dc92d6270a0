#include "cli/CliSettings.h"

#include "cli/CliExitCodes.h"
#include "platform/Registry.h"
#include "platform/Serial.h"
#include "settings/SettingsTable.h"
#include "settings/Zepenvironment.h"

#include <iostream>
#include <optional>

namespace {

const Setting *KnownSetting(const std::string &name) {
    const Setting *setting = FindSetting(name);
    if (!setting) {
        std::cerr << "tarnwick-cli: unknown setting \"" << name
                  << "\" (run \"tarnwick-cli settings\" for the names)\n";
    }
    return setting;
}

void PrintPortMap(std::ostream &out) {
    const platform::RegKey key(platform::PortMapKey);
    out << "[Ports]\n";
    for (const std::string &name : key.ValueNames()) {
        const std::optional<platform::RegValue> value = key.Query(name);
        const std::optional<std::string> device = value ? platform::StringOf(*value) : std::nullopt;
        // The port map reads only text; anything else maps nothing, and the listing says so.
        out << name << " = " << device.value_or("(not a text value: ignored)") << "\n";
    }
}

} // namespace

int ShowSettings(const std::string &programPath) {
    LoadSettings(programPath);
    PrintSettings(std::cout, Env());
    PrintPortMap(std::cout);
    return ExitOk;
}

int ShowOneSetting(const std::string &programPath, const std::string &name) {
    const Setting *setting = KnownSetting(name);
    if (!setting) return ExitUsage;
    LoadSettings(programPath);
    std::cout << SettingDisplayText(*setting, Env()) << "\n";
    return ExitOk;
}

// Changes one value only: the rest of the registry stays exactly as it is, whatever the
// defaults or searches of this start would have filled in.
int SetOneSetting(const std::string &programPath, const std::string &name,
                  const std::string &text) {
    const Setting *setting = KnownSetting(name);
    if (!setting) return ExitUsage;
    LoadSettings(programPath);
    std::string error;
    if (!ApplySettingText(*setting, Env(), text, error)) {
        std::cerr << "tarnwick-cli: " << error << "\n";
        return ExitUsage;
    }
    const std::string warning = SettingWarning(*setting, text);
    if (!warning.empty()) std::cerr << "tarnwick-cli: warning: " << warning << "\n";
    try {
        WriteSetting(*setting, Env());
    } catch (const platform::RegistryError &e) {
        std::cerr << "Error: " << e.what() << "\n";
        return ExitFailure;
    }
    return ExitOk;
}

int SetPortMapEntry(const std::string &comName, const std::string &device) {
    const Setting &comPort = *FindSetting("Com Port");
    const std::optional<int> number = platform::ComNumberOf(comName);
    if (!number || !SettingAllows(comPort, *number)) {
        std::cerr << "tarnwick-cli: \"" << comName << "\" is no port name: COMn, n "
                  << AllowedValues(comPort) << "\n";
        return ExitUsage;
    }
    if (!platform::IsSerialDeviceName(device)) {
        std::cerr << "tarnwick-cli: \"" << device
                  << "\" is no device: give a device path such as /dev/ttyUSB0, or "
                     "rfc2217://ADDRESS:PORT with a dotted IPv4 address\n";
        return ExitUsage;
    }
    try {
        platform::RegKey(platform::PortMapKey).SetString("COM" + std::to_string(*number), device);
    } catch (const platform::RegistryError &e) {
        std::cerr << "Error: " << e.what() << "\n";
        return ExitFailure;
    }
    return ExitOk;
}
