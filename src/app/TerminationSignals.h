// Turns SIGTERM, SIGINT and SIGHUP into an orderly close of a window, so that a logout, a
// service stop or Ctrl-C in the terminal ends the program the way the Exit command does (the
// settings are saved). The handlers only write to a pipe; the window is closed from our loop.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <array>
#include <csignal>

class QSocketNotifier;

class TerminationSignals : public QObject {
    Q_OBJECT
public:
    // One instance at a time. Restores the previous handlers when destroyed, so that a second
    // signal after the loop has ended stops the program at once.
    explicit TerminationSignals(QWidget *windowToClose);
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals &) = delete;
    TerminationSignals &operator=(const TerminationSignals &) = delete;

    // Signals taken so far (for tests and diagnostics).
    int Received() const { return received_; }

private:
    void SignalArrived();

    QPointer<QWidget> window_;
    std::array<int, 2> pipe_{-1, -1};
    QSocketNotifier *notifier_ = nullptr;
    std::array<struct sigaction, 3> previous_{};
    int received_ = 0;
};
