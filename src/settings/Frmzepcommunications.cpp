#include "settings/Frmzepcommunications.h"

#include "loader/LoaderEngineApi.h"
#include "platform/Serial.h"
#include "settings/FrmOptionDialogs.h"
#include "settings/Zepenvironment.h"
#include "toolkit/Application.h"
#include "toolkit/Forms.h"
#include "toolkit/Help.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QStackedLayout>
#include <QVBoxLayout>

#include <filesystem>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace {

constexpr int HelpTopic = 6;
constexpr int ComPortCount = 256;
const char *const BaudRates[] = {"110",   "150",   "300",    "600",    "1200",  "2400",
                                 "4800",  "9600",  "12800",  "14400",  "19200", "28800",
                                 "38400", "57600", "115200", "128000", "256000"};
const char *const MaxBaudRates[] = {"57600", "115200", "230400", "460800"};
constexpr int NameBytes = CommOptions::TextSize - 1;
constexpr int AddressBytes = CommOptions::AddressSize - 1;

// A number field that does not hold a number. Carries the field so the user is taken to it.
class EConvertError : public std::runtime_error {
public:
    EConvertError(const QString &message, QWidget *field)
        : std::runtime_error(message.toStdString()), Field(field) {}
    QWidget *Field;
};

int32_t StrToInt(const QString &text, QWidget *field) {
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (!ok)
        throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(text), field);
    return value;
}

// The record keeps a port in 16 bits: a number beyond them would silently become another port.
uint16_t PortOf(QLineEdit *edit) {
    const int32_t value = StrToInt(edit->text(), edit);
    if (value < 1 || value > 65535)
        throw EConvertError(
            QStringLiteral("'%1' is not a valid port number (1 to 65535)").arg(edit->text()), edit);
    return static_cast<uint16_t>(value);
}

DiscoveryDialogRunner &DiscoveryRunner() {
    static DiscoveryDialogRunner runner;
    return runner;
}

// What the COM number stands for on this machine, and whether that device is there right now.
QString DeviceHint(int comPort) {
    const std::string device = platform::MapComPort(comPort);
    if (device.empty()) return {};
    QString state;
    if (std::string_view(device).starts_with("rfc2217://")) {
        state = QStringLiteral("network port");
    } else {
        std::error_code error;
        state = std::filesystem::exists(device, error) ? QStringLiteral("present")
                                                       : QStringLiteral("not present");
    }
    return QStringLiteral("%1 (%2)").arg(QString::fromStdString(device), state);
}

QLabel *BuddyLabel(const QString &caption, QWidget *buddy, QWidget *parent) {
    auto *label = new QLabel(caption, parent);
    label->setBuddy(buddy);
    return label;
}

QLineEdit *LimitedEdit(int maxBytes, QWidget *parent) {
    auto *edit = new QLineEdit(parent);
    LimitEditBytes(*edit, maxBytes);
    return edit;
}

QString Text(const char *field) { return QString::fromUtf8(field); }

} // namespace

DiscoveryDialogRunner SetDiscoveryDialogRunner(DiscoveryDialogRunner runner) {
    DiscoveryDialogRunner previous = std::move(DiscoveryRunner());
    DiscoveryRunner() = std::move(runner);
    return previous;
}

