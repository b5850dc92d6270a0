// The five switches of the communication log. The log hooks read them each time they run; the
// settings store fills them at start-up and writes them back at exit. Until then they hold the
// same defaults as a first start.
#pragma once

#include <cstdint>

struct CommLogSwitches {
    uint8_t EnableTcLogging = 0;    // "Enable TC Logging": master switch
    uint8_t LogVerbose = 1;         // "Log Verbose": decode packets and port settings
    uint8_t LogNonPacketWrites = 0; // "Log Non-packet Writes": raw-mode traffic sent
    uint8_t LogNonPacketReads = 1;  // "Log Non-packet Reads": raw-mode traffic received
    uint8_t LogPacketData = 1;      // "Log Packet Data": hex dump of packet-mode traffic
};

// The switches of the process's one communication log.
CommLogSwitches &LogSwitches();
