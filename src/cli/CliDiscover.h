// tarnwick-cli discover [--seconds S]: one discovery round of S seconds (5 unless given), one
// line per device on standard output: name, IP address, control port, status and MAC address,
// separated by tabs. A device that answers several requests of the round is listed once.
#pragma once

#include <string>
#include <vector>

// Returns the process exit status: 0 (also when no device answered), 2 for a usage error, the
// LoaderError code (22) when the round fails.
int RunCliDiscover(const std::string &programPath, const std::vector<std::string> &args);