TfrmCommunications::TfrmCommunications(QWidget *owner) : QDialog(owner) {
    setObjectName(QStringLiteral("frmCommunications"));
    setWindowTitle(QStringLiteral("Communications Options"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    CreateControls();
    LoadFromEnvironment();
    ConnectHandlers();
    InstallKeyPreview(*this, [this](int key) { return FormKeyDown(key); });
}

void TfrmCommunications::CreateControls() {
    auto *layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize); // a dialog border: not resizable
    layout->addWidget(CreateConnectionType());
    auto *options = new QHBoxLayout;
    options->addWidget(CreateSerialOptions(), 0, Qt::AlignTop);
    options->addWidget(CreateTcpOptions(), 0, Qt::AlignTop);
    layout->addLayout(options);
    layout->addWidget(CreateButtons());
}

QWidget *TfrmCommunications::CreateConnectionType() {
    gboxConnectionType = new QGroupBox(QStringLiteral(" Connection Type "), this);
    rdbUseSerial = new QRadioButton(QStringLiteral("Use &Serial Connection"), gboxConnectionType);
    rdbUseTCP = new QRadioButton(QStringLiteral("Use &TCP/IP Connection"), gboxConnectionType);
    auto *layout = new QHBoxLayout(gboxConnectionType);
    layout->addWidget(rdbUseSerial);
    layout->addWidget(rdbUseTCP);
    layout->addStretch();
    return gboxConnectionType;
}

QWidget *TfrmCommunications::CreateSerialOptions() {
    gboxSerialOptions = new QGroupBox(QStringLiteral(" Serial Options "), this);
    cboCommPort = new QComboBox(gboxSerialOptions);
    for (int port = 1; port <= ComPortCount; ++port)
        cboCommPort->addItem(QStringLiteral("COM%1").arg(port));
    lblCommPort = BuddyLabel(QStringLiteral("Serial &Port"), cboCommPort, gboxSerialOptions);
    lblCommPortDevice = new QLabel(gboxSerialOptions);
    lblCommPortDevice->setTextFormat(Qt::PlainText);
    lblCommPortDevice->setToolTip(
        QStringLiteral("The device this COM number stands for. Set another one under "
                       "HKEY_CURRENT_USER\\Software\\Vexlon\\ZEP\\Ports, e.g. "
                       "\"COM3\"=\"/dev/ttyUSB0\"."));
    cboSerialStop = new QComboBox(gboxSerialOptions);
    cboSerialStop->addItems({QStringLiteral("1"), QStringLiteral("2")});
    lblSerialStop = BuddyLabel(QStringLiteral("Stop &Bits"), cboSerialStop, gboxSerialOptions);
    chkDetectProcessor =
        new QCheckBox(QStringLiteral("Enable Processor &verification"), gboxSerialOptions);
    chkDetectProcessor->setChecked(true);
    chkUseUSBConverter =
        new QCheckBox(QStringLiteral("&Use USB to Serial Converter"), gboxSerialOptions);

    auto *layout = new QGridLayout(gboxSerialOptions);
    layout->addWidget(lblCommPort, 0, 0);
    layout->addWidget(cboCommPort, 0, 1);
    layout->addWidget(lblCommPortDevice, 1, 1);
    layout->addWidget(lblSerialStop, 2, 0);
    layout->addWidget(cboSerialStop, 2, 1);
    layout->addWidget(chkDetectProcessor, 3, 0, 1, 2);
    layout->addWidget(chkUseUSBConverter, 4, 0, 1, 2);
    layout->addWidget(CreateBaudRates(), 5, 0, 1, 2);
    return gboxSerialOptions;
}

QWidget *TfrmCommunications::CreateBaudRates() {
    gboxBaudRates = new QGroupBox(QStringLiteral(" Baud Rates "), gboxSerialOptions);
    cboBaudRate = new QComboBox(gboxBaudRates);
    cboBaudRate->setEditable(true);
    cboBaudRate->setInsertPolicy(QComboBox::NoInsert); // typing a rate does not grow the list
    for (const char *rate : BaudRates) cboBaudRate->addItem(QString::fromLatin1(rate));
    lblBaudRate = BuddyLabel(QStringLiteral("&Debug Baud Rate"), cboBaudRate, gboxBaudRates);
    cboMaxBaud = new QComboBox(gboxBaudRates);
    for (const char *rate : MaxBaudRates) cboMaxBaud->addItem(QString::fromLatin1(rate));
    lblMaxBaud = BuddyLabel(QStringLiteral("&Max Download Baud Rate"), cboMaxBaud, gboxBaudRates);
    cbDisableBaud = new QCheckBox(QStringLiteral("Disable Baud &Negotiation"), gboxBaudRates);

    auto *layout = new QGridLayout(gboxBaudRates);
    layout->addWidget(lblBaudRate, 0, 0);
    layout->addWidget(cboBaudRate, 0, 1);
    layout->addWidget(lblMaxBaud, 1, 0);
    layout->addWidget(cboMaxBaud, 1, 1);
    layout->addWidget(cbDisableBaud, 2, 0, 1, 2);
    return gboxBaudRates;
}

QWidget *TfrmCommunications::CreateTcpOptions() {
    gboxTCPOptions = new QGroupBox(QStringLiteral(" TCP/IP Options "), this);
    rdbCorvixSys = new QRadioButton(QStringLiteral("CorvixSys"), gboxTCPOptions);
    rdbCorvixLink = new QRadioButton(QStringLiteral("CorvixLink"), gboxTCPOptions);
    auto *kinds = new QHBoxLayout;
    kinds->addWidget(rdbCorvixSys);
    kinds->addWidget(rdbCorvixLink);
    kinds->addStretch();

    TcpPanels = new QStackedLayout;
    TcpPanels->addWidget(CreateCorvixSysPanel());
    TcpPanels->addWidget(CreateCorvixLinkPanel());

    auto *layout = new QVBoxLayout(gboxTCPOptions);
    layout->addLayout(kinds);
    layout->addLayout(TcpPanels);
    return gboxTCPOptions;
}

QWidget *TfrmCommunications::CreateCorvixSysPanel() {
    pnlCorvixSys = new QWidget(gboxTCPOptions);
    edtCorvixSysAddress = LimitedEdit(AddressBytes, pnlCorvixSys);
    edtCorvixSysPort = new QLineEdit(pnlCorvixSys);
    edtCorvixSysUserName = LimitedEdit(NameBytes, pnlCorvixSys);
    edtCorvixSysPassword = LimitedEdit(NameBytes, pnlCorvixSys);
    ShowAsterisks(*edtCorvixSysPassword);
    lblCorvixSysAddress =
        BuddyLabel(QStringLiteral("Network Address"), edtCorvixSysAddress, pnlCorvixSys);
    lblCorvixSysPort = BuddyLabel(QStringLiteral("Control Port"), edtCorvixSysPort, pnlCorvixSys);
    lblCorvixSysUserName =
        BuddyLabel(QStringLiteral("User Name"), edtCorvixSysUserName, pnlCorvixSys);
    lblCorvixSysPassword =
        BuddyLabel(QStringLiteral("Password"), edtCorvixSysPassword, pnlCorvixSys);

    auto *layout = new QGridLayout(pnlCorvixSys);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(lblCorvixSysAddress, 0, 0);
    layout->addWidget(edtCorvixSysAddress, 0, 1);
    layout->addWidget(lblCorvixSysPort, 1, 0);
    layout->addWidget(edtCorvixSysPort, 1, 1);
    layout->addWidget(lblCorvixSysUserName, 2, 0);
    layout->addWidget(edtCorvixSysUserName, 2, 1);
    layout->addWidget(lblCorvixSysPassword, 3, 0);
    layout->addWidget(edtCorvixSysPassword, 3, 1);
    layout->setRowStretch(4, 1);
    return pnlCorvixSys;
}

QWidget *TfrmCommunications::CreateCorvixLinkPanel() {
    pnlCorvixLink = new QWidget(gboxTCPOptions);
    edtCorvixLinkAddress = LimitedEdit(AddressBytes, pnlCorvixLink);
    edtCorvixLinkPort = new QLineEdit(pnlCorvixLink);
    edtCorvixLinkName = LimitedEdit(NameBytes, pnlCorvixLink);
    lblCorvixLinkAddress =
        BuddyLabel(QStringLiteral("Network Address"), edtCorvixLinkAddress, pnlCorvixLink);
    lblCorvixLinkPort =
        BuddyLabel(QStringLiteral("Control Port"), edtCorvixLinkPort, pnlCorvixLink);
    lblCorvixLinkName =
        BuddyLabel(QStringLiteral("Controller Name"), edtCorvixLinkName, pnlCorvixLink);
    btnDiscover = new QPushButton(QStringLiteral("&Discovery"), pnlCorvixLink);
    btnDiscover->setAutoDefault(false);

    auto *layout = new QGridLayout(pnlCorvixLink);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(lblCorvixLinkAddress, 0, 0);
    layout->addWidget(edtCorvixLinkAddress, 0, 1);
    layout->addWidget(lblCorvixLinkPort, 1, 0);
    layout->addWidget(edtCorvixLinkPort, 1, 1);
    layout->addWidget(lblCorvixLinkName, 2, 0);
    layout->addWidget(edtCorvixLinkName, 2, 1);
    layout->addWidget(btnDiscover, 3, 1, Qt::AlignRight);
    layout->setRowStretch(4, 1);
    return pnlCorvixLink;
}

QWidget *TfrmCommunications::CreateButtons() {
    auto *buttons = new QWidget(this);
    btnOK = new QPushButton(QStringLiteral("OK"), buttons);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), buttons);
    btnHelp = new QPushButton(QStringLiteral("Help"), buttons);
    btnOK->setDefault(true);
    auto *layout = new QHBoxLayout(buttons);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addStretch();
    layout->addWidget(btnOK);
    layout->addWidget(btnCancel);
    layout->addWidget(btnHelp);
    return buttons;
}

