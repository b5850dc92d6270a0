#include "platform/Console.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <filesystem>
#include <vector>

namespace platform {

// Only a console is a terminal: the C runtime's _isatty also says yes for NUL and any other
// character device, where no one could type a passphrase.
bool IsTerminal(int fd) {
    const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) != 0;
}

int TerminalColumns(int fd) {
    const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (handle == INVALID_HANDLE_VALUE || !::GetConsoleScreenBufferInfo(handle, &info)) return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

long ReadSome(int fd, void *data, size_t count) {
    return ::_read(fd, data, count > 0x7FFFFFFF ? 0x7FFFFFFFu : static_cast<unsigned>(count));
}

long WriteSome(int fd, const void *data, size_t count) {
    return ::_write(fd, data, count > 0x7FFFFFFF ? 0x7FFFFFFFu : static_cast<unsigned>(count));
}

int OpenTerminal(const std::string &path) {
    // The console is the terminal; a POSIX device path such as /dev/tty names nothing here.
    return ::_open(path.c_str(), _O_RDWR | _O_BINARY | _O_NOINHERIT);
}

int OpenOutputFile(const std::string &path, bool truncate) {
    const int mode = truncate ? _O_TRUNC : _O_APPEND;
    return ::_open(path.c_str(), _O_WRONLY | _O_CREAT | _O_BINARY | _O_NOINHERIT | mode,
                   _S_IREAD | _S_IWRITE);
}

void CloseFd(int fd) {
    if (fd >= 0) ::_close(fd);
}

struct EchoOff::Saved {
    HANDLE console = nullptr;
    DWORD mode = 0;
};

EchoOff::EchoOff(int fd) {
    auto saved = std::make_unique<Saved>();
    saved->console = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    if (saved->console == INVALID_HANDLE_VALUE || !::GetConsoleMode(saved->console, &saved->mode))
        return;
    if (::SetConsoleMode(saved->console, saved->mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)))
        saved_ = std::move(saved);
}

EchoOff::~EchoOff() {
    if (saved_) ::SetConsoleMode(saved_->console, saved_->mode);
}

void SecureZero(void *data, size_t count) { ::SecureZeroMemory(data, count); }

void SetEnvironment(const std::string &name, const std::string &value) {
    ::_putenv_s(name.c_str(), value.c_str());
}

bool IsExistingFile(const std::string &path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string ExecutablePath() {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        if (length < buffer.size())
            // Forward slashes: the callers split paths at '/', and Windows takes either.
            return std::filesystem::path(std::string(buffer.data(), length)).generic_string();
        buffer.resize(buffer.size() * 2);
    }
}

std::string CurrentFolder() {
    std::error_code error;
    const std::filesystem::path current = std::filesystem::current_path(error);
    return error ? std::string() : current.generic_string();
}

} // namespace platform
