// The file that holds HKEY_CURRENT_USER: where it lives, reading it without changing it, and
// replacing it safely.
#include "platform/posix/RegistryHive.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <thread>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
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
    if (!home.empty()) return home;
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
    if (!chosen.empty()) return chosen;
    std::string config = EnvironmentText("XDG_CONFIG_HOME");
    // The base directory rules ignore a relative XDG_CONFIG_HOME.
    if (config.empty() || config.front() != '/') config = HomeFolder() + "/.config";
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
    int Release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes now, reporting the error a late write-back failure shows up as.
    int Close() {
        int rc = fd_ >= 0 ? ::close(fd_) : 0;
        fd_ = -1;
        return rc;
    }

private:
    void Reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    int fd_;
};

// Removes the temporary file unless the rename has taken it over.
class TemporaryFile {
public:
    explicit TemporaryFile(std::string path) : path_(std::move(path)) {}
    ~TemporaryFile() {
        if (!path_.empty()) ::unlink(path_.c_str());
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
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            error = errno;
            return ReadResult::Unreadable;
        }
        if (got == 0) return ReadResult::Read;
        if (static_cast<size_t>(got) > MaxFileSize - text.size()) return ReadResult::TooLarge;
        text.append(buffer, static_cast<size_t>(got));
    }
}

void WriteAll(int fd, std::string_view text, const std::string &path) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote < 0) FailSave(path, "write", errno);
        done += static_cast<size_t>(wrote);
    }
}

// Writes a new file that only the user may read (it holds a password): the mode is given at
// creation, so no other user can open it in between. A temporary left by a save that was killed
// is removed first. Errors name path, the file whose save failed.
void WriteNewPrivateFile(const std::string &name, std::string_view bytes, const std::string &path) {
    if (::unlink(name.c_str()) != 0 && errno != ENOENT)
        FailSave(path, "remove the old temporary file " + name, errno);
    FileDescriptor fd(
        ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR));
    if (!fd.Valid()) FailSave(path, "create " + name, errno);
    TemporaryFile temporary(name);
    WriteAll(fd.Get(), bytes, path);
    if (::fsync(fd.Get()) != 0) FailSave(path, "fsync", errno);
    if (fd.Close() != 0) FailSave(path, "close", errno);
    temporary.Release();
}

std::filesystem::path FolderOf(const std::string &path) {
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    return folder.empty() ? std::filesystem::path(".") : folder;
}

void SyncFolder(const std::filesystem::path &folder) {
    FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    // The rename has already happened; a folder that cannot be synced only weakens what survives
    // a power cut, and the new contents are in place either way.
    if (fd.Valid()) (void)::fsync(fd.Get());
}

ReplaceFileStep &TheReplaceStep() {
    static ReplaceFileStep step = [](const std::string &from, const std::string &to) {
        return ::rename(from.c_str(), to.c_str());
    };
    return step;
}

// A copy set aside is never overwritten; past this many the user has some sorting out to do.
constexpr int MaxAsideCopies = 99;

std::string AsideName(const std::string &path, int number) {
    return path + ".bad" + (number == 1 ? std::string() : "." + std::to_string(number));
}

// Whether the file at name holds exactly bytes; false when it cannot be read.
bool HoldsBytes(const std::string &name, std::string_view bytes) {
    std::string text;
    int error = 0;
    return ReadWholeFile(name, text, error) == ReadResult::Read && text == bytes;
}

// How long a save waits for another program's save to let go of the lock, and how often it looks.
constexpr auto LockWait = std::chrono::seconds(5);
constexpr auto LockRetry = std::chrono::milliseconds(10);

} // namespace

