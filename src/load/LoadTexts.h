// What the desktop program says about loads in words: which road a load takes with the current
// settings and where it goes, what to do to start one, and how the last one ended. Plain C++, so
// the main window only shows these texts and tarnwick-cli's summary shares the road's names.
#pragma once

#include "load/LoadDisplay.h"

#include <cstdint>
#include <string>

struct Environment;

// The road ("serial", "CorvixLink", "CorvixSys console" or "CorvixSys serial") and its target
// ("COM3 (/dev/ttyUSB0)", "192.168.1.50:4244") for these settings, as the summary names them.
struct LoadRoad {
    std::string Road;
    std::string Target;
};
LoadRoad RoadOf(const Environment &environment);

// One line for the main window: "Serial COM3 (/dev/ttyUSB0), up to 460800 baud",
// "CorvixLink 192.168.1.50:4244", "CorvixSys console 192.168.1.60:65023", ...
std::string RoadLine(const Environment &environment);

// What to do to start a load, with the file kind the road takes and the menu command's caption.
std::string LoadHint(const Environment &environment);

// How the last load of fileName ended: "Last load: image.bin went through in 4.5 seconds." or
// "Last load: image.bin failed: <message>", and the failure's detail on a second line.
std::string LastLoadText(const std::string &fileName, const LoadOutcome &outcome);

// Seconds from milliseconds in the shortest general form with up to 15 significant digits:
// 12.345, 7, 0.5.
std::string FormatElapsedSeconds(uint32_t milliseconds);
