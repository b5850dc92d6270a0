// Line settings through the kernel's termios2 interface, which takes any baud rate (BOTHER)
// rather than only the fixed Bxxx table. Kept apart from everything that includes <termios.h>,
// because <asm/termbits.h> defines the same names differently.
#pragma once

#include <cstdint>

namespace platform {

struct Termios2Settings {
    uint32_t baudRate = 0;
    bool twoStopBits = false;  // Linux has no 1.5 stop bits with 8 data bits: callers map 1.5 here
    bool hardwareFlow = false; // CRTSCTS
};

// What the kernel reports for a tty (for the sim, diagnostics and tests).
struct Termios2State {
    uint32_t outputBaud = 0;
    uint32_t inputBaud = 0;
    int dataBits = 0;
    bool parity = false;
    bool twoStopBits = false;
    bool hardwareFlow = false;
    bool raw = false; // no canonical mode, echo, signals, or input/output translation
};

// Puts the tty into raw 8N1 with the given rate, stop bits and flow control; the receiver on,
// modem-control lines ignored for open and read (CLOCAL). Returns 0 or an errno value.
int ApplyTermios2(int fd, const Termios2Settings &settings);
// Reads the settings back. Returns 0 or an errno value (ENOTTY: not a terminal).
int ReadTermios2(int fd, Termios2State *state);

} // namespace platform
