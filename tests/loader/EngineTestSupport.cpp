#include "EngineTestSupport.h"

#include "comm/PacketCodec.h"
#include "loader/LoaderPayloads.h"
#include "platform/Registry.h"
#include "platform/posix/Termios2.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <stdexcept>
#include <unistd.h>

using namespace platform;

namespace enginetest {

namespace {

using Clock = std::chrono::steady_clock;

std::filesystem::path TestDirectory() {
    const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info != nullptr ? std::string(info->test_suite_name()) + "." + info->name()
                                       : std::string("engine");
    auto dir = std::filesystem::temp_directory_path() /
               ("tarnwick-engine-" + std::to_string(::getpid())) / name;
    std::filesystem::create_directories(dir);
    return dir;
}

void WriteAll(int fd, const std::vector<uint8_t> &bytes) {
    size_t done = 0;
    const auto end = Clock::now() + std::chrono::seconds(5);
    while (done < bytes.size() && Clock::now() < end) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, 5);
    }
}

} // namespace

// ---- pty ----

Pty::Pty() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
        throw std::runtime_error("no pseudo-terminal");
    char name[128];
    if (::ptsname_r(master_, name, sizeof name) != 0) throw std::runtime_error("ptsname");
    slave_ = name;
}

Pty::~Pty() {
    if (master_ >= 0) ::close(master_);
}

uint32_t Pty::SlaveBaud() const {
    // On the master, the line-setting requests act on the slave's settings.
    Termios2State state;
    return ReadTermios2(master_, &state) == 0 ? state.outputBaud : 0;
}

void Pty::SetSlaveBaud(uint32_t baud) const {
    Termios2Settings settings;
    settings.baudRate = baud;
    if (ApplyTermios2(master_, settings) != 0)
        throw std::runtime_error("cannot set the slave's speed");
}

// ---- registry ----

TempRegistry::TempRegistry(const std::string &com1Device)
    : path_((TestDirectory() / "registry.reg").string()) {
    std::filesystem::remove(path_);
    ::setenv("TARNWICK_REGISTRY", path_.c_str(), 1);
    ReloadRegistry();
    RegKey("Software\\Vexlon\\ZEP\\Ports").SetString("COM1", com1Device);
}

TempRegistry::~TempRegistry() {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
    ReloadRegistry();
}

// ---- the board ----

BoardPeer::BoardPeer(int masterFd, Responder responder)
    : fd_(masterFd), responder_(std::move(responder)), thread_([this] { Run(); }) {}

BoardPeer::~BoardPeer() {
    stop_ = true;
    thread_.join();
}

void BoardPeer::Run() {
    uint8_t buffer[4096];
    while (!stop_) {
        pollfd p{fd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, 5);
        if (ready <= 0) continue;
        // With no slave open the master reports a hang-up until the engine opens the port.
        if ((p.revents & POLLIN) == 0) {
            ::usleep(2000);
            continue;
        }
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n <= 0) {
            ::usleep(2000);
            continue;
        }
        {
            std::lock_guard lock(mutex_);
            received_.insert(received_.end(), buffer, buffer + n);
        }
        const std::vector<uint8_t> answer = responder_(buffer, static_cast<size_t>(n));
        if (!answer.empty()) WriteAll(fd_, answer);
    }
}

std::vector<uint8_t> BoardPeer::Received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

bool BoardPeer::WaitReceived(size_t count, int timeoutMs) const {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < end) {
        if (Received().size() >= count) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return Received().size() >= count;
}

Responder SilentBoard() {
    return [](const uint8_t *, size_t) { return std::vector<uint8_t>{}; };
}

