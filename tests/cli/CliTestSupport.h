// tarnwick-cli started as a user starts it: a child process with its own registry file.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/types.h>

// A child process of tarnwick-cli; killed if a test leaves it running.
class CliProcess {
public:
    // Standard error goes to errorFile, or nowhere when it is empty; standard output to
    // outputFile, or where the test's own goes when it is empty.
    CliProcess(const std::filesystem::path &registry, const std::vector<std::string> &arguments,
               const std::filesystem::path &errorFile = {},
               const std::filesystem::path &outputFile = {});
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

std::string ReadWholeFile(const std::filesystem::path &path);

// A registry line's value of a 32-bit integer: "dword:0000109c".
std::string DwordText(unsigned value);

// Writes a registry file with these "Communications" lines ("\"UseTCP\"=dword:00000001"),
// discovery kept on 127.0.0.1, and the simulated board's support files from samples/.
void WriteTestRegistry(const std::filesystem::path &file,
                       const std::vector<std::string> &communications);

// A test with a private folder, removed at its end, in which tarnwick-cli runs to its end.
class CliTest : public ::testing::Test {
protected:
    struct Outcome {
        int status = -1;
        std::string output; // standard output
        std::string errors; // standard error
    };

    void SetUp() override;
    void TearDown() override;
    // Runs tarnwick-cli with this registry file (20 s at most) and collects what it printed.
    Outcome Run(const std::filesystem::path &registry, const std::vector<std::string> &arguments);

    std::filesystem::path dir;
};
