// Simulated network devices as tests ask for them: with a passphrase, with one fault, or with a
// board that sends its text message.
#pragma once

#include "LinkDevice.h"

#include <string>

inline sim::LinkOptions WithPassphrase(const std::string &passphrase) {
    sim::LinkOptions options;
    options.passphrase = passphrase;
    return options;
}

inline sim::LinkOptions WithFault(sim::LinkFaultKind kind, unsigned n) {
    sim::LinkOptions options;
    options.fault = {kind, n};
    return options;
}

inline sim::LinkOptions WithTextAfterWrites(unsigned afterWrites, const std::string &text) {
    sim::LinkOptions options;
    options.board.textMessage = {afterWrites, text};
    return options;
}
