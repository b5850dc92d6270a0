// "tarnwick-cli discover" as a script runs it, against the simulated discovery responder on
// 127.0.0.1: whatever a device puts in its name, its answers come out as exactly one line of five
// tab-separated fields, and no byte of the name reaches the terminal as a control.
#include "DiscoveryResponder.h"
#include "discovery/Discovery.h"
#include "support/ProgramRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

std::vector<std::string> Split(const std::string &text, char separator) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, separator);) parts.push_back(part);
    return parts;
}

// A byte a terminal acts on: C0 controls but the line's own tab and line feed, DEL, and the
// bytes of the C1 range and above, which none of the line's texts needs once escaped.
bool DrivesATerminal(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (byte < 0x20 && c != '\t' && c != '\n') || byte >= 0x7f;
}

TEST(CliDiscover, ANameWithControlsAndAFakeLineStaysOneLineOfItsDevice) {
    programrun::ScratchFolder scratch;
    ASSERT_TRUE(scratch.Made());
    // Fits the 40-byte field: a tab and a line feed that would start a second device's line,
    // the escape sequence that clears the screen, a carriage return, a bell and a C1 control.
    const std::string name = "Bench\t\x1b[2J\nFake\t10.9.9.9\t1\tRunning\r\a\xc2\x9b";
    ASSERT_LE(name.size(), 40u);
    sim::DiscoveryOptions options;
    options.port = DefaultDiscoveryPort; // where tarnwick-cli sends its requests
    options.name = name;
    options.controlPort = 4244;
    sim::DiscoveryResponder device(options);
    std::string why;
    ASSERT_TRUE(device.Start(&why))
        << "UDP 127.0.0.1:" << DefaultDiscoveryPort << " is needed for this test: " << why;
    std::ofstream(scratch.Path() / "registry.reg")
        << "Windows Registry Editor Version 5.00\r\n\r\n"
        << "[HKEY_CURRENT_USER\\Software\\Vexlon\\ZEP\\3.02\\Communications]\r\n"
        << "\"Discovery Broadcast Address\"=\"127.0.0.1\"\r\n";

    // Two seconds: two requests, both answered, one device.
    const programrun::Finished run =
        programrun::RunToEnd(programrun::BuiltProgram("tarnwick-cli"),
                             {"discover", "--seconds", "2"}, scratch.Path(), 20s,
                             {{"TARNWICK_REGISTRY", (scratch.Path() / "registry.reg").string()},
                              {"TARNWICK_PASSPHRASE", ""}});

    EXPECT_EQ(run.status, 0) << run.errors;
    EXPECT_GE(device.Requests().size(), 2u) << "the device answered more than once";
    const std::vector<std::string> lines = Split(run.output, '\n');
    ASSERT_EQ(lines.size(), 1u) << run.output;
    EXPECT_EQ(run.output.back(), '\n');
    const auto bad = std::find_if(run.output.begin(), run.output.end(), DrivesATerminal);
    EXPECT_EQ(bad, run.output.end())
        << "byte 0x" << std::hex << int(static_cast<unsigned char>(*bad)) << " in " << run.output;
    const std::vector<std::string> fields = Split(lines[0], '\t');
    ASSERT_EQ(fields.size(), 5u) << lines[0];
    EXPECT_EQ(fields[0], "Bench\\t\\x1b[2J\\nFake\\t10.9.9.9\\t1\\tRunning\\r\\x07\\xc2\\x9b")
        << "every byte of the name is still there to read";
    EXPECT_EQ(fields[1], "127.0.0.1");
    EXPECT_EQ(fields[2], "4244");
    EXPECT_EQ(fields[3], "Running");
    EXPECT_EQ(fields[4], "02:00:5e:10:00:01");
}

} // namespace
