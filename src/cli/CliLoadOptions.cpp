#include "cli/CliLoadOptions.h"

#include "comm/CommLog.h"
#include "comm/CommLogSwitches.h"
#include "platform/Serial.h"
#include "platform/Socket.h"
#include "settings/SettingsTable.h"

#include <charconv>
#include <optional>

namespace {

const Setting &ComPortSetting() { return *FindSetting("Com Port"); }
const Setting &DownloadRateSetting() { return *FindSetting("Max Negotiated Baud"); }

std::optional<int32_t> DecimalOf(std::string_view text) {
    int32_t number = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return number;
}

struct HostPort {
    std::string host;
    uint16_t port = 0;
};

// "192.168.1.50:4244": a dotted IPv4 address that fits the record's 15-character field (names
// are never looked up) and a port from 1 to 65535.
std::optional<HostPort> HostPortOf(const std::string &text) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos) return std::nullopt;
    HostPort result{text.substr(0, colon)};
    const std::optional<int32_t> port = DecimalOf(std::string_view(text).substr(colon + 1));
    if (result.host.size() > CommOptions::AddressSize - 1 || !platform::ParseIpv4(result.host) ||
        !port || *port < 1 || *port > 65535)
        return std::nullopt;
    result.port = static_cast<uint16_t>(*port);
    return result;
}

void UseSerialPort(const std::string &port, Environment &env) {
    env.Comm.UseTCP = 0;
    if (const std::optional<int> number = platform::ComNumberOf(port)) {
        env.Comm.ComPort = *number;
        return;
    }
    // A device of its own goes in under the COM number the settings name, so the log and the
    // messages still speak of a COM port; a number no port can have becomes COM1.
    if (!SettingAllows(ComPortSetting(), env.Comm.ComPort)) env.Comm.ComPort = 1;
    platform::SetPortOverride(env.Comm.ComPort, port);
}

void UseNetworkDevice(const HostPort &target, NetworkDevice device, Environment &env) {
    CommOptions &comm = env.Comm;
    comm.UseTCP = 1;
    const bool link = device == NetworkDevice::CorvixLink;
    comm.UseCorvixLink = link ? 1 : 0;
    comm.UseCorvixSys = link ? 0 : 1;
    if (link) {
        SetField(comm.CorvixLinkAddress, std::string_view(target.host));
        comm.CorvixLinkTcpPort = target.port;
    } else {
        SetField(comm.CorvixSysAddress, std::string_view(target.host));
        comm.CorvixSysTcpPort = target.port;
    }
}

void UseDownloadRate(int32_t rate, Environment &env) {
    env.Comm.MaxNegotiatedBaud = rate;
    // Without negotiation the BIOS stays at its own rate for the whole download.
    if (env.Comm.DisableBaudNegotiation != 0) env.BiosBaudRate = rate;
}

} // namespace

std::string CheckPortOption(const std::string &text) {
    if (const std::optional<int> number = platform::ComNumberOf(text)) {
        if (SettingAllows(ComPortSetting(), *number)) return {};
        return "COM" + std::to_string(*number) + " is no port: the number is " +
               AllowedValues(ComPortSetting());
    }
    if (platform::IsSerialDeviceName(text)) return {};
    return "\"" + text +
           "\" is no port: give COMn, a device path such as /dev/ttyUSB0, or "
           "rfc2217://ADDRESS:PORT with a dotted IPv4 address";
}

std::string CheckBaudOption(const std::string &text) {
    const std::optional<int32_t> rate = DecimalOf(text);
    if (rate && SettingAllows(DownloadRateSetting(), *rate)) return {};
    return "\"" + text + "\" is no download rate: it is " + AllowedValues(DownloadRateSetting());
}

std::string CheckTcpOption(const std::string &text) {
    if (HostPortOf(text)) return {};
    return "\"" + text +
           "\" is no network device: give ADDRESS:PORT, a dotted IPv4 address and a port from 1 "
           "to 65535";
}

std::string CheckDeviceOption(const std::string &text) {
    if (text == "corvixlink" || text == "corvixsys") return {};
    return "\"" + text + "\" is no kind of network device: it is corvixlink or corvixsys";
}

NetworkDevice NetworkDeviceNamed(const std::string &text) {
    return text == "corvixsys" ? NetworkDevice::CorvixSys : NetworkDevice::CorvixLink;
}

void ApplyLoadOptions(const LoadOptions &options, Environment &env) {
    if (!options.port.empty()) UseSerialPort(options.port, env);
    if (const std::optional<HostPort> target = HostPortOf(options.tcp))
        UseNetworkDevice(*target, options.device, env);
    if (options.baud != 0) UseDownloadRate(options.baud, env);
    if (options.corvixSys) env.LoadThroughCorvixSys = 1;
    if (!options.log.empty()) {
        commlog::SetLogPath(options.log);
        LogSwitches().EnableTcLogging = 1;
    }
}
