#include "platform/Console.h"

#include <openssl/crypto.h>

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace platform {

bool IsTerminal(int fd) { return ::isatty(fd) != 0; }

int TerminalColumns(int fd) {
    winsize size{};
    if (fd < 0 || ::ioctl(fd, TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_col;
}

long ReadSome(int fd, void *data, size_t count) {
    ssize_t got;
    while ((got = ::read(fd, data, count)) < 0 && errno == EINTR) {
    }
    return static_cast<long>(got);
}

long WriteSome(int fd, const void *data, size_t count) {
    ssize_t written;
    while ((written = ::write(fd, data, count)) < 0 && errno == EINTR) {
    }
    return static_cast<long>(written);
}

int OpenTerminal(const std::string &path) {
    return ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
}

int OpenOutputFile(const std::string &path, bool truncate) {
    const int mode = truncate ? O_TRUNC : O_APPEND;
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | mode, 0644);
}

void CloseFd(int fd) {
    if (fd >= 0) ::close(fd);
}

struct EchoOff::Saved {
    int fd = -1;
    termios settings{};
};

EchoOff::EchoOff(int fd) {
    auto saved = std::make_unique<Saved>();
    saved->fd = fd;
    if (::tcgetattr(fd, &saved->settings) != 0) return;
    termios quiet = saved->settings;
    quiet.c_lflag &= static_cast<tcflag_t>(~(ECHO | ECHOE | ECHOK | ECHONL));
    // TCSANOW, not TCSAFLUSH: a passphrase typed ahead of the prompt must not be thrown away.
    if (::tcsetattr(fd, TCSANOW, &quiet) == 0) saved_ = std::move(saved);
}

EchoOff::~EchoOff() {
    if (saved_) ::tcsetattr(saved_->fd, TCSANOW, &saved_->settings);
}

void SecureZero(void *data, size_t count) { OPENSSL_cleanse(data, count); }

void SetEnvironment(const std::string &name, const std::string &value) {
    ::setenv(name.c_str(), value.c_str(), 1);
}

bool IsExistingFile(const std::string &path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

std::string ExecutablePath() {
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return length > 0 ? std::string(buffer, static_cast<size_t>(length)) : std::string();
}

std::string CurrentFolder() {
    char buffer[PATH_MAX];
    return ::getcwd(buffer, sizeof buffer) ? std::string(buffer) : std::string();
}

} // namespace platform
