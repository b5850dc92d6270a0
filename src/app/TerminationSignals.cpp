#include "app/TerminationSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr std::array<int, 3> HandledSignals{SIGTERM, SIGINT, SIGHUP};

volatile std::sig_atomic_t writeEnd = -1;

extern "C" void OnTerminationSignal(int signalNumber) {
    const int savedErrno = errno; // the interrupted code may be looking at errno
    const auto byte = static_cast<unsigned char>(signalNumber);
    if (writeEnd >= 0) {
        // A full pipe already holds a wake-up; nothing more to do.
        [[maybe_unused]] const ssize_t written = write(writeEnd, &byte, 1);
    }
    errno = savedErrno;
}

} // namespace

TerminationSignals::TerminationSignals(QWidget *windowToClose) : window_(windowToClose) {
    if (pipe2(pipe_.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
        pipe_ = {-1, -1};
        return; // the default dispositions stay: a signal then ends the program unsaved
    }
    writeEnd = pipe_[1];
    notifier_ = new QSocketNotifier(pipe_[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignals::SignalArrived);
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < HandledSignals.size(); ++i)
        sigaction(HandledSignals[i], &action, &previous_[i]);
}

TerminationSignals::~TerminationSignals() {
    if (pipe_[0] < 0) return;
    for (size_t i = 0; i < HandledSignals.size(); ++i)
        sigaction(HandledSignals[i], &previous_[i], nullptr);
    writeEnd = -1;
    delete notifier_;
    close(pipe_[0]);
    close(pipe_[1]);
}

void TerminationSignals::SignalArrived() {
    unsigned char bytes[16];
    while (read(pipe_[0], bytes, sizeof bytes) > 0) ++received_;
    if (!window_.isNull()) window_->close();
}
