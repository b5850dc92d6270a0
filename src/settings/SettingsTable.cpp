#include "settings/SettingsTable.h"

#include "comm/CommLogSwitches.h"
#include "loader/LoaderEngineApi.h"
#include "platform/Registry.h"
#include "platform/Socket.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <filesystem>
#include <iostream>

namespace {

// How each kind of field takes a registry integer and gives one back.

template <int32_t CommOptions::*Field> void StoreCommInt(Environment &env, uint32_t stored) {
    env.Comm.*Field = static_cast<int32_t>(stored);
}
template <int32_t CommOptions::*Field> uint32_t CommIntOf(const Environment &env) {
    return static_cast<uint32_t>(env.Comm.*Field);
}

template <int32_t Environment::*Field> void StoreEnvInt(Environment &env, uint32_t stored) {
    env.*Field = static_cast<int32_t>(stored);
}
template <int32_t Environment::*Field> uint32_t EnvIntOf(const Environment &env) {
    return static_cast<uint32_t>(env.*Field);
}

template <uint16_t CommOptions::*Field> void StorePort(Environment &env, uint32_t stored) {
    env.Comm.*Field = static_cast<uint16_t>(stored & 0xFFFFu);
}
template <uint16_t CommOptions::*Field> uint32_t PortOf(const Environment &env) {
    return env.Comm.*Field;
}

template <uint8_t Environment::*Field> void StoreEnvFlag(Environment &env, uint32_t stored) {
    env.*Field = stored != 0 ? 1 : 0;
}
template <uint8_t Environment::*Field> uint32_t EnvFlagOf(const Environment &env) {
    return env.*Field != 0 ? 1 : 0;
}

template <uint8_t CommLogSwitches::*Field> void StoreLogSwitch(Environment &, uint32_t stored) {
    LogSwitches().*Field = stored != 0 ? 1 : 0;
}
template <uint8_t CommLogSwitches::*Field> uint32_t LogSwitchOf(const Environment &) {
    return LogSwitches().*Field != 0 ? 1 : 0;
}

// The converter option lives in the loader engine; each half is handed over as it is read, so
// once both are read the engine holds both.
void StoreConverterFlag(Environment &, uint32_t stored) {
    uint8_t flag = 0;
    int32_t delayMs = 0;
    GetUsbSerialDelay(flag, delayMs);
    SetUsbSerialDelay(stored != 0 ? 1 : 0, delayMs);
}
uint32_t ConverterFlagOf(const Environment &) {
    uint8_t flag = 0;
    int32_t delayMs = 0;
    GetUsbSerialDelay(flag, delayMs);
    return flag != 0 ? 1 : 0;
}
void StoreConverterDelay(Environment &, uint32_t stored) {
    uint8_t flag = 0;
    int32_t delayMs = 0;
    GetUsbSerialDelay(flag, delayMs);
    SetUsbSerialDelay(flag, static_cast<int32_t>(stored));
}
uint32_t ConverterDelayOf(const Environment &) {
    uint8_t flag = 0;
    int32_t delayMs = 0;
    GetUsbSerialDelay(flag, delayMs);
    return static_cast<uint32_t>(delayMs);
}

// How each kind of field takes a registry text and gives one back.

template <auto Field> void StoreCommText(Environment &env, const std::string &stored) {
    SetField(env.Comm.*Field, std::string_view(stored));
}
template <auto Field> std::string CommTextOf(const Environment &env) { return env.Comm.*Field; }

template <std::string Environment::*Field>
void StoreEnvText(Environment &env, const std::string &stored) {
    env.*Field = stored;
}
template <std::string Environment::*Field> std::string EnvTextOf(const Environment &env) {
    return env.*Field;
}

void StoreNewline(Environment &env, const std::string &stored) {
    SetField(env.Comm.ConsoleNewline, std::string_view(DecodeNewline(stored)));
}
std::string NewlineOf(const Environment &env) { return EncodeNewline(env.Comm.ConsoleNewline); }

// What users may set, by kind of value.

// The rates a serial line of the boards is set to: the debug rates the desktop program offers,
// and the two download rates above them.
constexpr std::array<int32_t, 19> SerialRates = {
    110,   150,   300,   600,   1200,   2400,   4800,   9600,   12800, 14400,
    19200, 28800, 38400, 57600, 115200, 128000, 230400, 256000, 460800};
// The rates the pilot BIOS negotiates a download at.
constexpr std::array<int32_t, 4> DownloadRates = {57600, 115200, 230400, 460800};

constexpr SettingRule Range(int32_t min, int32_t max) {
    return SettingRule{SettingForm::Range, min, max};
}
constexpr SettingRule Switch = Range(0, 1);
constexpr SettingRule TcpPort = Range(1, 65535);
// Ten minutes: any longer and a dead board looks like a hung program.
constexpr SettingRule Timeout = Range(1, 600000);
constexpr SettingRule Retries = Range(0, 100);
constexpr SettingRule OneOf(std::span<const int32_t> choices) {
    return SettingRule{SettingForm::OneOf, 0, 0, choices};
}
constexpr SettingRule Address{SettingForm::Ipv4};
constexpr SettingRule FieldText{SettingForm::AnyText, 0, 0, {}, CommOptions::TextSize - 1};
constexpr SettingRule FilePath{SettingForm::FilePath};

// Row builders.

constexpr Setting NumberRow(const char *name, int32_t defaultNumber,
                            void (*store)(Environment &, uint32_t),
                            uint32_t (*get)(const Environment &), SettingRule rule,
                            bool saved = true) {
    return Setting{CommunicationsKey,
                   name,
                   SettingKind::Number,
                   saved,
                   defaultNumber,
                   nullptr,
                   store,
                   get,
                   nullptr,
                   nullptr,
                   rule};
}

template <int32_t CommOptions::*Field>
constexpr Setting CommInt(const char *name, int32_t def, SettingRule rule) {
    return NumberRow(name, def, &StoreCommInt<Field>, &CommIntOf<Field>, rule);
}
template <int32_t Environment::*Field>
constexpr Setting EnvInt(const char *name, int32_t def, SettingRule rule) {
    return NumberRow(name, def, &StoreEnvInt<Field>, &EnvIntOf<Field>, rule);
}
template <uint16_t CommOptions::*Field> constexpr Setting Port(const char *name, int32_t def) {
    return NumberRow(name, def, &StorePort<Field>, &PortOf<Field>, TcpPort);
}
template <uint8_t CommLogSwitches::*Field>
constexpr Setting LogSwitch(const char *name, int32_t def) {
    return NumberRow(name, def, &StoreLogSwitch<Field>, &LogSwitchOf<Field>, Switch);
}

constexpr Setting TextRow(const char *key, const char *name, const char *defaultText,
                          void (*store)(Environment &, const std::string &),
                          std::string (*get)(const Environment &), SettingRule rule,
                          bool saved = true) {
    return Setting{key, name, SettingKind::Text, saved, 0, defaultText, nullptr, nullptr, store,
                   get, rule};
}

template <auto Field>
constexpr Setting CommText(const char *name, const char *def = "", SettingRule rule = FieldText) {
    return TextRow(CommunicationsKey, name, def, &StoreCommText<Field>, &CommTextOf<Field>, rule);
}
template <std::string Environment::*Field> constexpr Setting FileLocation(const char *name) {
    return TextRow(FileLocationsKey, name, nullptr, &StoreEnvText<Field>, &EnvTextOf<Field>,
                   FilePath);
}

using C = CommOptions;
using E = Environment;
using L = CommLogSwitches;

const std::array<Setting, 42> Communications = {
    CommInt<&C::UseTCP>("UseTCP", 0, Switch),
    CommInt<&C::UseCorvixLink>("UseCorvixLink", 0, Switch),
    CommInt<&C::UseCorvixSys>("UseCorvixSys", 1, Switch),
    CommInt<&C::SerialResponseTimeout>("Serial Response Timeout", 200, Timeout),
    CommInt<&C::EthernetResponseTimeout>("Ethernet Response Timeout", 8000, Timeout),
    CommInt<&C::SerialRetryCount>("Serial Retry Count", 10, Retries),
    CommInt<&C::EthernetRetryCount>("Ethernet Retry Count", 0, Retries),
    // The desktop program offers COM1 to COM256.
    CommInt<&C::ComPort>("Com Port", 1, Range(1, 256)),
    CommInt<&C::StopBits>("Stop Bits", 0, Range(0, 2)),
    Port<&C::CorvixLinkTcpPort>("CorvixLink TCP Port", 4244),
    Port<&C::CorvixSysTcpPort>("CorvixSys TCP Port", 65023),
    NumberRow("Load through CorvixSys", 0, &StoreEnvFlag<&E::LoadThroughCorvixSys>,
              &EnvFlagOf<&E::LoadThroughCorvixSys>, Switch),
    NumberRow("Use USB to Serial Converter", 0, &StoreConverterFlag, &ConverterFlagOf, Switch),
    NumberRow("USB to Serial Delay", 2000, &StoreConverterDelay, &ConverterDelayOf, Range(0, 60000),
              false),
    CommText<&C::CorvixLinkAddress>("CorvixLink Address", "", Address),
    CommText<&C::CorvixLinkName>("CorvixLink Name"),
    CommText<&C::CorvixSysAddress>("CorvixSys Address", "", Address),
    CommText<&C::CorvixSysUserName>("CorvixSys UserName"),
    CommText<&C::CorvixSysPassword>("CorvixSys Password"),
    CommText<&C::ConsoleGreetingMessage>("CorvixSys Console Greeting Message",
                                         "220 Vex-Lon CorvixSys Console"),
    CommText<&C::ConsoleUserNamePrompt>("CorvixSys Console User Name Prompt", "Username:"),
    CommText<&C::ConsolePasswordRequiredMessage>("CorvixSys Console Password Required Message",
                                                 "331 Password required"),
    CommText<&C::ConsolePasswordPrompt>("CorvixSys Console Password Prompt", "Password:"),
    CommText<&C::ConsoleLoggedInMessage>("CorvixSys Console Logged In Message",
                                         "230 User logged in."),
    CommText<&C::ConsoleBadUserNameMessage>("CorvixSys Console Bad User Name Message",
                                            "530 Bad Username/Password"),
    CommText<&C::ConsolePrompt>("CorvixSys Console Prompt", "CON:"),
    CommText<&C::TargetModeCommand>("CorvixSys Target Mode Command", "targetmd"),
    CommText<&C::TargetModeMessage>("CorvixSys Target Mode Message", "200 targetmd"),
    TextRow(CommunicationsKey, "CorvixSys Console Newline", "\\r\\n", &StoreNewline, &NewlineOf,
            FieldText),
    EnvInt<&E::ColdloadBaudRate>("Coldload Baud Rate", 2400, OneOf(SerialRates)),
    EnvInt<&E::PilotBiosBaudRate>("Pilot Bios Baud Rate", 57600, OneOf(SerialRates)),
    EnvInt<&E::BiosBaudRate>("Bios Baud Rate", 115200, OneOf(SerialRates)),
    CommInt<&C::DisableBaudNegotiation>("Disable Baud Negotiation", 0, Switch),
    CommInt<&C::MaxNegotiatedBaud>("Max Negotiated Baud", 460800, OneOf(DownloadRates)),
    // The pilot BIOS is placed in the board's one megabyte of physical memory.
    CommInt<&C::PilotBiosPhysicalAdress>("Pilot Bios Physical Adress", 0x4000, Range(0, 0xFFFFF)),
    CommInt<&C::DetectProcessor>("Detect Processor", 1, Switch),
    LogSwitch<&L::EnableTcLogging>("Enable TC Logging", 0),
    LogSwitch<&L::LogVerbose>("Log Verbose", 1),
    LogSwitch<&L::LogNonPacketWrites>("Log Non-packet Writes", 0),
    LogSwitch<&L::LogNonPacketReads>("Log Non-packet Reads", 1),
    LogSwitch<&L::LogPacketData>("Log Packet Data", 1),
    TextRow(CommunicationsKey, "Discovery Broadcast Address", "255.255.255.255",
            &StoreEnvText<&E::DiscoveryBroadcastAddress>, &EnvTextOf<&E::DiscoveryBroadcastAddress>,
            Address, false),
};

const std::array<Setting, 3> FileLocations = {
    FileLocation<&E::ColdLoaderFile>("ColdLoader"),
    FileLocation<&E::PilotBiosFile>("PilotBIOS"),
    FileLocation<&E::FlashTableFile>("Flash table"),
};

constexpr std::string_view PasswordName = "CorvixSys Password";

// A registry integer as typed: decimal with an optional minus sign, or 0x and hex digits; any
// 32-bit pattern, so both -1 and 4294967295 are accepted.
bool ParseNumber(const std::string &text, uint32_t &number) {
    std::string_view digits = text;
    bool negative = !digits.empty() && digits.front() == '-';
    if (negative) digits.remove_prefix(1);
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits.remove_prefix(2);
        base = 16;
    }
    uint64_t magnitude = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude, base);
    if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size()) return false;
    if (negative ? magnitude > 0x80000000u : magnitude > 0xFFFFFFFFu) return false;
    number = static_cast<uint32_t>(negative ? 0u - magnitude : magnitude);
    return true;
}

