// Standard streams, the terminal and plain files by descriptor (the C runtime's descriptors on
// Windows): what the command line, the passphrase prompt and the communication log need of them.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace platform {

constexpr int StandardInput = 0;
constexpr int StandardError = 2;

bool IsTerminal(int fd);
// The width of the terminal on fd in columns; 0 when fd is no terminal or does not say.
int TerminalColumns(int fd);

// One read or write, retried when a signal interrupts it. -1 on failure.
long ReadSome(int fd, void *data, size_t count);
long WriteSome(int fd, const void *data, size_t count);
// Opens the terminal device at path for reading and writing without making it the process's
// controlling terminal. -1 when there is none.
int OpenTerminal(const std::string &path);
// Opens (creating it) a file to write to, emptied or appended to. -1 on failure, with the reason
// in LastSystemError().
int OpenOutputFile(const std::string &path, bool truncate);
void CloseFd(int fd); // a failing close leaves nothing to do: the descriptor is gone anyway

// Switches the echo of the terminal on fd off for as long as it lives. Not a terminal: does
// nothing.
class EchoOff {
public:
    explicit EchoOff(int fd);
    ~EchoOff();
    EchoOff(const EchoOff &) = delete;
    EchoOff &operator=(const EchoOff &) = delete;

    struct Saved;

private:
    std::unique_ptr<Saved> saved_; // empty when nothing was changed
};

// Overwrites memory that held a secret in a way the compiler may not drop.
void SecureZero(void *data, size_t count);

// Sets a variable of this process's environment (and of the programs it starts).
void SetEnvironment(const std::string &name, const std::string &value);

// Files and folders of the running program.
bool IsExistingFile(const std::string &path); // exists and is not a folder
std::string ExecutablePath();                 // empty when unknown
std::string CurrentFolder();                  // empty when unknown

} // namespace platform