void TfrmCommunications::ConnectHandlers() {
    // toggled rather than clicked: a radio checked by the arrow keys switches the mode too.
    auto onChecked = [this](QRadioButton *radio, void (TfrmCommunications::*handler)()) {
        connect(radio, &QRadioButton::toggled, this, [this, handler](bool checked) {
            if (checked) (this->*handler)();
        });
    };
    onChecked(rdbUseSerial, &TfrmCommunications::rdbUseSerialClick);
    onChecked(rdbUseTCP, &TfrmCommunications::rdbUseTCPClick);
    onChecked(rdbCorvixSys, &TfrmCommunications::rdbCorvixSysClick);
    onChecked(rdbCorvixLink, &TfrmCommunications::rdbCorvixLinkClick);
    connect(cboCommPort, &QComboBox::currentIndexChanged, this,
            &TfrmCommunications::cboCommPortChange);
    connect(btnDiscover, &QPushButton::clicked, this, &TfrmCommunications::btnDiscoverClick);
    connect(btnOK, &QPushButton::clicked, this, &TfrmCommunications::btnOKClick);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmCommunications::btnCancelClick);
    connect(btnHelp, &QPushButton::clicked, this, &TfrmCommunications::btnHelpClick);
}

void TfrmCommunications::LoadFromEnvironment() {
    const Environment &env = Env();
    const CommOptions &comm = env.Comm;
    cboCommPort->setCurrentIndex(comm.ComPort >= 1 && comm.ComPort <= ComPortCount
                                     ? comm.ComPort - 1
                                     : -1); // a port the list does not hold: nothing chosen
    cboCommPortChange();
    cboBaudRate->setEditText(QString::number(env.BiosBaudRate));
    if (env.LoadThroughCorvixSys != 0) {
        rdbCorvixSys->setChecked(true);
        rdbCorvixLink->setEnabled(false);
    } else {
        rdbCorvixSys->setEnabled(false);
        rdbCorvixLink->setChecked(true);
    }
    TcpPanels->setCurrentWidget(env.LoadThroughCorvixSys != 0 ? pnlCorvixSys : pnlCorvixLink);
    (comm.UseTCP != 0 ? rdbUseTCP : rdbUseSerial)->setChecked(true);
    cboMaxBaud->setCurrentIndex(cboMaxBaud->findText(QString::number(comm.MaxNegotiatedBaud)));
    cboSerialStop->setCurrentIndex(comm.StopBits != 0 ? 1 : 0);
    cbDisableBaud->setChecked(comm.DisableBaudNegotiation != 0);
    chkDetectProcessor->setChecked(comm.DetectProcessor != 0);
    edtCorvixLinkAddress->setText(Text(comm.CorvixLinkAddress));
    edtCorvixLinkName->setText(Text(comm.CorvixLinkName));
    edtCorvixLinkPort->setText(QString::number(comm.CorvixLinkTcpPort));
    edtCorvixSysAddress->setText(Text(comm.CorvixSysAddress));
    edtCorvixSysPort->setText(QString::number(comm.CorvixSysTcpPort));
    edtCorvixSysUserName->setText(Text(comm.CorvixSysUserName));
    edtCorvixSysPassword->setText(Text(comm.CorvixSysPassword));
    GetUsbSerialDelay(usbConverterFlag_, usbConverterDelay_);
    chkUseUSBConverter->setChecked(usbConverterFlag_ != 0);
    // The dialog opens with the controls of the other mode already disabled, so that what can
    // be edited always matches the connection that OK will check.
    SetTcpMode(comm.UseTCP != 0);
    btnDiscover->setToolTip(DiscoveryRunner() ? QString()
                                              : QStringLiteral("Discovery is not available in "
                                                               "this version."));
}

