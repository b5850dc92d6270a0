// TfrmDiscovery: finds the CorvixLink devices on the local network and lets the user pick one.
// Showing it starts one discovery round of 50 polls, 100 ms apart; every device that answers is
// listed once (by its IP address), with the controls in its texts shown as symbols
// (WithControlPictures). While the round runs the window is busy: Select and Cancel
// are disabled, Escape and closing do nothing. Select copies the chosen row's address, name and
// control port into the caller's three strings and ends with mrOk; Cancel ends with mrCancel.
#pragma once

#include "discovery/Discovery.h"

#include <QDialog>

#include <cstdint>
#include <string>

class QPushButton;
class QTimer;
class QTreeWidget;

namespace toolkit {
class TAction;
class TActionList;
} // namespace toolkit

class TfrmDiscovery : public QDialog {
    Q_OBJECT
public:
    static constexpr int PollsPerRound = 50;
    static constexpr int PollIntervalMs = 100;

    // The three strings receive the choice; the caller reads them after an mrOk.
    // discoveryPort: where the requests go (replies come back on the port above it).
    TfrmDiscovery(QWidget *owner, std::string &address, std::string &name, std::string &port,
                  uint16_t discoveryPort = DefaultDiscoveryPort);
    ~TfrmDiscovery() override;

    // Columns of lvDiscovery.
    enum Column { ColName, ColIpAddress, ColControlPort, ColStatus, ColMacAddress, ColumnCount };

    QTreeWidget *lvDiscovery = nullptr;
    QPushButton *btnSelect = nullptr;
    QPushButton *btnCancel = nullptr;
    QTimer *tmrDiscovery = nullptr;
    toolkit::TActionList *alDiscovery = nullptr;
    toolkit::TAction *actSelect = nullptr;
    toolkit::TAction *actCancel = nullptr;

    bool Busy() const { return busy_; }
    int Countdown() const { return countdown_; }
    // Shortens the round for tests: the number of polls the next round makes (before showing).
    void SetRoundPolls(int polls) { countdown_ = polls; }
    // Makes the window ready for another round when it is kept and shown again: an empty list
    // and a full countdown.
    void PrepareRound();

    void FormShow();
    void tmrDiscoveryTimer();
    void actSelectExecute();
    void actCancelExecute();
    void actSelectUpdate();
    void actCancelUpdate();

public slots:
    // Escape and the dialog's own ways of ending must not end a running round.
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void SetBusy(bool busy);
    void EndRound();
    // Ends the round after a failure of the discovery operations and tells the user.
    void FailRound(int32_t loaderError);
    void AddDevice(const std::string &name, const std::string &ip, const std::string &port,
                   const std::string &status, const std::string &mac);

    std::string &address_;
    std::string &name_;
    std::string &port_;
    const uint16_t discoveryPort_;
    int countdown_ = PollsPerRound;
    bool busy_ = false;
    bool roundOpen_ = false;
    bool cursorSet_ = false;
};

// Shows the discovery window over owner (modal) and returns its modal result: toolkit::mrOk
// with the choice in address, name and port, toolkit::mrCancel with them untouched.
int ShowDiscoveryDialog(QWidget *owner, std::string &address, std::string &name, std::string &port);
