// The file that holds HKEY_CURRENT_USER: where it lives, reading it, and replacing it safely.
#include "platform/posix/RegistryHive.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

std::string EnvironmentText(const char *name) {
    const char *value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string HomeFolder() {
    std::string home = EnvironmentText("HOME");
    if (!home.empty())
        return home;
    // Services started without HOME still have a password entry.
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd *result = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result &&
        result->pw_dir)
        return result->pw_dir;
    return ".";
}

} // namespace

std::string RegistryFilePath() {
    std::string chosen = EnvironmentText("TARNWICK_REGISTRY");
    if (!chosen.empty())
        return chosen;
    std::string config = EnvironmentText("XDG_CONFIG_HOME");
    // The base directory rules ignore a relative XDG_CONFIG_HOME.
    if (config.empty() || config.front() != '/')
        config = HomeFolder() + "/.config";
    return config + "/tarnwick/registry.reg";
}

namespace regfile {

namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    ~FileDescriptor() { Reset(); }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    // Closes now, reporting the error a late write-back failure shows up as.
    int Close() {
        int rc = fd_ >= 0 ? ::close(fd_) : 0;
        fd_ = -1;
        return rc;
    }

private:
    void Reset() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    int fd_;
};

// Removes the temporary file unless the rename has taken it over.
class TemporaryFile {
public:
    explicit TemporaryFile(std::string path) : path_(std::move(path)) {}
    ~TemporaryFile() {
        if (!path_.empty())
            ::unlink(path_.c_str());
    }
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;
    void Release() { path_.clear(); }

private:
    std::string path_;
};

std::string SystemError(int error) { return std::strerror(error); }

[[noreturn]] void FailSave(const std::string &path, const std::string &step, int error) {
    throw RegistryError("Cannot write the registry file " + path + " (" + step + ": " +
                        SystemError(error) + ")");
}

enum class ReadResult { Read, Missing, Unreadable, TooLarge };

ReadResult ReadWholeFile(const std::string &path, std::string &text, int &error) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.Valid()) {
        error = errno;
        // A folder on the way that is missing or is a file: there is no registry file yet, and
        // creating the folders at the first save will report the real obstacle.
        return (error == ENOENT || error == ENOTDIR) ? ReadResult::Missing : ReadResult::Unreadable;
    }
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0) {
        error = errno;
        return ReadResult::Unreadable;
    }
    if (!S_ISREG(info.st_mode)) {
        error = EISDIR;
        return ReadResult::Unreadable;
    }
    char buffer[65536];
    for (;;) {
        ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            error = errno;
            return ReadResult::Unreadable;
        }
        if (got == 0)
            return ReadResult::Read;
        if (text.size() + static_cast<size_t>(got) > MaxFileSize)
            return ReadResult::TooLarge;
        text.append(buffer, static_cast<size_t>(got));
    }
}

LoadedHive SetAside(const std::string &path, const std::string &reason) {
    LoadedHive loaded;
    std::string badPath = path + ".bad";
    if (::rename(path.c_str(), badPath.c_str()) == 0) {
        std::cerr << "Tarnwick: the registry file " << path << " cannot be read (" << reason
                  << "); it was renamed to " << badPath << " and the defaults are used\n";
        return loaded;
    }
    int error = errno;
    loaded.writable = false;
    loaded.blockReason = "the unreadable registry file " + path + " could not be set aside (" +
                         SystemError(error) + ")";
    std::cerr << "Tarnwick: the registry file " << path << " cannot be read (" << reason
              << ") nor renamed (" << SystemError(error)
              << "); the defaults are used and nothing will be saved\n";
    return loaded;
}

void WriteAll(int fd, const std::string &text, const std::string &path) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote < 0)
            FailSave(path, "write", errno);
        done += static_cast<size_t>(wrote);
    }
}

void SyncFolder(const std::filesystem::path &folder) {
    FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    // The rename has already happened; a folder that cannot be synced only weakens what survives
    // a power cut, and the new contents are in place either way.
    if (fd.Valid())
        (void)::fsync(fd.Get());
}

} // namespace

LoadedHive LoadHiveFile(const std::string &path) {
    std::string text;
    int error = 0;
    switch (ReadWholeFile(path, text, error)) {
    case ReadResult::Missing:
        return {};
    case ReadResult::TooLarge:
        return SetAside(path, "larger than " + std::to_string(MaxFileSize) + " bytes");
    case ReadResult::Unreadable: {
        // Neither parsed nor renamed: a file we could not even open may still hold good settings
        // (a permission slip), so it stays where it is and is not replaced.
        LoadedHive loaded;
        loaded.writable = false;
        loaded.blockReason = "the registry file " + path + " cannot be read (" +
                             SystemError(error) + ")";
        std::cerr << "Tarnwick: " << loaded.blockReason
                  << "; the defaults are used and nothing will be saved\n";
        return loaded;
    }
    case ReadResult::Read:
        break;
    }
    try {
        return LoadedHive{ParseRegFile(text), true, {}};
    } catch (const RegistryError &e) {
        return SetAside(path, e.what());
    }
}

void SaveHiveFile(const std::string &path, const Hive &hive) {
    std::string text = FormatRegFile(hive);
    std::filesystem::path target(path);
    std::filesystem::path folder = target.parent_path();
    if (!folder.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        if (ec)
            throw RegistryError("Cannot write the registry file " + path + " (create folder " +
                                folder.string() + ": " + ec.message() + ")");
    }
    std::string temporaryName = path + ".XXXXXX";
    FileDescriptor fd(::mkostemp(temporaryName.data(), O_CLOEXEC));
    if (!fd.Valid())
        FailSave(path, "create temporary file", errno);
    TemporaryFile temporary(temporaryName);
    // It holds a password: only the user may read it, whatever the umask.
    if (::fchmod(fd.Get(), S_IRUSR | S_IWUSR) != 0)
        FailSave(path, "chmod", errno);
    WriteAll(fd.Get(), text, path);
    if (::fsync(fd.Get()) != 0)
        FailSave(path, "fsync", errno);
    if (fd.Close() != 0)
        FailSave(path, "close", errno);
    if (::rename(temporaryName.c_str(), path.c_str()) != 0)
        FailSave(path, "rename", errno);
    temporary.Release();
    SyncFolder(folder.empty() ? std::filesystem::path(".") : folder);
}

} // namespace regfile

} // namespace platform
