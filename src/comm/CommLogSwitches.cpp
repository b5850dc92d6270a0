#include "comm/CommLogSwitches.h"

CommLogSwitches &LogSwitches() {
    static CommLogSwitches switches;
    return switches;
}
