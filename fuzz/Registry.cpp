// The registry file's reader, through its public parse function: any text is read (a line it
// cannot read is skipped), and what was read is written and read back to the same keys and
// values with nothing skipped (a save must never lose what a load found).
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
    const Hive hive = ParseRegFile(text).hive;
    std::string written;
    try {
        written = FormatRegFile(hive);
    } catch (const RegistryError &) {
        return 0; // a name with a line break: refused by the save, which keeps the old file
    }
    const ParsedRegFile again = ParseRegFile(written);
    fuzz::Check(again.skipped.empty(), "a written registry file does not read back whole");
    fuzz::Check(SameHive(hive, again.hive), "a written registry file reads back different");
    return 0;
}
