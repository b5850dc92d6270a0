#include "CliTestSupport.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

CliProcess::CliProcess(const fs::path &registry, const std::vector<std::string> &arguments,
                       const fs::path &errorFile, const fs::path &outputFile) {
    pid_ = ::fork();
    if (pid_ == 0) {
        // No controlling terminal: a passphrase is never asked for where no one can type it.
        ::setsid();
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
        if (!outputFile.empty() && !std::freopen(outputFile.c_str(), "w", stdout)) ::_exit(126);
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

std::string ReadWholeFile(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string DwordText(unsigned value) {
    char text[32];
    std::snprintf(text, sizeof text, "dword:%08x", value);
    return text;
}

void WriteTestRegistry(const fs::path &file, const std::vector<std::string> &communications) {
    const fs::path samples = fs::path(TARNWICK_SOURCE_DIR) / "samples";
    std::ofstream out(file, std::ios::binary);
    out << "Windows Registry Editor Version 5.00\r\n\r\n"
        << "[HKEY_CURRENT_USER\\Software\\Vexlon\\ZEP\\3.02\\Communications]\r\n";
    for (const std::string &line : communications) out << line << "\r\n";
    out << "\"Discovery Broadcast Address\"=\"127.0.0.1\"\r\n\r\n"
        << "[HKEY_CURRENT_USER\\Software\\Vexlon\\ZEP\\3.02\\File Locations]\r\n"
        << "\"ColdLoader\"=\"" << (samples / "coldload.bin").string() << "\"\r\n"
        << "\"PilotBIOS\"=\"" << (samples / "pilot.bin").string() << "\"\r\n"
        << "\"Flash table\"=\"" << (samples / "Flash.ini").string() << "\"\r\n";
}

void CliTest::SetUp() {
    std::string pattern = (fs::temp_directory_path() / "tarnwick-cli-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir = pattern;
}

void CliTest::TearDown() { fs::remove_all(dir); }

CliTest::Outcome CliTest::Run(const fs::path &registry, const std::vector<std::string> &arguments) {
    const fs::path output = dir / "stdout.txt";
    const fs::path errors = dir / "stderr.txt";
    Outcome outcome;
    {
        CliProcess cli(registry, arguments, errors, output);
        outcome.status = cli.Wait(std::chrono::seconds(20));
    }
    outcome.output = ReadWholeFile(output);
    outcome.errors = ReadWholeFile(errors);
    fs::remove(output);
    fs::remove(errors);
    return outcome;
}
