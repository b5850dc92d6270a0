#include "CliTestSupport.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

CliProcess::CliProcess(const fs::path &registry, const std::vector<std::string> &arguments,
                       const fs::path &errorFile) {
    pid_ = ::fork();
    if (pid_ == 0) {
        ::setenv("TARNWICK_REGISTRY", registry.c_str(), 1);
        ::setenv("TARNWICK_PASSPHRASE", "", 1);
        std::vector<char *> argv;
        std::string program = (fs::current_path() / "bin" / "tarnwick-cli").string();
        argv.push_back(program.data());
        std::vector<std::string> copies = arguments;
        for (std::string &argument : copies) argv.push_back(argument.data());
        argv.push_back(nullptr);
        std::string errors = errorFile.empty() ? std::string("/dev/null") : errorFile.string();
        if (!std::freopen(errors.c_str(), "w", stderr)) ::_exit(126);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
}

CliProcess::~CliProcess() {
    if (pid_ > 0 && !reaped_) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

void CliProcess::Signal(int signal) const { ::kill(pid_, signal); }

int CliProcess::Wait(std::chrono::milliseconds timeout) {
    const auto end = Clock::now() + timeout;
    int status = 0;
    while (Clock::now() < end) {
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            reaped_ = true;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}
