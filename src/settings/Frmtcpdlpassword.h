// TfrmTCPPassword: the "Passphrase" window a network programming device's challenge brings up.
// OK (or Enter) writes the typed passphrase into the caller's buffer; Cancel, Escape or closing
// the window leave the buffer as it was.
#pragma once

#include "settings/Passphrase.h"

#include <QDialog>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

class TfrmTCPPassword : public QDialog {
    Q_OBJECT
public:
    // buffer must outlive the window; it receives at most MaxPassphraseLength bytes and a zero.
    TfrmTCPPassword(QWidget *owner, PassphraseBuffer &buffer);

    QGroupBox *GroupBox1 = nullptr;
    QLabel *Label1 = nullptr;
    QLineEdit *Password = nullptr;
    QPushButton *AccceptButton = nullptr;
    QPushButton *CancelButton = nullptr;

    void AccceptButtonClick();
    void CancelButtonClick();
    void FormShow();
    bool FormKeyDown(int key);

protected:
    void showEvent(QShowEvent *event) override;

private:
    PassphraseBuffer &buffer_;
};

// The desktop program's passphrase provider: shows the window (owned by the application) each
// time a device challenges and returns the key of what was typed. A cancelled window gives the
// key of an empty passphrase, which the device then refuses like any wrong one.
PassphraseCallback WindowPassphraseCallback();
