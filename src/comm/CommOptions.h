// The communication options: the part of the settings that the loader engine receives by value
// with every connect and that each connection copies. Field order is the record's order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

struct CommOptions {
    static constexpr int AddressSize = 16; // 15 characters and the terminating zero
    static constexpr int TextSize = 256;   // 255 characters and the terminating zero

    int32_t SerialResponseTimeout = 0;     // "Serial Response Timeout", ms
    int32_t EthernetResponseTimeout = 0;   // "Ethernet Response Timeout", ms
    int32_t SerialRetryCount = 0;          // "Serial Retry Count"
    int32_t EthernetRetryCount = 0;        // "Ethernet Retry Count"
    int32_t ComPort = 0;                   // "Com Port", 1 is COM1
    int32_t BaudRate = 0;                  // current baud rate, set by the load session per connect
    int32_t DtrControl = 0;                // 0 off, 1 on, 2 handshake, 3 (unused for DTR)
    int32_t RtsControl = 0;                // 0 off, 1 on, 2 handshake, 3 toggle
    int32_t StopBits = 0;                  // "Stop Bits": 0 one, 1 one and a half, 2 two
    int32_t MaxNegotiatedBaud = 0;         // "Max Negotiated Baud"
    int32_t DisableBaudNegotiation = 0;    // "Disable Baud Negotiation"
    int32_t PilotBiosPhysicalAdress = 0;   // "Pilot Bios Physical Adress"
    int32_t UseTCP = 0;                    // "UseTCP"
    int32_t DetectProcessor = 0;           // "Detect Processor"
    char NetworkAddress[AddressSize] = {}; // never filled by a setting; part of the reconnect test
    uint16_t NetworkPort = 0;              // never filled by a setting
    char NetworkName[TextSize] = {};       // never filled by a setting
    int32_t UseCorvixLink = 0;             // "UseCorvixLink"
    char CorvixLinkAddress[AddressSize] = {};
    uint16_t CorvixLinkTcpPort = 0;
    char CorvixLinkName[TextSize] = {};
    int32_t UseCorvixSys = 0; // "UseCorvixSys"
    char CorvixSysAddress[AddressSize] = {};
    uint16_t CorvixSysTcpPort = 0;
    char CorvixSysUserName[TextSize] = {};
    char CorvixSysPassword[TextSize] = {};
    char ConsoleNewline[TextSize] = {}; // the control characters themselves
    char ConsoleGreetingMessage[TextSize] = {};
    char ConsoleUserNamePrompt[TextSize] = {};
    char ConsolePasswordRequiredMessage[TextSize] = {};
    char ConsolePasswordPrompt[TextSize] = {};
    char ConsoleLoggedInMessage[TextSize] = {};
    char ConsoleBadUserNameMessage[TextSize] = {};
    char ConsolePrompt[TextSize] = {};
    char TargetModeCommand[TextSize] = {};
    char TargetModeMessage[TextSize] = {};
};

// Copies text into a field of size bytes, cut to size - 1 bytes, always zero-terminated, the rest
// of the field zero-filled (the record is compared and logged as a whole).
void CopyToField(char *field, size_t size, std::string_view text);

// Copies text into a fixed field, cut to the field's width, always zero-terminated. A null text
// clears the field.
template <size_t N> void SetField(char (&field)[N], const char *text) {
    CopyToField(field, N, text ? std::string_view(text) : std::string_view());
}
template <size_t N> void SetField(char (&field)[N], std::string_view text) {
    CopyToField(field, N, text);
}