Responder PilotBoard(Echo echo, UploadAnswer answer) {
    // Header first; then the marker and as many payload bytes as the header's length says.
    struct Upload {
        std::vector<uint8_t> header;
        std::vector<uint8_t> rest;
        size_t expected = 0;
        bool answered = false;
    };
    auto upload = std::make_shared<Upload>();
    return [upload, echo, answer](const uint8_t *data, size_t count) {
        std::vector<uint8_t> reply;
        for (size_t i = 0; i < count; ++i) {
            if (upload->header.size() < PilotHeaderSize) {
                upload->header.push_back(data[i]);
                if (upload->header.size() < PilotHeaderSize) continue;
                upload->expected = packet::LoadLe16(upload->header.data() + 4);
                if (echo == Echo::Right)
                    reply.push_back(upload->header[6]);
                else if (echo == Echo::Wrong)
                    reply.push_back(static_cast<uint8_t>(upload->header[6] ^ 0x5A));
                continue;
            }
            upload->rest.push_back(data[i]);
        }
        if (!upload->answered && upload->expected > 0 && upload->rest.size() >= upload->expected) {
            upload->answered = true;
            // rest[0] is the marker: the sum starts from its state.
            uint16_t sum = PilotUploadChecksum(upload->rest.data() + 1, upload->expected - 1);
            if (answer == UploadAnswer::Wrong) sum = static_cast<uint16_t>(sum + 1);
            reply.push_back(static_cast<uint8_t>(sum & 0xFF));
            reply.push_back(static_cast<uint8_t>(sum >> 8));
        }
        return reply;
    };
}

struct PacketBoard::State {
    Answer answer;
    sim::FrameDecoder decoder;
    mutable std::mutex mutex;
    std::vector<sim::Frame> requests;
};

PacketBoard::PacketBoard(Answer answer) : state_(std::make_shared<State>()) {
    state_->answer = std::move(answer);
}

Responder PacketBoard::AsResponder() {
    auto state = state_;
    return [state](const uint8_t *data, size_t count) {
        std::vector<sim::Frame> frames;
        state->decoder.Feed(data, count, frames);
        std::vector<uint8_t> reply;
        for (const sim::Frame &frame : frames) {
            {
                std::lock_guard lock(state->mutex);
                state->requests.push_back(frame);
            }
            if (const std::optional<sim::Frame> answer = state->answer(frame)) {
                const std::vector<uint8_t> bytes = sim::EncodeFrame(*answer);
                reply.insert(reply.end(), bytes.begin(), bytes.end());
            }
        }
        return reply;
    };
}

std::vector<sim::Frame> PacketBoard::Requests() const {
    std::lock_guard lock(state_->mutex);
    return state_->requests;
}

bool PacketBoard::WaitRequests(size_t count, int timeoutMs) const {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < end) {
        if (Requests().size() >= count) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return Requests().size() >= count;
}

PacketBoard::Answer AckAll(std::vector<uint8_t> payload) {
    return [payload](const sim::Frame &request) -> std::optional<sim::Frame> {
        return sim::Frame{request.type, static_cast<uint8_t>((request.subtype & 0x3F) | 0x80),
                          payload};
    };
}

PacketBoard::Answer NakAll() {
    return [](const sim::Frame &request) -> std::optional<sim::Frame> {
        return sim::Frame{request.type, static_cast<uint8_t>((request.subtype & 0x3F) | 0x40), {}};
    };
}

// ---- message boxes ----

struct MessageCapture::State {
    mutable std::mutex mutex;
    std::vector<std::string> texts;
};

MessageCapture::MessageCapture() : state_(std::make_shared<State>()) {
    auto state = state_;
    previous_ = SetMessageFunction([state](const std::string &, const std::string &text) {
        std::lock_guard lock(state->mutex);
        state->texts.push_back(text);
    });
}

MessageCapture::~MessageCapture() { SetMessageFunction(previous_); }

std::vector<std::string> MessageCapture::Texts() const {
    std::lock_guard lock(state_->mutex);
    return state_->texts;
}

// ---- helpers ----

CommOptions SerialOptions(int32_t baudRate) {
    CommOptions options;
    options.ComPort = 1;
    options.BaudRate = baudRate;
    options.DtrControl = 1;
    options.RtsControl = 1;
    options.StopBits = 0;
    options.SerialResponseTimeout = 150;
    options.SerialRetryCount = 0;
    options.PilotBiosPhysicalAdress = 0x4000;
    return options;
}

std::string WriteTempFile(const std::string &name, const std::vector<uint8_t> &bytes) {
    const std::string path = (TestDirectory() / name).string();
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) throw std::runtime_error("cannot write " + path);
    const size_t written = bytes.empty() ? 0 : std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    if (written != bytes.size()) throw std::runtime_error("short write " + path);
    return path;
}

int32_t LoaderErrorOf(const std::function<void()> &fn) {
    try {
        fn();
    } catch (const TargetCommException &error) {
        return error.Code();
    }
    return 0;
}

} // namespace enginetest
