// Serial ports by COM number, in place of the Win32 comm API. Two backends behind one
// interface: termios for local devices (/dev/tty*) and an RFC 2217 (Telnet Com Port Control)
// client for "rfc2217://host:port". The COM number is mapped to a device by the port map
// (registry key "Software\\Vexlon\\ZEP\\Ports", values "COM3"="/dev/ttyUSB0"), else
// COM1-32 are /dev/ttyS0-31, COM33-64 /dev/ttyUSB0-31, COM65-96 /dev/ttyACM0-31, above that
// /dev/ttyS<n-1>.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Win32 modem-status bits.
constexpr uint32_t MS_CTS_ON = 0x10;
constexpr uint32_t MS_DSR_ON = 0x20;
constexpr uint32_t MS_RING_ON = 0x40;
constexpr uint32_t MS_RLSD_ON = 0x80;

// Win32 DTR/RTS control values.
constexpr int DTR_CONTROL_DISABLE = 0, DTR_CONTROL_ENABLE = 1, DTR_CONTROL_HANDSHAKE = 2;
constexpr int RTS_CONTROL_DISABLE = 0, RTS_CONTROL_ENABLE = 1, RTS_CONTROL_HANDSHAKE = 2,
              RTS_CONTROL_TOGGLE = 3;

// The device control block fields Tarnwick sets (8 data bits, no parity, binary mode always).
struct SerialSettings {
    uint32_t baudRate = 0;
    int stopBits = 0;   // 0 one, 1 one and a half, 2 two
    int dtrControl = 0; // 0-2 as on Windows
    int rtsControl = 0; // 0-3 as on Windows
};

// What a failed open or configure reports: errno-like detail for the user's hint.
struct SerialError {
    int code = 0;            // errno (or a socket error for RFC 2217)
    std::string description; // e.g. "Permission denied (is the user in the dialout group?)"
};

class SerialPort {
public:
    virtual ~SerialPort() = default;
    // Applies the settings (drains output first). False when the port refuses them.
    virtual bool Configure(const SerialSettings &settings) = 0;
    // Writes all bytes (blocks until the kernel or the TCP stack has them). False on failure.
    virtual bool Write(const uint8_t *data, size_t count) = 0;
    // Reads what is available now, at most count bytes, without waiting. -1 on failure.
    virtual long ReadNow(uint8_t *data, size_t count) = 0;
    // Waits until input is available, the port fails, or Wake() is called; timeoutMs < 0: no
    // limit. Returns 1 data available, 0 time-out or woken, -1 failure (the port is gone).
    virtual int WaitReadable(int timeoutMs) = 0;
    // Makes a running or the next WaitReadable return (any thread).
    virtual void Wake() = 0;
    virtual long InputQueueCount() = 0;  // bytes waiting to be read, -1 on failure
    virtual long OutputQueueCount() = 0; // bytes not yet on the wire, -1 on failure
    virtual bool PurgeInput() = 0;
    virtual bool DrainOutput() = 0; // waits until the output is on the wire
    // Modem status with the MS_* bits; false when the device has no modem lines.
    virtual bool GetModemStatus(uint32_t *status) = 0;
    virtual std::string DeviceName() const = 0;
};

// The registry key of the port map; its values are named "COM3" and hold the device.
inline constexpr const char PortMapKey[] = "Software\\Vexlon\\ZEP\\Ports";

// The device a COM number stands for ("/dev/ttyS0", "rfc2217://127.0.0.1:4000"): an override of
// this process first, then the port map, then the default mapping.
std::string MapComPort(int comPort);
// One entry of the port map's registry key that maps a COM number: a value named "COMn" (any
// letter case, n from 1) holding non-empty text.
struct ComPortMapping {
    int comPort = 0;
    std::string device;
};
// The key's mapping entries in the key's order; other values are left out. A registry that
// cannot be read maps nothing, as for MapComPort.
std::vector<ComPortMapping> MappedComPorts();
// The COM number whose built-in range covers a device path ("/dev/ttyUSB2" is COM35), or 0 when
// none does (/dev/ttyS40 lies in the gap that COM41 leaves to the USB range).
int DefaultComPortOf(const std::string &device);
// Maps a COM number to device in this process only, ahead of the port map; nothing is written.
// An empty device removes the override. For a command-line run given a port of its own.
void SetPortOverride(int comPort, std::string device);
// The number of a port name "COM3" (any letter case, no leading zeros), or nothing for any other
// text.
std::optional<int> ComNumberOf(std::string_view name);
// Whether device can name a serial device: an absolute path, or "rfc2217://" with a dotted IPv4
// address (or localhost) and a port from 1 to 65535.
bool IsSerialDeviceName(const std::string &device);
// Opens the device of a COM number (exclusively). Null on failure, with error filled.
std::unique_ptr<SerialPort> OpenSerialPort(int comPort, SerialError *error);
// Opens a device name directly (a path or rfc2217://host:port).
std::unique_ptr<SerialPort> OpenSerialDevice(const std::string &device, SerialError *error);

} // namespace platform
