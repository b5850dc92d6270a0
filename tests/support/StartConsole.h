// A simulated CorvixSys console on 127.0.0.1 for the tests that need one, with a fault given in
// corvix-sim's spelling ("close:3", "bad-login", ...; empty: none).
#pragma once

#include "ConsoleServer.h"
#include "settings/Zepenvironment.h"

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
        if (parsed) options.fault = *parsed;
    }
    return StartConsole(options);
}

// Points the settings at console: the CorvixSys road over TCP, with the given login.
inline void UseConsole(const sim::ConsoleServer &console,
                       const char *user = sim::ConsoleOptions::DefaultUser,
                       const char *password = sim::ConsoleOptions::DefaultPassword) {
    Env().Comm.UseTCP = 1;
    Env().Comm.UseCorvixLink = 0;
    Env().Comm.UseCorvixSys = 1;
    SetField(Env().Comm.CorvixSysAddress, "127.0.0.1");
    SetField(Env().Comm.CorvixSysUserName, user);
    SetField(Env().Comm.CorvixSysPassword, password);
    Env().Comm.CorvixSysTcpPort = console.Port();
}
