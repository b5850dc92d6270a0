// The machinery every stage of the loader engine shares: the enter/leave bracket around work
// that talks to the board, and the two halves of the rule that turns a connection failure into
// a user-facing error (stages return the internal code, entry points raise its LoaderError).
// Internal to src/loader.
#pragma once

#include "comm/ConnectionErr.h"
#include "loader/LoaderEngine.h"
#include "loader/LoaderErrors.h"

#include <cstdint>

// Enter on construction, leave on destruction, so that leave runs on the error path too,
// before the stage returns its code.
class LoaderEngine::BusyScope {
public:
    explicit BusyScope(LoaderEngine &engine) : engine_(engine) { engine_.Enter(); }
    ~BusyScope() { engine_.Leave(); }
    BusyScope(const BusyScope &) = delete;
    BusyScope &operator=(const BusyScope &) = delete;

private:
    LoaderEngine &engine_;
};

template <typename Body> int32_t LoaderEngine::RunStage(Body &&body) {
    try {
        body();
    } catch (const xConnectionErr &error) {
        stageFailureDetail_ = error.Detail();
        return error.InternalCode;
    }
    stageFailureDetail_.clear();
    return 0;
}

inline void LoaderEngine::RaiseOnFailure(int32_t internalCode) const {
    if (internalCode != 0) RaiseLoaderError(internalCode, stageFailureDetail_);
}
