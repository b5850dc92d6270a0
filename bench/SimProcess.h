// corvix-sim as a separate process, for the runs that count allocations: an in-process simulator
// would allocate on its own threads and be counted with the product.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace bench {

class SimProcess {
public:
    // Starts corvix-sim (next to this program) with the arguments and waits up to 5 s for the
    // address it prints first; Address() is empty when it did not come.
    explicit SimProcess(const std::vector<std::string> &arguments);
    ~SimProcess(); // Stop()
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;

    const std::string &Address() const { return address_; }
    // The TCP port of an address "127.0.0.1:P" or "rfc2217://127.0.0.1:P"; 0 if none.
    int Port() const;
    // SIGTERM, then up to 5 s for it to write its files and end (SIGKILL after that).
    void Stop();

private:
    pid_t pid_ = -1;
    int output_ = -1; // its standard output
    std::string address_;
};

} // namespace bench
