// The passphrase key, the buffer rules, the provider's shape, and how tarnwick-cli asks for the
// passphrase: on a terminal without echo, else from the environment.
#include "settings/Passphrase.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <future>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

std::string Hex(const PassphraseKey &key) {
    std::string text;
    char pair[3];
    for (const uint8_t byte : key) {
        std::snprintf(pair, sizeof pair, "%02x", byte);
        text += pair;
    }
    return text;
}

// Everything fd yields until it has been quiet for quietMs or until limitMs in all.
std::string ReadAvailable(int fd, int quietMs, int limitMs = 5000) {
    std::string text;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (std::chrono::steady_clock::now() < end) {
        pollfd poller{fd, POLLIN, 0};
        if (::poll(&poller, 1, quietMs) <= 0) break;
        char chunk[256];
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got <= 0) break;
        text.append(chunk, static_cast<size_t>(got));
    }
    return text;
}

// Waits (at most 5 s) until fd has yielded text containing what.
std::string ReadUntil(int fd, const std::string &what) {
    std::string text;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (text.find(what) == std::string::npos && std::chrono::steady_clock::now() < end)
        text += ReadAvailable(fd, 50, 100);
    return text;
}

void WriteText(int fd, const std::string &text) {
    ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
}

// A pseudo-terminal: the program's side (the terminal) and the user's side (the master).
class PseudoTerminal {
public:
    PseudoTerminal() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0)
            name_ = ::ptsname(master_);
        if (!name_.empty()) terminal_ = ::open(name_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    }
    ~PseudoTerminal() {
        if (master_ >= 0) ::close(master_);
        if (terminal_ >= 0) ::close(terminal_);
    }
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    // Closes the user's side: a read waiting on the terminal ends.
    void HangUp() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }

    bool Ok() const { return master_ >= 0 && terminal_ >= 0; }
    int Master() const { return master_; }
    int Terminal() const { return terminal_; }
    const std::string &Name() const { return name_; }

private:
    int master_ = -1;
    int terminal_ = -1;
    std::string name_;
};

class Pipe {
public:
    Pipe() { EXPECT_EQ(::pipe2(fds_, O_CLOEXEC), 0); }
    ~Pipe() {
        ::close(fds_[0]);
        ::close(fds_[1]);
    }
    Pipe(const Pipe &) = delete;
    Pipe &operator=(const Pipe &) = delete;
    int ReadEnd() const { return fds_[0]; }
    int WriteEnd() const { return fds_[1]; }

private:
    int fds_[2] = {-1, -1};
};

// The result of a read running on another thread, waiting at most 5 s; a read still waiting
// then is ended by hanging up the terminal, and the test fails instead of hanging.
std::string Finish(std::future<std::string> &reading, PseudoTerminal &pty) {
    if (reading.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        ADD_FAILURE() << "the passphrase read did not end";
        pty.HangUp();
    }
    return reading.get();
}

constexpr const char *EmptyDigest = "d41d8cd98f00b204e9800998ecf8427e";

} // namespace

TEST(PassphraseKey, IsTheDigestOfTheCharactersAlone) {
    EXPECT_EQ(Hex(KeyOfPassphrase("abc")), "900150983cd24fb0d6963f7d28e17f72");
    // Not the digest of the text with its terminating zero.
    EXPECT_NE(KeyOfPassphrase("abc"), KeyOfPassphrase(std::string_view("abc\0", 4)));
    EXPECT_EQ(Hex(KeyOfPassphrase("")), EmptyDigest);
}

TEST(PassphraseBuffer, HoldsThirtyOneCharactersAndTheZero) {
    PassphraseBuffer buffer;
    buffer.fill('#');
    const std::string full(31, 'x');
    StoreInBuffer(buffer, full);
    EXPECT_EQ(TextOfBuffer(buffer), full);
    EXPECT_EQ(buffer[31], '\0');

    StoreInBuffer(buffer, full + "yz"); // longer texts keep their first 31 characters
    EXPECT_EQ(TextOfBuffer(buffer), full);

    StoreInBuffer(buffer, "ab"); // a shorter text leaves nothing of the longer one behind
    EXPECT_EQ(TextOfBuffer(buffer), "ab");
    for (size_t i = 2; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], '\0') << "byte " << i;
}

TEST(PassphraseBuffer, CutNeverSplitsAUtf8Character) {
    const std::string text = std::string(30, 'a') + "\xC3\xA9"; // 30 letters and an e-acute
    EXPECT_EQ(LimitPassphrase(text), std::string(30, 'a'));
    const std::string fits = std::string(29, 'a') + "\xC3\xA9";
    EXPECT_EQ(LimitPassphrase(fits), fits);
}

