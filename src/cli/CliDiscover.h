// tarnwick-cli discover [--seconds S]: one discovery round of S seconds (5 unless given), one
// line per device on standard output: name, IP address, control port, status and MAC address,
// separated by tabs. A device that answers several requests of the round is listed once.
#pragma once

#include <string>

constexpr unsigned DiscoverDefaultSeconds = 5;
constexpr unsigned DiscoverMaxSeconds = 3600;

// Returns the process exit status: 0 (also when no device answered), the LoaderError code (22)
// when the round fails. seconds is from 1 to DiscoverMaxSeconds (the caller checks it).
int RunCliDiscover(const std::string &programPath, unsigned seconds);
