// The registry file's reader, through its public parse function: any text either parses or is
// refused with RegistryError, and what parses is written and read back to the same keys and
// values (a save must never lose what a load found).
#include "FuzzSupport.h"

#include "platform/posix/RegistryHive.h"

using namespace platform;
using namespace platform::regfile;

namespace {

bool SameHive(const Hive &a, const Hive &b) {
    if (a.keys.size() != b.keys.size()) return false;
    for (size_t k = 0; k < a.keys.size(); ++k) {
        const HiveKey &x = a.keys[k];
        const HiveKey &y = b.keys[k];
        if (x.path != y.path || x.values.size() != y.values.size()) return false;
        for (size_t v = 0; v < x.values.size(); ++v) {
            const RegValue &p = x.values[v];
            const RegValue &q = y.values[v];
            if (p.name != q.name || p.type != q.type || p.data != q.data) return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    Hive hive;
    try {
        hive = ParseRegFile(text);
    } catch (const RegistryError &) {
        return 0;
    }
    std::string written;
    try {
        written = FormatRegFile(hive);
    } catch (const RegistryError &) {
        return 0; // a name with a line break: refused by the save, which keeps the old file
    }
    Hive again;
    try {
        again = ParseRegFile(written);
    } catch (const RegistryError &) {
        fuzz::Fail("a written registry file does not read back");
    }
    fuzz::Check(SameHive(hive, again), "a written registry file reads back different");
    return 0;
}
