// A simulated CorvixSys console on 127.0.0.1 for the tests that need one, with a fault given in
// corvix-sim's spelling ("close:3", "bad-login", ...; empty: none).
#pragma once

#include "ConsoleServer.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

inline std::unique_ptr<sim::ConsoleServer> StartConsole(sim::ConsoleOptions options) {
    auto console = std::make_unique<sim::ConsoleServer>(options);
    std::string error;
    EXPECT_TRUE(console->Start(&error)) << error;
    return console;
}

inline std::unique_ptr<sim::ConsoleServer> StartConsole(const char *fault = "") {
    sim::ConsoleOptions options;
    if (*fault != '\0') {
        const auto parsed = sim::ParseConsoleFault(fault);
        EXPECT_TRUE(parsed.has_value()) << fault;
        if (parsed)
            options.fault = *parsed;
    }
    return StartConsole(options);
}