HiveFile ReadHiveFile(const std::string &path) {
    HiveFile file;
    int error = 0;
    switch (ReadWholeFile(path, file.bytes, error)) {
    case ReadResult::Missing: file.bytes.clear(); return file;
    case ReadResult::TooLarge:
        file.state = HiveFile::State::Unreadable;
        file.problem = "larger than " + std::to_string(MaxFileSize) + " bytes";
        file.bytes.clear();
        return file;
    case ReadResult::Unreadable:
        file.state = HiveFile::State::Unreadable;
        file.problem = SystemError(error);
        return file;
    case ReadResult::Read: break;
    }
    RegFileText text = DecodeRegFileBytes(file.bytes);
    ParsedRegFile parsed = ParseRegFile(text.text);
    file.state = HiveFile::State::Read;
    file.hive = std::move(parsed.hive);
    file.skipped = std::move(parsed.skipped);
    file.converted = text.converted;
    return file;
}

void WarnAboutSkippedLines(std::ostream &out, const std::string &path,
                           const std::vector<SkippedLine> &skipped) {
    for (size_t i = 0; i < skipped.size() && i < MaxSkippedWarnings; ++i)
        out << "Tarnwick: " << path << " line " << skipped[i].line << ": " << skipped[i].reason
            << "; the line is skipped\n";
    if (skipped.size() > MaxSkippedWarnings)
        out << "Tarnwick: " << path << ": " << skipped.size() - MaxSkippedWarnings
            << " more lines are skipped\n";
}

namespace {

[[noreturn]] void FailLockHeld(const std::string &path, const std::string &lockName) {
    throw RegistryError("Cannot write the registry file " + path +
                        " (another program has held its lock " + lockName + " for " +
                        std::to_string(LockWait.count()) + " seconds)");
}

} // namespace

HiveLock::HiveLock(const std::string &path) {
    const std::string name = path + ".lock";
    FileDescriptor fd(::open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR));
    if (!fd.Valid()) FailSave(path, "open the lock file " + name, errno);
    const auto giveUp = std::chrono::steady_clock::now() + LockWait;
    while (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        int error = errno;
        if (error == EINTR) continue;
        if (error != EWOULDBLOCK) FailSave(path, "lock " + name, error);
        if (std::chrono::steady_clock::now() >= giveUp) FailLockHeld(path, name);
        std::this_thread::sleep_for(LockRetry);
    }
    fd_ = fd.Release();
}

HiveLock::~HiveLock() {
    if (fd_ >= 0) ::close(fd_); // closing the last descriptor releases the flock
}

std::string CopyAside(const std::string &path, std::string_view bytes) {
    for (int number = 1; number <= MaxAsideCopies; ++number) {
        std::string name = AsideName(path, number);
        if (::access(name.c_str(), F_OK) == 0) {
            if (HoldsBytes(name, bytes)) return std::string();
            continue;
        }
        // Whole or not at all, so that a kill in the middle leaves no half copy to mislead.
        const std::string temporaryName = name + ".tmp";
        WriteNewPrivateFile(temporaryName, bytes, path);
        TemporaryFile temporary(temporaryName);
        if (::rename(temporaryName.c_str(), name.c_str()) != 0)
            FailSave(path, "set a copy aside as " + name, errno);
        temporary.Release();
        return name;
    }
    throw RegistryError("Cannot write the registry file " + path +
                        " (this save would drop part of "
                        "it, and " +
                        AsideName(path, 1) + " to " + AsideName(path, MaxAsideCopies) +
                        ", where it would be copied first, all hold earlier copies)");
}

void WriteHiveFile(const std::string &path, const Hive &hive) {
    const std::string text = FormatRegFile(hive);
    const std::string temporaryName = path + ".tmp";
    WriteNewPrivateFile(temporaryName, text, path);
    TemporaryFile temporary(temporaryName);
    if (TheReplaceStep()(temporaryName, path) != 0) FailSave(path, "rename", errno);
    temporary.Release();
    SyncFolder(FolderOf(path));
}

ReplaceFileStep SetReplaceFileStep(ReplaceFileStep step) {
    ReplaceFileStep previous = std::move(TheReplaceStep());
    TheReplaceStep() = std::move(step);
    return previous;
}

void CreateFoldersFor(const std::string &path) {
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (folder.empty()) return;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec)
        throw RegistryError("Cannot write the registry file " + path + " (create folder " +
                            folder.string() + ": " + ec.message() + ")");
}

} // namespace regfile

} // namespace platform
