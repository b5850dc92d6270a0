// The passphrase of a network programming device and the key made from it. The device proves
// the user knows its passphrase by a challenge; we answer with a digest over the challenge and
// this key (the connection does that part). Both front ends ask for the passphrase each time a
// device challenges: the desktop program in its passphrase window, tarnwick-cli here.
#pragma once

#include "loader/LoaderEngineApi.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

using PassphraseKey = std::array<uint8_t, 16>;

// The passphrase buffer the devices work with: 31 characters (bytes) and a terminating zero.
constexpr size_t PassphraseBufferSize = 32;
constexpr size_t MaxPassphraseLength = PassphraseBufferSize - 1;
using PassphraseBuffer = std::array<char, PassphraseBufferSize>;

// The key of a passphrase: the MD5 digest of its characters alone, without any terminator.
// An empty passphrase gives the digest of empty input.
PassphraseKey KeyOfPassphrase(std::string_view passphrase);
// The text of a buffer: its characters up to the first zero (all of it when there is none).
std::string_view TextOfBuffer(const PassphraseBuffer &buffer);
// Writes text into the buffer, zero-terminated and zero-filled; at most MaxPassphraseLength bytes
// are kept, cut at a character boundary of UTF-8 text.
void StoreInBuffer(PassphraseBuffer &buffer, std::string_view text);
// text cut to at most MaxPassphraseLength bytes without splitting a UTF-8 character.
std::string_view LimitPassphrase(std::string_view text);

// The key of the last passphrase entered in this process (the digest of empty input before the
// first). UI thread only, like the connections that ask for it.
PassphraseKey LastPassphraseKey();

// Makes the provider a connection calls on each challenge: ask fills a fresh buffer (leaving it
// empty when the user gave no passphrase), and the provider returns the buffer's key, keeping it
// as the last key.
PassphraseCallback MakePassphraseCallback(std::function<void(PassphraseBuffer &)> ask);

// Where tarnwick-cli looks for the passphrase, in this order: the controlling terminal, standard
// input when it is a terminal, then the environment variable (empty when unset).
struct PassphraseSources {
    std::string TerminalPath = "/dev/tty";
    int InputFd = 0;   // standard input
    int MessageFd = 2; // where the prompt goes when standard input is the terminal
    std::string EnvironmentVariable = "TARNWICK_PASSPHRASE";
};

// Prompts "Passphrase: " on the terminal fd and reads one line with echo off (restored on every
// path). A passphrase longer than MaxPassphraseLength is cut, with a note on the terminal.
// promptFd may equal inputFd. Returns the line without its end.
std::string ReadPassphraseOnTerminal(int inputFd, int promptFd);
// The passphrase as tarnwick-cli takes it (see PassphraseSources), cut like the window's edit.
std::string ReadCliPassphrase(const PassphraseSources &sources = {});
// The provider tarnwick-cli hands to every connect.
PassphraseCallback CliPassphraseCallback();
