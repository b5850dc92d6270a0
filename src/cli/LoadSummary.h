// What a successful load wrote where, as tarnwick-cli prints it at the end: a few aligned lines
// that a production record can keep. A field the road does not have, or the load did not learn,
// is left out rather than shown as a zero.
#pragma once

#include "load/LoadDisplay.h"

#include <string>
#include <vector>

struct SummaryField {
    std::string Label;
    std::string Value;
};

// The fields of outcome worth a line, in the order they are printed. Values that came from a
// file or a peer (the target's name, the flash table entry) are escaped for a terminal.
std::vector<SummaryField> SummaryFields(const LoadOutcome &outcome);

// One line per field, without line ends, the values lined up after the longest label.
std::vector<std::string> SummaryLines(const std::vector<SummaryField> &fields);

// The flash ID as the flash table names it, with a 0x in front: "0x00bf".
std::string FormatFlashId(uint16_t flashId);

// A road on which the board is reached through a serial port (named by port, not by address).
bool IsSerialRoad(const std::string &road);
