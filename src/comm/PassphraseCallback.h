// How a connection gets the key of a network device's passphrase: asked from the user (a
// dialog, the terminal, the environment) only when the device challenges the connection.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

// Returns the 16-byte key of the passphrase.
using PassphraseCallback = std::function<std::array<uint8_t, 16>()>;