void TfrmCommunications::SetTcpMode(bool on) {
    for (QWidget *panel : {pnlCorvixSys, pnlCorvixLink})
        for (QWidget *control : panel->findChildren<QWidget *>()) control->setEnabled(on);
    btnDiscover->setEnabled(on && DiscoveryRunner());
    if (Env().LoadThroughCorvixSys != 0) {
        rdbCorvixSys->setChecked(true);
        rdbCorvixSys->setEnabled(on);
        rdbCorvixLink->setEnabled(false);
    } else {
        rdbCorvixSys->setEnabled(false);
        rdbCorvixLink->setEnabled(on);
        rdbCorvixLink->setChecked(true);
    }
    for (QWidget *control : std::initializer_list<QWidget *>{
             lblBaudRate, cboBaudRate, lblMaxBaud, cboMaxBaud, cbDisableBaud, lblCommPort,
             cboCommPort, lblCommPortDevice, lblSerialStop, cboSerialStop, chkDetectProcessor,
             chkUseUSBConverter})
        control->setEnabled(!on);
}

void TfrmCommunications::rdbUseSerialClick() {
    rdbUseTCP->setChecked(false);
    SetTcpMode(false);
}

void TfrmCommunications::rdbUseTCPClick() {
    rdbUseSerial->setChecked(false);
    SetTcpMode(true);
}

