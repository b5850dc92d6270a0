#include "SimProcess.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto StartLimit = std::chrono::seconds(5);

// The first line on the pipe, read until StartLimit has passed.
std::string FirstLine(int fd) {
    std::string line;
    const auto limit = Clock::now() + StartLimit;
    while (Clock::now() < limit) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        char c = 0;
        if (::read(fd, &c, 1) != 1) break;
        if (c == '\n') return line;
        line += c;
    }
    return {};
}

} // namespace

SimProcess::SimProcess(const std::vector<std::string> &arguments) {
    const std::string program =
        (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "corvix-sim").string();
    std::vector<char *> argv{const_cast<char *>(program.c_str())};
    for (const std::string &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);
    int out[2];
    if (::pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, out[1]);
    if (::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0)
        pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    output_ = out[0];
    if (pid_ > 0) address_ = FirstLine(output_);
}

SimProcess::~SimProcess() { Stop(); }

int SimProcess::Port() const {
    const size_t colon = address_.rfind(':');
    return colon == std::string::npos ? 0 : std::atoi(address_.c_str() + colon + 1);
}

void SimProcess::Stop() {
    if (pid_ <= 0) {
        if (output_ >= 0) ::close(output_);
        output_ = -1;
        return;
    }
    ::kill(pid_, SIGTERM);
    const auto limit = Clock::now() + StartLimit;
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
        if (Clock::now() >= limit) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
    // Kept open until now, so that a line corvix-sim prints later never meets a closed pipe.
    ::close(output_);
    output_ = -1;
}

} // namespace bench