bool TextFits(const SettingRule &rule, const std::string &text) {
    switch (rule.Form) {
    case SettingForm::AnyText: return text.size() <= rule.MaxLength;
    case SettingForm::Ipv4: return platform::ParseIpv4(text).has_value();
    default: return true;
    }
}

std::string Refusal(const Setting &setting, const std::string &text) {
    return "\"" + text + "\" is no value for \"" + setting.Name + "\", which takes " +
           AllowedValues(setting);
}

} // namespace

std::span<const Setting> CommunicationsSettings() { return Communications; }

std::span<const Setting> FileLocationSettings() { return FileLocations; }

const Setting *FindSetting(std::string_view name) {
    for (auto table : {CommunicationsSettings(), FileLocationSettings()})
        for (const Setting &setting : table)
            if (platform::SameRegistryName(setting.Name, name)) return &setting;
    return nullptr;
}

bool ReadSetting(const Setting &setting, const platform::RegKey &key, Environment &env) {
    std::optional<platform::RegValue> value = key.Query(setting.Name);
    if (setting.Kind == SettingKind::Number) {
        std::optional<uint32_t> number = value ? platform::DwordOf(*value) : std::nullopt;
        setting.StoreNumber(env, number ? *number : static_cast<uint32_t>(setting.DefaultNumber));
        return number.has_value();
    }
    std::optional<std::string> text = value ? platform::StringOf(*value) : std::nullopt;
    if (value && !text) {
        // Taking the default keeps the program usable; the line tells the user why a setting
        // they stored seems ignored.
        std::cerr << "Tarnwick: registry value \"" << setting.Name << "\" of " << key.Path()
                  << " is not a string; its default is used\n";
    }
    bool found = text && !text->empty();
    if (found)
        setting.StoreText(env, *text);
    else if (setting.DefaultText)
        setting.StoreText(env, setting.DefaultText);
    return found;
}

