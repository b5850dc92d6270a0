// The machine-readable line every figure of a benchmark is also printed as; `./run bench` gathers
// them into one table (scripts/bench-table.py):
//   RESULT name=serial.ratio value=1.012 goal=<=1.03 what="serial 512 KiB ..."
// goal is <=X, <X or =X, or "-" for a figure shown without a goal.
#pragma once

#include <cstdio>
#include <string>

namespace bench {

inline void PrintResult(const std::string &name, double value, const std::string &goal,
                        const std::string &what) {
    std::printf("RESULT name=%s value=%.3f goal=%s what=\"%s\"\n", name.c_str(), value,
                goal.c_str(), what.c_str());
    std::fflush(stdout);
}

} // namespace bench
