#include "platform/posix/Termios2.h"

#include <asm/termbits.h>
#include <cerrno>
#include <sys/ioctl.h>

namespace platform {

namespace {

constexpr tcflag_t RawInputOff = IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                                 IXOFF | IXANY | INPCK | IUCLC | IMAXBEL;
constexpr tcflag_t RawLocalOff = ECHO | ECHONL | ECHOE | ECHOK | ICANON | ISIG | IEXTEN;

int GetTermios2(int fd, struct termios2 *tio) { return ioctl(fd, TCGETS2, tio) == 0 ? 0 : errno; }

} // namespace

int ApplyTermios2(int fd, const Termios2Settings &settings) {
    if (settings.baudRate == 0)
        return EINVAL; // a zero rate means "hang up" to the kernel, never a line speed
    struct termios2 tio {};
    if (int error = GetTermios2(fd, &tio)) return error;
    tio.c_iflag &= ~RawInputOff;
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~RawLocalOff;
    tio.c_cflag &=
        ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= CS8 | CREAD | CLOCAL | BOTHER | (BOTHER << IBSHIFT);
    if (settings.twoStopBits) tio.c_cflag |= CSTOPB;
    if (settings.hardwareFlow) tio.c_cflag |= CRTSCTS;
    tio.c_ispeed = settings.baudRate;
    tio.c_ospeed = settings.baudRate;
    // Reads never block in the kernel: the port is non-blocking and waits in poll.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (ioctl(fd, TCSETS2, &tio) != 0) return errno;
    return 0;
}

int ReadTermios2(int fd, Termios2State *state) {
    struct termios2 tio {};
    if (int error = GetTermios2(fd, &tio)) return error;
    state->outputBaud = tio.c_ospeed;
    state->inputBaud = tio.c_ispeed;
    switch (tio.c_cflag & CSIZE) {
    case CS5: state->dataBits = 5; break;
    case CS6: state->dataBits = 6; break;
    case CS7: state->dataBits = 7; break;
    default: state->dataBits = 8; break;
    }
    state->parity = (tio.c_cflag & PARENB) != 0;
    state->twoStopBits = (tio.c_cflag & CSTOPB) != 0;
    state->hardwareFlow = (tio.c_cflag & CRTSCTS) != 0;
    state->raw = (tio.c_lflag & RawLocalOff) == 0 &&
                 (tio.c_iflag & (ICRNL | INLCR | IGNCR | IXON)) == 0 && (tio.c_oflag & OPOST) == 0;
    return 0;
}

} // namespace platform