std::string SettingDisplayText(const Setting &setting, const Environment &env) {
    if (setting.Kind == SettingKind::Number)
        return std::to_string(static_cast<int32_t>(setting.NumberOf(env)));
    std::string text = setting.TextOf(env);
    if (platform::SameRegistryName(setting.Name, PasswordName) && !text.empty())
        return "********"; // settings listings end up in build logs
    return text;
}

void PrintSettings(std::ostream &out, const Environment &env) {
    out << "[" << CommunicationsKey << "]\n";
    for (const Setting &setting : CommunicationsSettings())
        out << setting.Name << " = " << SettingDisplayText(setting, env) << "\n";
    out << "[" << FileLocationsKey << "]\n";
    for (const Setting &setting : FileLocationSettings())
        out << setting.Name << " = " << SettingDisplayText(setting, env) << "\n";
    out << "[" << RecentFilesKey << "]\n";
    for (size_t i = 0; i < env.RecentFiles.size(); ++i)
        out << "File" << i << " = " << env.RecentFiles[i] << "\n";
}

bool ApplySettingText(const Setting &setting, Environment &env, const std::string &text,
                      std::string &error) {
    if (setting.Kind == SettingKind::Text) {
        if (!TextFits(setting.Rule, text)) {
            error = Refusal(setting, text);
            return false;
        }
        setting.StoreText(env, text);
        return true;
    }
    uint32_t number = 0;
    if (!ParseNumber(text, number) || !SettingAllows(setting, static_cast<int32_t>(number))) {
        error = Refusal(setting, text);
        return false;
    }
    setting.StoreNumber(env, number);
    return true;
}