void TfrmCommunications::rdbCorvixSysClick() { TcpPanels->setCurrentWidget(pnlCorvixSys); }

void TfrmCommunications::rdbCorvixLinkClick() { TcpPanels->setCurrentWidget(pnlCorvixLink); }

void TfrmCommunications::cboCommPortChange() {
    const int index = cboCommPort->currentIndex();
    lblCommPortDevice->setText(index < 0 ? QString() : DeviceHint(index + 1));
}

void TfrmCommunications::btnDiscoverClick() {
    if (!DiscoveryRunner()) return;
    DiscoveredDevice device;
    if (!DiscoveryRunner()(this, device)) return;
    edtCorvixLinkAddress->setText(QString::fromStdString(device.Address));
    edtCorvixLinkName->setText(QString::fromStdString(device.Name));
    edtCorvixLinkPort->setText(QString::fromStdString(device.ControlPort));
}

void TfrmCommunications::FailCheck(const QString &message, QWidget *field) {
    ShowOptionError(message, this);
    field->setFocus();
}

bool TfrmCommunications::ApplySerial() {
    if (cboCommPort->currentText().isEmpty()) {
        FailCheck(QStringLiteral("Comm port cannot be blank"), cboCommPort);
        return false;
    }
    if (cboBaudRate->currentText().isEmpty()) {
        FailCheck(QStringLiteral("Baud rate cannot be blank"), cboBaudRate);
        return false;
    }
    Environment &env = Env();
    CommOptions &comm = env.Comm;
    comm.ComPort = cboCommPort->currentIndex() + 1;
    env.BiosBaudRate = StrToInt(cboBaudRate->currentText(), cboBaudRate);
    comm.UseTCP = 0;
    comm.StopBits = cboSerialStop->currentIndex() == 1 ? 2 : 0;
    comm.DetectProcessor = chkDetectProcessor->isChecked() ? 1 : 0;
    comm.DisableBaudNegotiation = cbDisableBaud->isChecked() ? 1 : 0;
    bool isNumber = false;
    const int maxBaud = cboMaxBaud->currentText().toInt(&isNumber, 10);
    if (isNumber) comm.MaxNegotiatedBaud = maxBaud;
    SetUsbSerialDelay(chkUseUSBConverter->isChecked() ? 1 : 0, usbConverterDelay_);
    return true;
}

