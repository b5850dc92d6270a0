// The pseudo-terminal front end where the system has no pseudo-terminals (Windows): it declines
// to start, and the board is served over RFC 2217 instead. The build takes this file in place of
// PtyFrontEnd.cpp there.
#include "PtyFrontEnd.h"

namespace sim {

PtyFrontEnd::PtyFrontEnd(Peer &peer, PtyFrontEndOptions options) : channel_(peer, options.pace) {}

PtyFrontEnd::~PtyFrontEnd() = default;

bool PtyFrontEnd::Start(std::string *error) {
    if (error) *error = "pseudo-terminals do not exist on this system: use --rfc2217-port";
    return false;
}

void PtyFrontEnd::Stop() {}

LineState PtyFrontEnd::CurrentLine() const {
    std::lock_guard lock(mutex_);
    return line_;
}

std::vector<LineEvent> PtyFrontEnd::LineEvents() const {
    std::lock_guard lock(mutex_);
    return events_;
}

} // namespace sim