std::string SettingWarning(const Setting &setting, const std::string &text) {
    if (setting.Rule.Form != SettingForm::FilePath || text.empty()) return {};
    std::error_code ignored;
    if (std::filesystem::is_regular_file(text, ignored)) return {};
    return "\"" + std::string(setting.Name) + "\" is set to " + text +
           ", where there is no file now (a load fails until there is one)";
}

bool SettingAllows(const Setting &setting, int32_t number) {
    const SettingRule &rule = setting.Rule;
    switch (rule.Form) {
    case SettingForm::Range: return number >= rule.Min && number <= rule.Max;
    case SettingForm::OneOf:
        return std::find(rule.Choices.begin(), rule.Choices.end(), number) != rule.Choices.end();
    default: return setting.Kind == SettingKind::Number;
    }
}

std::string AllowedValues(const Setting &setting) {
    const SettingRule &rule = setting.Rule;
    switch (rule.Form) {
    case SettingForm::Range:
        if (rule.Min == 0 && rule.Max == 1) return "0 or 1";
        return "an integer from " + std::to_string(rule.Min) + " to " + std::to_string(rule.Max);
    case SettingForm::OneOf: {
        std::string list = "one of";
        for (size_t i = 0; i < rule.Choices.size(); ++i)
            list += (i == 0 ? " " : ", ") + std::to_string(rule.Choices[i]);
        return list;
    }
    case SettingForm::Ipv4: return "a dotted IPv4 address such as 192.168.1.50";
    case SettingForm::FilePath: return "a file path";
    case SettingForm::AnyText:
        return "a text of at most " + std::to_string(rule.MaxLength) + " bytes";
    }
    return {};
}

platform::RegValue SettingValue(const Setting &setting, const Environment &env) {
    if (setting.Kind == SettingKind::Number)
        return platform::DwordValue(setting.Name, setting.NumberOf(env));
    return platform::StringValue(setting.Name, setting.TextOf(env));
}

void WriteSetting(const Setting &setting, const Environment &env) {
    platform::RegBatch batch;
    batch.Set(env.KeyPath + setting.Key, SettingValue(setting, env));
    batch.Commit();
}
