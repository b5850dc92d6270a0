// tarnwick-cli started as a user starts it: a child process with its own registry file.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/types.h>

// A child process of tarnwick-cli; killed if a test leaves it running.
class CliProcess {
public:
    // Standard error goes to errorFile, or nowhere when it is empty.
    CliProcess(const std::filesystem::path &registry, const std::vector<std::string> &arguments,
               const std::filesystem::path &errorFile = {});
    ~CliProcess();
    CliProcess(const CliProcess &) = delete;
    CliProcess &operator=(const CliProcess &) = delete;

    void Signal(int signal) const;
    // The exit status, or -1 when the process did not end within timeout (it is then killed).
    int Wait(std::chrono::milliseconds timeout);
    bool Started() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
    bool reaped_ = false;
};