TEST(PassphraseCallbackShape, AsksOnEveryCallAndReturnsTheKeyOfWhatWasGiven) {
    int asked = 0;
    std::string answer = "open sesame";
    const PassphraseCallback callback = MakePassphraseCallback([&](PassphraseBuffer &buffer) {
        ++asked;
        EXPECT_EQ(TextOfBuffer(buffer), ""); // each question starts from an empty buffer
        StoreInBuffer(buffer, answer);
    });
    EXPECT_EQ(callback(), KeyOfPassphrase("open sesame"));
    EXPECT_EQ(LastPassphraseKey(), KeyOfPassphrase("open sesame"));
    answer = "second";
    EXPECT_EQ(callback(), KeyOfPassphrase("second")); // a second challenge asks again
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(LastPassphraseKey(), KeyOfPassphrase("second"));
}

TEST(PassphraseCallbackShape, NothingGivenIsTheKeyOfAnEmptyPassphrase) {
    const PassphraseCallback callback = MakePassphraseCallback([](PassphraseBuffer &) {});
    EXPECT_EQ(Hex(callback()), EmptyDigest);
    EXPECT_EQ(Hex(LastPassphraseKey()), EmptyDigest);
}

TEST(CliPassphrase, TerminalPromptsWithoutEchoAndRestoresIt) {
    PseudoTerminal pty;
    ASSERT_TRUE(pty.Ok());
    termios before{};
    ASSERT_EQ(::tcgetattr(pty.Terminal(), &before), 0);
    ASSERT_NE(before.c_lflag & ECHO, 0u);

    auto reading = std::async(std::launch::async, [&] {
        return ReadPassphraseOnTerminal(pty.Terminal(), pty.Terminal());
    });
    const std::string prompt = ReadUntil(pty.Master(), "Passphrase: ");
    WriteText(pty.Master(), "hunter2\n");
    const std::string shown = prompt + ReadUntil(pty.Master(), "\n");
    const std::string read = Finish(reading, pty);

    EXPECT_EQ(read, "hunter2");
    EXPECT_NE(shown.find("Passphrase: "), std::string::npos);
    EXPECT_EQ(shown.find("hunter2"), std::string::npos) << shown; // never echoed
    termios after{};
    ASSERT_EQ(::tcgetattr(pty.Terminal(), &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
}

TEST(CliPassphrase, OverlongLineIsCutWithANote) {
    PseudoTerminal pty;
    ASSERT_TRUE(pty.Ok());
    auto reading = std::async(std::launch::async, [&] {
        return ReadPassphraseOnTerminal(pty.Terminal(), pty.Terminal());
    });
    ReadUntil(pty.Master(), "Passphrase: ");
    WriteText(pty.Master(), std::string(40, 'k') + "\r\n");
    const std::string shown = ReadUntil(pty.Master(), "used.");
    const std::string read = Finish(reading, pty);
    EXPECT_EQ(read, std::string(31, 'k'));
    EXPECT_NE(shown.find("Only the first 31 characters"), std::string::npos) << shown;
}

TEST(CliPassphrase, ControllingTerminalComesFirst) {
    PseudoTerminal pty;
    ASSERT_TRUE(pty.Ok());
    Pipe input;
    PassphraseSources sources;
    sources.TerminalPath = pty.Name();
    sources.InputFd = input.ReadEnd();
    sources.EnvironmentVariable = "TARNWICK_TEST_PASSPHRASE_UNUSED";
    ::setenv("TARNWICK_TEST_PASSPHRASE_UNUSED", "from the environment", 1);
    auto reading = std::async(std::launch::async, [&] { return ReadCliPassphrase(sources); });
    ReadUntil(pty.Master(), "Passphrase: ");
    WriteText(pty.Master(), "typed\n");
    const std::string read = Finish(reading, pty);
    ::unsetenv("TARNWICK_TEST_PASSPHRASE_UNUSED");
    EXPECT_EQ(read, "typed");
}

TEST(CliPassphrase, WithoutATerminalTheEnvironmentVariableIsUsed) {
    Pipe input;
    Pipe messages;
    PassphraseSources sources;
    sources.TerminalPath = "/nonexistent/tty";
    sources.InputFd = input.ReadEnd();
    sources.MessageFd = messages.WriteEnd();
    sources.EnvironmentVariable = "TARNWICK_TEST_PASSPHRASE";

    ::unsetenv("TARNWICK_TEST_PASSPHRASE");
    EXPECT_EQ(ReadCliPassphrase(sources), ""); // unset: empty

    ::setenv("TARNWICK_TEST_PASSPHRASE", "from the environment", 1);
    EXPECT_EQ(ReadCliPassphrase(sources), "from the environment");

    ::setenv("TARNWICK_TEST_PASSPHRASE", std::string(35, 'e').c_str(), 1);
    EXPECT_EQ(ReadCliPassphrase(sources), std::string(31, 'e'));
    EXPECT_NE(ReadAvailable(messages.ReadEnd(), 50).find("first 31"), std::string::npos);
    ::unsetenv("TARNWICK_TEST_PASSPHRASE");
}
