// The machine-readable line every figure of a benchmark is also printed as; `./run bench` gathers
// them into one table (scripts/bench-table.py):
//   RESULT name=serial.ratio value=1.012 goal=<=1.03 what="serial 512 KiB ..."
// goal is <=X, <X or =X, or "-" for a figure shown without a goal.
#pragma once

#include <cstdio>
#include <string>
#include <initializer_list>

namespace bench {

inline void PrintResult(const std::string &name, double value, const std::string &goal,
                        const std::string &what) {
    std::printf("RESULT name=%s value=%.3f goal=%s what=\"%s\"\n", name.c_str(), value,
                goal.c_str(), what.c_str());
    std::fflush(stdout);
}

// A whole load's heap allocations while its image went out, as counted per packet.
struct AllocationRun {
    std::string label; // "64k", "512k", "1m": the name's last part
    std::string load;  // "64 KiB load", for the description
    double perPacket = 0;
    double packets = 0;
};

// A road's allocation figures from a small and a large load. Each load's count per packet still
// holds what a load allocates once (the image file opened, a buffer grown to its size); what a
// packet itself costs is what the large load allocated beyond the small one, over the packets it
// sent beyond it: that is the figure whose goal is 0.
inline void PrintAllocationResults(const std::string &road, const std::string &what,
                                   const AllocationRun &small, const AllocationRun &large) {
    for (const AllocationRun *run : {&small, &large})
        PrintResult(road + ".allocs_" + run->label, run->perPacket, "-",
                    what + " allocations per packet, " + run->load + ", set-up included");
    const double extra = large.perPacket * large.packets - small.perPacket * small.packets;
    const double extraPackets = large.packets - small.packets;
    double perPacket = extraPackets > 0 ? extra / extraPackets : -1;
    // The two loads' set-up may differ by an allocation or two, either way: not a "-0.000".
    if (perPacket > -0.0005 && perPacket < 0.0005) perPacket = 0;
    PrintResult(road + ".allocs_per_packet", perPacket, "=0",
                what + " allocations each further packet adds (" + large.load + " less " +
                    small.load + ")");
}

} // namespace bench
