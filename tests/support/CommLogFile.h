// A communication log test's surroundings: its own current directory (the log is written there)
// and the five log switches, both put back when the test ends.
#pragma once

#include "comm/CommLog.h"
#include "comm/CommLogSwitches.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

class CommLogFile {
public:
    // Switches: enable, verbose, raw writes, raw reads, packet data.
    CommLogFile(uint8_t enable, uint8_t verbose, uint8_t rawWrites, uint8_t rawReads,
                uint8_t packetData)
        : savedSwitches_(LogSwitches()), savedDirectory_(std::filesystem::current_path()) {
        char pattern[] = "/tmp/tarnwick-log-XXXXXX";
        const char *made = ::mkdtemp(pattern);
        EXPECT_NE(made, nullptr);
        directory_ = made != nullptr ? made : "/tmp";
        std::filesystem::current_path(directory_);
        LogSwitches() = CommLogSwitches{enable, verbose, rawWrites, rawReads, packetData};
    }
    ~CommLogFile() {
        LogSwitches().EnableTcLogging = 1; // so that the close below takes effect
        commlog::CloseLog();
        LogSwitches() = savedSwitches_;
        std::error_code ignored;
        std::filesystem::current_path(savedDirectory_, ignored);
        std::filesystem::remove_all(directory_, ignored);
    }
    CommLogFile(const CommLogFile &) = delete;
    CommLogFile &operator=(const CommLogFile &) = delete;

    std::filesystem::path Path() const { return directory_ / "tcout.txt"; }
    bool Exists() const { return std::filesystem::exists(Path()); }
    // The whole log, or nothing when there is no file.
    std::optional<std::string> Read() const {
        std::ifstream in(Path(), std::ios::binary);
        if (!in) return std::nullopt;
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    // The log with every time stamp "(hh:mm:ss:ms)" replaced by "(T)", after checking its form.
    std::string ReadWithoutTimes() const {
        static const std::regex stamp(R"(\r\n\((\d\d):(\d\d):(\d\d):(\d\d\d?)\))");
        return std::regex_replace(Read().value_or(""), stamp, "\r\n(T)");
    }

private:
    CommLogSwitches savedSwitches_;
    std::filesystem::path savedDirectory_;
    std::filesystem::path directory_;
};

// One time-stamped piece of a log: the text after the stamp up to the next one, split into
// its first line (the heading or port event), the decoded lines and the hexadecimal dump.
struct CommLogEntry {
    std::string heading;
    std::vector<std::string> decoded;
    std::vector<std::string> dump;
};

inline std::vector<CommLogEntry> ParseCommLog(const std::string &text) {
    static const std::regex stamp(R"(\r\n\(\d\d:\d\d:\d\d:\d\d\d?\))");
    static const std::regex dumpLine(R"(([0-9a-f]{2} ){1,16})");
    std::vector<CommLogEntry> entries;
    std::sregex_token_iterator piece(text.begin(), text.end(), stamp, -1), end;
    if (piece != end) ++piece; // what comes before the first stamp
    for (; piece != end; ++piece) {
        CommLogEntry entry;
        std::istringstream lines(piece->str());
        std::string line;
        bool first = true;
        while (std::getline(lines, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (first)
                entry.heading = line;
            else if (std::regex_match(line, dumpLine))
                entry.dump.push_back(line);
            else
                entry.decoded.push_back(line);
            first = false;
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}
