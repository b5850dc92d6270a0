// tarnwick-cli ports [--json]: the machine's serial ports by COM number, with device, USB
// identity, whether this user may open each one, which processes hold it, and a hint where
// something stands in the way of a load. A table on standard output, or one JSON object per port
// and line.
#pragma once

#include <string>

// Loads the settings as every command does, then lists the ports. Returns the process exit
// status: 0, also when there are no ports; 1 when the listing could not be made (with
// "Error: <message>" and a detail line on standard error).
int RunCliPorts(const std::string &programPath, bool json);
