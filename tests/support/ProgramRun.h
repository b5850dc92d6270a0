// One of our programs run to its end as a user runs it, from the build's bin/ folder (the tests
// run in the build folder): a child process with its standard output and standard error kept,
// given at most a bound of time, and killed by its pid when it overstays.
#pragma once

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace programrun {

struct Finished {
    int status = -1;    // the exit status; 128 + N after signal N; -1 when it did not end in time
    std::string output; // standard output
    std::string errors; // standard error
};

using Environment = std::vector<std::pair<std::string, std::string>>;

inline std::filesystem::path BuiltProgram(const std::string &name) {
    return std::filesystem::current_path() / "bin" / name;
}

inline std::string ReadWhole(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// This process's environment with the given variables set over it.
inline std::vector<std::string> ChildEnvironment(const Environment &overrides) {
    std::vector<std::string> entries;
    for (char **entry = environ; *entry != nullptr; ++entry) {
        bool overridden = false;
        for (const auto &[name, value] : overrides)
            overridden = overridden || (std::strncmp(*entry, name.c_str(), name.size()) == 0 &&
                                        (*entry)[name.size()] == '=');
        if (!overridden) entries.emplace_back(*entry);
    }
    for (const auto &[name, value] : overrides) entries.push_back(name + '=' + value);
    return entries;
}

// Runs program with arguments and waits at most timeout for it; its output goes through files in
// scratch (a folder of the test's own).
inline Finished RunToEnd(const std::filesystem::path &program,
                         const std::vector<std::string> &arguments,
                         const std::filesystem::path &scratch, std::chrono::milliseconds timeout,
                         const Environment &environment = {}) {
    const std::filesystem::path outFile = scratch / "stdout.txt";
    const std::filesystem::path errFile = scratch / "stderr.txt";
    std::vector<std::string> words{program.string()};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char *> argv;
    for (std::string &word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    std::vector<std::string> variables = ChildEnvironment(environment);
    std::vector<char *> envp;
    for (std::string &variable : variables) envp.push_back(variable.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    Finished finished;
    if (spawned != 0) {
        finished.errors = "cannot start " + program.string() + ": " + std::strerror(spawned);
        return finished;
    }

    const auto end = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    bool ended = false;
    while (!ended && std::chrono::steady_clock::now() < end) {
        ended = ::waitpid(pid, &status, WNOHANG) == pid;
        if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!ended) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    } else {
        finished.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    finished.output = ReadWhole(outFile);
    finished.errors = ReadWhole(errFile);
    return finished;
}

// A folder of the running test's own under the temporary folder, removed with the object.
class ScratchFolder {
public:
    ScratchFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tarnwick-run-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~ScratchFolder() {
        std::error_code ignored; // a folder left behind in /tmp harms no later test
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder &) = delete;
    ScratchFolder &operator=(const ScratchFolder &) = delete;

    const std::filesystem::path &Path() const { return path_; }
    bool Made() const { return !path_.empty(); }

private:
    std::filesystem::path path_;
};

} // namespace programrun