bool TfrmCommunications::ApplyTcp() {
    struct Required {
        QLineEdit *edit;
        const char *message;
    };
    const bool corvixLink = rdbCorvixLink->isChecked();
    const std::vector<Required> required =
        corvixLink
            ? std::vector<Required>{{edtCorvixLinkAddress, "Network Address cannot be blank"},
                                    {edtCorvixLinkPort, "Control port cannot be blank"}}
            : std::vector<Required>{{edtCorvixSysAddress, "Network Address cannot be blank"},
                                    {edtCorvixSysPort, "Control port cannot be blank"},
                                    {edtCorvixSysUserName, "User Name cannot be blank"},
                                    {edtCorvixSysPassword, "Password cannot be blank"}};
    for (const Required &field : required) {
        if (field.edit->text().isEmpty()) {
            FailCheck(QString::fromLatin1(field.message), field.edit);
            return false;
        }
    }
    CommOptions &comm = Env().Comm;
    comm.UseCorvixLink = corvixLink ? 1 : 0;
    comm.UseCorvixSys = corvixLink ? 0 : 1;
    // Both kinds are copied whichever is chosen, so a port conversion can fail on the kind
    // not in use; what was copied before it stays.
    SetField(comm.CorvixSysAddress, edtCorvixSysAddress->text().toStdString());
    SetField(comm.CorvixSysUserName, edtCorvixSysUserName->text().toStdString());
    SetField(comm.CorvixSysPassword, edtCorvixSysPassword->text().toStdString());
    comm.CorvixSysTcpPort = PortOf(edtCorvixSysPort);
    SetField(comm.CorvixLinkAddress, edtCorvixLinkAddress->text().toStdString());
    SetField(comm.CorvixLinkName, edtCorvixLinkName->text().toStdString());
    comm.CorvixLinkTcpPort = PortOf(edtCorvixLinkPort);
    comm.UseTCP = 1;
    return true;
}

void TfrmCommunications::btnOKClick() {
    try {
        if (rdbUseTCP->isChecked() ? ApplyTcp() : ApplySerial())
            CloseWithResult(*this, toolkit::mrOk);
    } catch (const EConvertError &error) {
        // Shown the way the application shows any error that escapes a handler; the dialog
        // stays open on the field so the user can correct it.
        ShowOptionMessage(toolkit::ApplicationTitle(), QString::fromStdString(error.what()), this);
        error.Field->setFocus();
    }
}

void TfrmCommunications::btnCancelClick() { CloseWithResult(*this, toolkit::mrCancel); }

void TfrmCommunications::btnHelpClick() { toolkit::HelpContext(HelpTopic); }

void TfrmCommunications::FormShow() { CenterOverOwner(*this); }

bool TfrmCommunications::FormKeyDown(int key) {
    return HandleDialogKey(
        key, [this] { btnOKClick(); }, [this] { btnCancelClick(); });
}

void TfrmCommunications::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) FormShow();
}

int ShowCommunicationsDialog(QWidget *owner) {
    TfrmCommunications form(owner);
    return toolkit::ShowModal(&form);
}
