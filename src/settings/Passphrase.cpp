#include "settings/Passphrase.h"

#include "platform/Console.h"
#include "platform/Md5.h"

#include <algorithm>
#include <cstdlib>

namespace {

constexpr std::string_view Prompt = "Passphrase: ";
constexpr std::string_view CutNote = "Only the first 31 characters of the passphrase are used.\n";
// A line longer than this is still read to its end (so it cannot leak into whatever reads the
// terminal next) but not kept.
constexpr size_t MaxLineKept = 1024;

PassphraseKey &LastKey() {
    static PassphraseKey key = KeyOfPassphrase({});
    return key;
}

void WriteAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const long written = platform::WriteSome(fd, text.data(), text.size());
        if (written <= 0)
            return; // a prompt that cannot be shown does not stop the user from typing
        text.remove_prefix(static_cast<size_t>(written));
    }
}

// A descriptor closed by its destructor.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() { platform::CloseFd(fd_); }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    int Get() const { return fd_; }

private:
    int fd_;
};

std::string ReadLine(int fd) {
    std::string line;
    char c = 0;
    for (;;) {
        const long got = platform::ReadSome(fd, &c, 1);
        if (got <= 0 || c == '\n') break;
        if (line.size() < MaxLineKept) line.push_back(c);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

// Cuts text to the passphrase limit, telling the user on fd when anything was dropped.
std::string Limited(std::string text, int noteFd) {
    const size_t kept = LimitPassphrase(text).size();
    if (kept < text.size()) {
        WriteAll(noteFd, CutNote);
        platform::SecureZero(text.data() + kept, text.size() - kept);
        text.resize(kept);
    }
    return text;
}

} // namespace

PassphraseKey KeyOfPassphrase(std::string_view passphrase) {
    return platform::Md5(reinterpret_cast<const uint8_t *>(passphrase.data()), passphrase.size());
}

std::string_view TextOfBuffer(const PassphraseBuffer &buffer) {
    const auto end = std::find(buffer.begin(), buffer.end(), '\0');
    return {buffer.data(), static_cast<size_t>(end - buffer.begin())};
}

void StoreInBuffer(PassphraseBuffer &buffer, std::string_view text) {
    const std::string_view kept = LimitPassphrase(text);
    buffer.fill('\0');
    std::copy(kept.begin(), kept.end(), buffer.begin());
}

std::string_view LimitPassphrase(std::string_view text) {
    if (text.size() <= MaxPassphraseLength) return text;
    size_t cut = MaxPassphraseLength;
    // Never keep half of a character: back up to the start of the one that would be split.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return text.substr(0, cut);
}

PassphraseKey LastPassphraseKey() { return LastKey(); }

PassphraseCallback MakePassphraseCallback(std::function<void(PassphraseBuffer &)> ask) {
    return [ask = std::move(ask)] {
        PassphraseBuffer buffer{};
        ask(buffer);
        const PassphraseKey key = KeyOfPassphrase(TextOfBuffer(buffer));
        platform::SecureZero(buffer.data(), buffer.size()); // the passphrase itself is not kept
        LastKey() = key;
        return key;
    };
}

std::string ReadPassphraseOnTerminal(int inputFd, int promptFd) {
    std::string line;
    {
        // Echo goes off before the prompt shows, so nothing typed after it can appear.
        platform::EchoOff quiet(inputFd);
        WriteAll(promptFd, Prompt);
        line = ReadLine(inputFd);
    }
    WriteAll(promptFd, "\n"); // the user's Enter was not echoed either
    return Limited(std::move(line), promptFd);
}

std::string ReadCliPassphrase(const PassphraseSources &sources) {
    const FileDescriptor terminal(platform::OpenTerminal(sources.TerminalPath));
    if (terminal.Get() >= 0 && platform::IsTerminal(terminal.Get()))
        return ReadPassphraseOnTerminal(terminal.Get(), terminal.Get());
    if (platform::IsTerminal(sources.InputFd))
        return ReadPassphraseOnTerminal(sources.InputFd, sources.MessageFd);
    const char *value = std::getenv(sources.EnvironmentVariable.c_str());
    return Limited(value != nullptr ? std::string(value) : std::string(), sources.MessageFd);
}

PassphraseCallback CliPassphraseCallback() {
    return MakePassphraseCallback([](PassphraseBuffer &buffer) {
        std::string text = ReadCliPassphrase();
        StoreInBuffer(buffer, text);
        platform::SecureZero(text.data(), text.size());
    });
}
