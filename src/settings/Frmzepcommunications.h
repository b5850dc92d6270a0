// TfrmCommunications: the "Communications Options" dialog. Shows the connection options of the
// settings, lets the user choose between the serial connection and a TCP/IP connection, checks
// that what the chosen connection needs is filled in, and writes the values into Env() on OK
// (the registry is written at exit). The TCP kind (CorvixSys console or CorvixLink device)
// follows the main window's "Load through CorvixSys" command and is not chosen here.
#pragma once

#include <QDialog>

#include <cstdint>
#include <functional>
#include <string>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QStackedLayout;
class QWidget;

// A device the discovery dialog let the user pick.
struct DiscoveredDevice {
    std::string Address;
    std::string Name;
    std::string ControlPort; // decimal
};
// Runs the discovery dialog owned by owner; true with the device filled when the user chose one.
using DiscoveryDialogRunner = std::function<bool(QWidget *owner, DiscoveredDevice &device)>;
// Plugs in the discovery dialog. Until one is set, the Discovery button stays disabled. Returns
// the previous runner.
DiscoveryDialogRunner SetDiscoveryDialogRunner(DiscoveryDialogRunner runner);

class TfrmCommunications : public QDialog {
    Q_OBJECT
public:
    explicit TfrmCommunications(QWidget *owner = nullptr);

    QGroupBox *gboxConnectionType = nullptr;
    QRadioButton *rdbUseSerial = nullptr;
    QRadioButton *rdbUseTCP = nullptr;

    QGroupBox *gboxSerialOptions = nullptr;
    QLabel *lblCommPort = nullptr;
    QComboBox *cboCommPort = nullptr;
    QLabel *lblCommPortDevice = nullptr; // the device the chosen COM number stands for here
    QLabel *lblSerialStop = nullptr;
    QComboBox *cboSerialStop = nullptr;
    QCheckBox *chkDetectProcessor = nullptr;
    QCheckBox *chkUseUSBConverter = nullptr;
    QGroupBox *gboxBaudRates = nullptr;
    QLabel *lblBaudRate = nullptr;
    QComboBox *cboBaudRate = nullptr;
    QLabel *lblMaxBaud = nullptr;
    QComboBox *cboMaxBaud = nullptr;
    QCheckBox *cbDisableBaud = nullptr;

    QGroupBox *gboxTCPOptions = nullptr;
    QRadioButton *rdbCorvixSys = nullptr;
    QRadioButton *rdbCorvixLink = nullptr;
    QStackedLayout *TcpPanels = nullptr; // pnlCorvixSys and pnlCorvixLink in one place
    QWidget *pnlCorvixSys = nullptr;
    QLabel *lblCorvixSysAddress = nullptr;
    QLineEdit *edtCorvixSysAddress = nullptr;
    QLabel *lblCorvixSysPort = nullptr;
    QLineEdit *edtCorvixSysPort = nullptr;
    QLabel *lblCorvixSysUserName = nullptr;
    QLineEdit *edtCorvixSysUserName = nullptr;
    QLabel *lblCorvixSysPassword = nullptr;
    QLineEdit *edtCorvixSysPassword = nullptr;
    QWidget *pnlCorvixLink = nullptr;
    QLabel *lblCorvixLinkAddress = nullptr;
    QLineEdit *edtCorvixLinkAddress = nullptr;
    QLabel *lblCorvixLinkPort = nullptr;
    QLineEdit *edtCorvixLinkPort = nullptr;
    QLabel *lblCorvixLinkName = nullptr;
    QLineEdit *edtCorvixLinkName = nullptr;
    QPushButton *btnDiscover = nullptr;

    QPushButton *btnOK = nullptr;
    QPushButton *btnCancel = nullptr;
    QPushButton *btnHelp = nullptr;

    void rdbUseSerialClick();
    void rdbUseTCPClick();
    void rdbCorvixSysClick();
    void rdbCorvixLinkClick();
    void cboCommPortChange();
    void btnDiscoverClick();
    void btnOKClick();
    void btnCancelClick();
    void btnHelpClick();
    void FormShow();
    bool FormKeyDown(int key);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void CreateControls();
    QWidget *CreateConnectionType();
    QWidget *CreateSerialOptions();
    QWidget *CreateBaudRates();
    QWidget *CreateTcpOptions();
    QWidget *CreateCorvixSysPanel();
    QWidget *CreateCorvixLinkPanel();
    QWidget *CreateButtons();
    void ConnectHandlers();
    void LoadFromEnvironment();

    // Enables the controls of one connection mode and disables those of the other (on = TCP).
    void SetTcpMode(bool on);
    // A check that failed: the message in an "Error" box, then the focus to the field.
    void FailCheck(const QString &message, QWidget *field);
    bool ApplySerial();
    bool ApplyTcp();

    uint8_t usbConverterFlag_ = 0;
    int32_t usbConverterDelay_ = 0; // handed back unchanged on OK
};

// Creates the dialog owned by owner, shows it modally and destroys it. Returns the modal result
// (toolkit::mrOk when the settings were applied).
int ShowCommunicationsDialog(QWidget *owner);
