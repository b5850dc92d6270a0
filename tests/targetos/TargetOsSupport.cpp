#include "TargetOsSupport.h"

#include <gtest/gtest.h>

namespace ostest {

CommOptions ConsoleOptionsFor(uint16_t port) {
    namespace text = sim::console;
    CommOptions options;
    options.UseTCP = 1;
    options.UseCorvixSys = 1;
    options.EthernetResponseTimeout = 2000;
    options.EthernetRetryCount = 0;
    SetField(options.CorvixSysAddress, "127.0.0.1");
    options.CorvixSysTcpPort = port;
    SetField(options.CorvixSysUserName, sim::ConsoleOptions::DefaultUser);
    SetField(options.CorvixSysPassword, sim::ConsoleOptions::DefaultPassword);
    SetField(options.ConsoleNewline, text::Newline);
    SetField(options.ConsoleGreetingMessage, text::Greeting);
    SetField(options.ConsoleUserNamePrompt, text::UserPrompt);
    SetField(options.ConsolePasswordRequiredMessage, text::PasswordRequired);
    SetField(options.ConsolePasswordPrompt, text::PasswordPrompt);
    SetField(options.ConsoleLoggedInMessage, text::LoggedIn);
    SetField(options.ConsoleBadUserNameMessage, text::BadLogin);
    SetField(options.ConsolePrompt, text::Prompt);
    SetField(options.TargetModeCommand, text::TargetMode);
    SetField(options.TargetModeMessage, text::TargetModeReply);
    return options;
}

int32_t ConnectionCodeOf(const std::function<void()> &fn) {
    try {
        fn();
    } catch (const xConnectionErr &error) {
        return error.InternalCode;
    }
    return 0;
}

} // namespace ostest
