// The Communications Options dialog: what it shows from the settings, the two connection modes,
// OK's checks in their order, what OK writes and what it leaves alone, Enter and Escape.
#include "toolkit/ModalHelpers.h"

#include "loader/LoaderEngine.h"
#include "platform/Registry.h"
#include "settings/FrmOptionDialogs.h"
#include "settings/Frmzepcommunications.h"
#include "settings/Zepenvironment.h"
#include "toolkit/Application.h"
#include "toolkit/Forms.h"
#include "toolkit/Help.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedLayout>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <memory>
#include <vector>

namespace {

struct Box {
    QString caption;
    QString text;
};

// The settings a user with a bench setup might have: every field the dialog shows is set to a
// value that differs from its default, so a field copied to the wrong place shows up.
void BenchSettings() {
    Env() = Environment{};
    Environment &env = Env();
    CommOptions &comm = env.Comm;
    comm.ComPort = 3;
    env.BiosBaudRate = 57600;
    comm.StopBits = 0;
    comm.MaxNegotiatedBaud = 230400;
    comm.DisableBaudNegotiation = 1;
    comm.DetectProcessor = 0;
    comm.UseTCP = 0;
    comm.UseCorvixLink = 1;
    SetField(comm.CorvixLinkAddress, "10.0.0.5");
    comm.CorvixLinkTcpPort = 4244;
    SetField(comm.CorvixLinkName, "bench link");
    SetField(comm.CorvixSysAddress, "10.0.0.9");
    comm.CorvixSysTcpPort = 65023;
    SetField(comm.CorvixSysUserName, "admin");
    SetField(comm.CorvixSysPassword, "secret");
    env.LoadThroughCorvixSys = 0;
    SetUsbSerialDelay(0, 1500);
}

// The TCP part of the record, compared as bytes so that no field can slip by.
struct TcpFields {
    int32_t useCorvixLink, useCorvixSys;
    char linkAddress[CommOptions::AddressSize];
    uint16_t linkPort;
    char linkName[CommOptions::TextSize];
    char sysAddress[CommOptions::AddressSize];
    uint16_t sysPort;
    char sysUser[CommOptions::TextSize];
    char sysPassword[CommOptions::TextSize];
};

TcpFields TcpFieldsOf(const CommOptions &comm) {
    TcpFields fields{};
    fields.useCorvixLink = comm.UseCorvixLink;
    fields.useCorvixSys = comm.UseCorvixSys;
    std::memcpy(fields.linkAddress, comm.CorvixLinkAddress, sizeof fields.linkAddress);
    fields.linkPort = comm.CorvixLinkTcpPort;
    std::memcpy(fields.linkName, comm.CorvixLinkName, sizeof fields.linkName);
    std::memcpy(fields.sysAddress, comm.CorvixSysAddress, sizeof fields.sysAddress);
    fields.sysPort = comm.CorvixSysTcpPort;
    std::memcpy(fields.sysUser, comm.CorvixSysUserName, sizeof fields.sysUser);
    std::memcpy(fields.sysPassword, comm.CorvixSysPassword, sizeof fields.sysPassword);
    return fields;
}

bool SameTcpFields(const CommOptions &a, const CommOptions &b) {
    const TcpFields x = TcpFieldsOf(a);
    const TcpFields y = TcpFieldsOf(b);
    return std::memcmp(&x, &y, sizeof x) == 0;
}

QUrl openedHelp; // what the help opener was asked to show
bool RecordHelp(const QUrl &url) {
    openedHelp = url;
    return true;
}

} // namespace

class TstFrmZepCommunications : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void showsTheSettings();
    void comPortOutsideTheListLeavesNoSelection_data();
    void comPortOutsideTheListLeavesNoSelection();
    void serialChecksInOrder();
    void stopBitsStored_data();
    void stopBitsStored();
    void maxBaud_data();
    void maxBaud();
    void serialOkLeavesEveryTcpFieldAlone();
    void baudRateThatIsNoNumberKeepsTheComPortAndStaysOpen();
    void modesEnableTheirOwnControls();
    void corvixSysClearChecksOnlyTheCorvixLinkFields();
    void corvixSysSetRequiresAllFourFields_data();
    void corvixSysSetRequiresAllFourFields();
    void emptyCorvixSysPortFailsOnConversionAfterCopyingFlagsAndTexts();
    void portBeyondSixteenBitsIsRefused();
    void editsHoldWhatTheRecordHolds();
    void comPortDeviceHint();
    void discoveryFillsTheCorvixLinkFields();
    void enterAppliesEscapeCancels();
    void errorBoxIsCaptionedError();
    void helpShowsTopicSix();
    void screenshot();

private:
    // A dialog built from the current settings, shown (not modally) as the user would see it.
    std::unique_ptr<TfrmCommunications> Open();
    static bool StillOpen(const TfrmCommunications &form) {
        return form.isVisible() && toolkit::GetModalResult(&form) == toolkit::mrNone;
    }

    QTemporaryDir dir_;
    std::vector<Box> boxes_;
    OptionMessageBox previousBox_;
};

void TstFrmZepCommunications::initTestCase() {
    QVERIFY(dir_.isValid());
    // The device hint reads the port map: never the user's own registry.
    qputenv("TARNWICK_REGISTRY", dir_.filePath(QStringLiteral("registry.reg")).toLocal8Bit());
    platform::ReloadRegistry();
}

void TstFrmZepCommunications::init() {
    BenchSettings();
    boxes_.clear();
    previousBox_ =
        SetOptionMessageBox([this](const QString &caption, const QString &text, QWidget *) {
            boxes_.push_back({caption, text});
        });
}

void TstFrmZepCommunications::cleanup() {
    SetOptionMessageBox(previousBox_);
    SetDiscoveryDialogRunner({});
}

std::unique_ptr<TfrmCommunications> TstFrmZepCommunications::Open() {
    auto form = std::make_unique<TfrmCommunications>();
    form->show();
    if (!QTest::qWaitForWindowExposed(form.get())) qWarning("the dialog was not exposed");
    return form;
}

void TstFrmZepCommunications::showsTheSettings() {
    Env().Comm.StopBits = 2;
    const auto form = Open();
    QCOMPARE(form->windowTitle(), QStringLiteral("Communications Options"));
    QCOMPARE(form->gboxConnectionType->title(), QStringLiteral(" Connection Type "));
    QCOMPARE(form->gboxSerialOptions->title(), QStringLiteral(" Serial Options "));
    QCOMPARE(form->gboxBaudRates->title(), QStringLiteral(" Baud Rates "));
    QCOMPARE(form->gboxTCPOptions->title(), QStringLiteral(" TCP/IP Options "));
    QCOMPARE(form->rdbUseSerial->text(), QStringLiteral("Use &Serial Connection"));
    QCOMPARE(form->chkDetectProcessor->text(), QStringLiteral("Enable Processor &verification"));
    QCOMPARE(form->lblMaxBaud->text(), QStringLiteral("&Max Download Baud Rate"));
    QCOMPARE(form->lblCorvixLinkName->text(), QStringLiteral("Controller Name"));

    QCOMPARE(form->cboCommPort->count(), 256);
    QCOMPARE(form->cboCommPort->itemText(0), QStringLiteral("COM1"));
    QCOMPARE(form->cboCommPort->itemText(255), QStringLiteral("COM256"));
    QCOMPARE(form->cboCommPort->currentText(), QStringLiteral("COM3"));
    QStringList baudItems;
    for (int i = 0; i < form->cboBaudRate->count(); ++i)
        baudItems << form->cboBaudRate->itemText(i);
    QCOMPARE(baudItems.join(' '), QStringLiteral("110 150 300 600 1200 2400 4800 9600 12800 14400 "
                                                 "19200 28800 38400 57600 115200 128000 256000"));
    QVERIFY(form->cboBaudRate->isEditable());
    QVERIFY(!form->cboMaxBaud->isEditable());
    QCOMPARE(form->cboMaxBaud->count(), 4);
    QCOMPARE(form->cboBaudRate->currentText(), QStringLiteral("57600"));
    QCOMPARE(form->cboMaxBaud->currentText(), QStringLiteral("230400"));
    QCOMPARE(form->cboSerialStop->currentText(), QStringLiteral("2"));
    QVERIFY(form->cbDisableBaud->isChecked());
    QVERIFY(!form->chkDetectProcessor->isChecked());
    QVERIFY(!form->chkUseUSBConverter->isChecked());
    QVERIFY(form->rdbUseSerial->isChecked());
    QCOMPARE(form->edtCorvixLinkAddress->text(), QStringLiteral("10.0.0.5"));
    QCOMPARE(form->edtCorvixLinkPort->text(), QStringLiteral("4244"));
    QCOMPARE(form->edtCorvixLinkName->text(), QStringLiteral("bench link"));
    QCOMPARE(form->edtCorvixSysAddress->text(), QStringLiteral("10.0.0.9"));
    QCOMPARE(form->edtCorvixSysPort->text(), QStringLiteral("65023"));
    QCOMPARE(form->edtCorvixSysUserName->text(), QStringLiteral("admin"));
    QCOMPARE(form->edtCorvixSysPassword->text(), QStringLiteral("secret"));
    QCOMPARE(form->edtCorvixSysPassword->echoMode(), QLineEdit::Password);

    SetUsbSerialDelay(1, 1500);
    QVERIFY(TfrmCommunications().chkUseUSBConverter->isChecked());
}

void TstFrmZepCommunications::comPortOutsideTheListLeavesNoSelection_data() {
    QTest::addColumn<int>("comPort");
    QTest::newRow("0") << 0;
    QTest::newRow("257") << 257;
}

void TstFrmZepCommunications::comPortOutsideTheListLeavesNoSelection() {
    QFETCH(int, comPort);
    Env().Comm.ComPort = comPort;
    const auto form = Open();
    QCOMPARE(form->cboCommPort->currentIndex(), -1);
    QVERIFY(form->lblCommPortDevice->text().isEmpty());
    form->btnOK->click();
    QCOMPARE(boxes_.size(), size_t(1));
    QCOMPARE(boxes_[0].caption, QStringLiteral("Error"));
    QCOMPARE(boxes_[0].text, QStringLiteral("Comm port cannot be blank"));
    QCOMPARE(form->focusWidget(), form->cboCommPort);
    QVERIFY(StillOpen(*form));
    QCOMPARE(Env().Comm.ComPort, comPort);
}

void TstFrmZepCommunications::serialChecksInOrder() {
    const auto form = Open();
    form->cboBaudRate->setEditText(QString());
    form->cboCommPort->setCurrentIndex(7);
    form->btnOK->click();
    QCOMPARE(boxes_.size(), size_t(1));
    QCOMPARE(boxes_[0].text, QStringLiteral("Baud rate cannot be blank"));
    QVERIFY(form->focusWidget() == form->cboBaudRate ||
            form->focusWidget() == form->cboBaudRate->lineEdit());
    QVERIFY(StillOpen(*form));
    QCOMPARE(Env().Comm.ComPort, 3); // nothing applied

    form->cboBaudRate->setEditText(QStringLiteral("128000"));
    form->btnOK->click();
    QCOMPARE(boxes_.size(), size_t(1));
    QVERIFY(!form->isVisible());
    QCOMPARE(toolkit::GetModalResult(form.get()), int(toolkit::mrOk));
    QCOMPARE(Env().Comm.ComPort, 8);
    QCOMPARE(Env().BiosBaudRate, 128000);
    QCOMPARE(Env().Comm.DisableBaudNegotiation, 1);
    QCOMPARE(Env().Comm.DetectProcessor, 0);
}

void TstFrmZepCommunications::stopBitsStored_data() {
    QTest::addColumn<int>("stored");
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<int>("expected");
    QTest::newRow("2 from 1") << 0 << "2" << 2;
    QTest::newRow("1 from 2") << 2 << "1" << 0;
    QTest::newRow("2 kept") << 2 << "2" << 2;
}

void TstFrmZepCommunications::stopBitsStored() {
    QFETCH(int, stored);
    QFETCH(QString, chosen);
    QFETCH(int, expected);
    Env().Comm.StopBits = stored;
    const auto form = Open();
    form->cboSerialStop->setCurrentText(chosen);
    form->btnOK->click();
    QVERIFY(boxes_.empty());
    QCOMPARE(Env().Comm.StopBits, expected);
}

void TstFrmZepCommunications::maxBaud_data() {
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("chosenIndex");
    QTest::addColumn<int>("expected");
    QTest::newRow("not in the list stays") << 100000 << -1 << 100000;
    QTest::newRow("unselected stays") << 460800 << -1 << 460800;
    QTest::newRow("chosen is stored") << 460800 << 1 << 115200;
}

void TstFrmZepCommunications::maxBaud() {
    QFETCH(int, stored);
    QFETCH(int, chosenIndex);
    QFETCH(int, expected);
    Env().Comm.MaxNegotiatedBaud = stored;
    const auto form = Open();
    if (stored == 100000) QCOMPARE(form->cboMaxBaud->currentIndex(), -1);
    form->cboMaxBaud->setCurrentIndex(chosenIndex);
    form->btnOK->click();
    QVERIFY(boxes_.empty());
    QCOMPARE(Env().Comm.MaxNegotiatedBaud, expected);
}

void TstFrmZepCommunications::serialOkLeavesEveryTcpFieldAlone() {
    const CommOptions before = Env().Comm;
    const auto form = Open();
    form->edtCorvixLinkAddress->setText(QStringLiteral("192.168.1.1"));
    form->edtCorvixLinkPort->setText(QStringLiteral("1"));
    form->edtCorvixSysUserName->setText(QStringLiteral("someone"));
    form->edtCorvixSysPort->clear();
    form->chkUseUSBConverter->setChecked(true);
    form->btnOK->click();
    QVERIFY(boxes_.empty());
    QVERIFY(SameTcpFields(Env().Comm, before));
    QCOMPARE(Env().Comm.UseTCP, 0);
    // The converter option goes to the engine, with the delay the dialog found there.
    uint8_t flag = 0;
    int32_t delay = 0;
    GetUsbSerialDelay(flag, delay);
    QCOMPARE(int(flag), 1);
    QCOMPARE(delay, 1500);
}

void TstFrmZepCommunications::baudRateThatIsNoNumberKeepsTheComPortAndStaysOpen() {
    const auto form = Open();
    form->cboCommPort->setCurrentIndex(4);
    form->cboBaudRate->setEditText(QStringLiteral("fast"));
    form->chkDetectProcessor->setChecked(true);
    form->btnOK->click();
    QCOMPARE(boxes_.size(), size_t(1));
    QCOMPARE(boxes_[0].caption, toolkit::ApplicationTitle());
    QCOMPARE(boxes_[0].text, QStringLiteral("'fast' is not a valid integer value"));
    QVERIFY(StillOpen(*form));
    QCOMPARE(Env().Comm.ComPort, 5); // assigned before the rate
    QCOMPARE(Env().BiosBaudRate, 57600);
    QCOMPARE(Env().Comm.DetectProcessor, 0); // assigned after it
}

void TstFrmZepCommunications::modesEnableTheirOwnControls() {
    SetDiscoveryDialogRunner({});
    const auto form = Open();
    const QList<QWidget *> serial = {
        form->cboCommPort,   form->cboBaudRate,        form->cboMaxBaud,        form->cbDisableBaud,
        form->cboSerialStop, form->chkDetectProcessor, form->chkUseUSBConverter};
    const QList<QWidget *> tcp = {form->edtCorvixLinkAddress, form->edtCorvixLinkPort,
                                  form->edtCorvixLinkName,    form->edtCorvixSysAddress,
                                  form->edtCorvixSysPassword, form->lblCorvixSysUserName};
    auto check = [&](bool tcpMode) {
        for (QWidget *control : serial)
            QVERIFY2(control->isEnabled() != tcpMode, qPrintable(control->objectName()));
        for (QWidget *control : tcp) QVERIFY(control->isEnabled() == tcpMode);
        QCOMPARE(form->rdbCorvixLink->isEnabled(), tcpMode);
        QVERIFY(!form->rdbCorvixSys->isEnabled());
        QVERIFY(form->rdbCorvixLink->isChecked());
        QCOMPARE(form->TcpPanels->currentWidget(), form->pnlCorvixLink);
    };
    check(false);
    QTest::mouseClick(form->rdbUseTCP, Qt::LeftButton);
    QVERIFY(!form->rdbUseSerial->isChecked());
    check(true);
    // No discovery dialog in this build: the button says so instead of doing nothing.
    QVERIFY(!form->btnDiscover->isEnabled());
    QVERIFY(form->btnDiscover->toolTip().contains(QStringLiteral("not available")));
    QTest::mouseClick(form->rdbUseSerial, Qt::LeftButton);
    check(false);
}

void TstFrmZepCommunications::corvixSysClearChecksOnlyTheCorvixLinkFields() {
    Env().Comm.UseTCP = 1;
    const auto form = Open();
    QVERIFY(!form->rdbCorvixSys->isEnabled());
    QVERIFY(form->rdbCorvixLink->isChecked());
    QVERIFY(!form->cboCommPort->isEnabled());

    form->edtCorvixLinkAddress->clear();
    form->btnOK->click();
    form->edtCorvixLinkAddress->setText(QStringLiteral("10.0.0.7"));
    form->edtCorvixLinkPort->clear();
    form->btnOK->click();
    QCOMPARE(boxes_.size(), size_t(2));
    QCOMPARE(boxes_[0].text, QStringLiteral("Network Address cannot be blank"));
    QCOMPARE(boxes_[1].text, QStringLiteral("Control port cannot be blank"));
    QCOMPARE(form->focusWidget(), form->edtCorvixLinkPort);
    QVERIFY(StillOpen(*form));

    // The CorvixSys address, user name and password are not needed for CorvixLink.
    form->edtCorvixLinkPort->setText(QStringLiteral("4300"));
    form->edtCorvixSysAddress->clear();
    form->edtCorvixSysUserName->clear();
    form->edtCorvixSysPassword->clear();
    Env().Comm.UseCorvixLink = 0;
    Env().Comm.UseCorvixSys = 1;
    form->btnOK->click();
    QCOMPARE(boxes_.size(), size_t(2));
    QVERIFY(!form->isVisible());
    const CommOptions &comm = Env().Comm;
    QCOMPARE(comm.UseTCP, 1);
    QCOMPARE(comm.UseCorvixLink, 1);
    QCOMPARE(comm.UseCorvixSys, 0);
    QCOMPARE(QString::fromUtf8(comm.CorvixLinkAddress), QStringLiteral("10.0.0.7"));
    QCOMPARE(int(comm.CorvixLinkTcpPort), 4300);
    QCOMPARE(QString::fromUtf8(comm.CorvixSysAddress), QString());
    QCOMPARE(int(comm.CorvixSysTcpPort), 65023);
}

void TstFrmZepCommunications::corvixSysSetRequiresAllFourFields_data() {
    QTest::addColumn<int>("emptied"); // fields emptied from this one on
    QTest::addColumn<QString>("message");
    QTest::newRow("address") << 0 << "Network Address cannot be blank";
    QTest::newRow("port") << 1 << "Control port cannot be blank";
    QTest::newRow("user name") << 2 << "User Name cannot be blank";
    QTest::newRow("password") << 3 << "Password cannot be blank";
}

void TstFrmZepCommunications::corvixSysSetRequiresAllFourFields() {
    QFETCH(int, emptied);
    QFETCH(QString, message);
    Env().Comm.UseTCP = 1;
    Env().LoadThroughCorvixSys = 1;
    const auto form = Open();
    QVERIFY(form->rdbCorvixSys->isChecked());
    QVERIFY(form->rdbCorvixSys->isEnabled());
    QVERIFY(!form->rdbCorvixLink->isEnabled());
    QCOMPARE(form->TcpPanels->currentWidget(), form->pnlCorvixSys);
    // Every later field empty too: only the first empty one is reported.
    const QList<QLineEdit *> fields = {form->edtCorvixSysAddress, form->edtCorvixSysPort,
                                       form->edtCorvixSysUserName, form->edtCorvixSysPassword};
    for (int i = emptied; i < fields.size(); ++i) fields[i]->clear();
    form->edtCorvixLinkAddress->clear(); // not needed for CorvixSys
    const CommOptions before = Env().Comm;
    form->btnOK->click();
    QCOMPARE(boxes_.size(), size_t(1));
    QCOMPARE(boxes_[0].caption, QStringLiteral("Error"));
    QCOMPARE(boxes_[0].text, message);
    QCOMPARE(form->focusWidget(), fields[emptied]);
    QVERIFY(StillOpen(*form));
    QVERIFY(SameTcpFields(Env().Comm, before));
    QCOMPARE(Env().Comm.UseTCP, 1);

    if (emptied == 3) { // the last one filled in: everything passes
        form->edtCorvixSysPassword->setText(QStringLiteral("pw"));
        form->btnOK->click();
        QCOMPARE(boxes_.size(), size_t(1));
        QCOMPARE(Env().Comm.UseCorvixSys, 1);
        QCOMPARE(Env().Comm.UseCorvixLink, 0);
        QCOMPARE(QString::fromUtf8(Env().Comm.CorvixSysPassword), QStringLiteral("pw"));
        QCOMPARE(QString::fromUtf8(Env().Comm.CorvixLinkAddress), QString());
    }
}

void TstFrmZepCommunications::emptyCorvixSysPortFailsOnConversionAfterCopyingFlagsAndTexts() {
    Env().Comm.UseCorvixLink = 0;
    Env().Comm.UseCorvixSys = 1;
    const auto form = Open();
    QTest::mouseClick(form->rdbUseTCP, Qt::LeftButton);
    form->edtCorvixSysPort->clear();
    form->edtCorvixSysAddress->setText(QStringLiteral("10.1.1.1"));
    form->edtCorvixSysUserName->setText(QStringLiteral("root"));
    form->edtCorvixSysPassword->setText(QStringLiteral("toor"));
    form->edtCorvixLinkAddress->setText(QStringLiteral("10.2.2.2"));
    form->btnOK->click();

    QCOMPARE(boxes_.size(), size_t(1));
    QCOMPARE(boxes_[0].text, QStringLiteral("'' is not a valid integer value"));
    QVERIFY(StillOpen(*form));
    QCOMPARE(form->focusWidget(), form->edtCorvixSysPort);
    const CommOptions &comm = Env().Comm;
    QCOMPARE(comm.UseCorvixLink, 1);
    QCOMPARE(comm.UseCorvixSys, 0);
    QCOMPARE(QString::fromUtf8(comm.CorvixSysAddress), QStringLiteral("10.1.1.1"));
    QCOMPARE(QString::fromUtf8(comm.CorvixSysUserName), QStringLiteral("root"));
    QCOMPARE(QString::fromUtf8(comm.CorvixSysPassword), QStringLiteral("toor"));
    // Nothing after the failing port.
    QCOMPARE(int(comm.CorvixSysTcpPort), 65023);
    QCOMPARE(QString::fromUtf8(comm.CorvixLinkAddress), QStringLiteral("10.0.0.5"));
    QCOMPARE(comm.UseTCP, 0);
}

void TstFrmZepCommunications::portBeyondSixteenBitsIsRefused() {
    Env().Comm.UseTCP = 1;
    const auto form = Open();
    for (const QString &port :
         {QStringLiteral("70000"), QStringLiteral("-1"), QStringLiteral("0")}) {
        boxes_.clear();
        form->edtCorvixLinkPort->setText(port);
        form->btnOK->click();
        QCOMPARE(boxes_.size(), size_t(1));
        QCOMPARE(boxes_[0].text,
                 QStringLiteral("'%1' is not a valid port number (1 to 65535)").arg(port));
        QVERIFY(StillOpen(*form));
        QCOMPARE(int(Env().Comm.CorvixLinkTcpPort), 4244); // not 4464
    }
    form->edtCorvixLinkPort->setText(QStringLiteral("65535"));
    form->btnOK->click();
    QCOMPARE(int(Env().Comm.CorvixLinkTcpPort), 65535);
}

void TstFrmZepCommunications::editsHoldWhatTheRecordHolds() {
    Env().Comm.UseTCP = 1;
    const auto form = Open();
    form->edtCorvixLinkAddress->clear();
    QTest::keyClicks(form->edtCorvixLinkAddress, QStringLiteral("123.123.123.1234567"));
    QCOMPARE(form->edtCorvixLinkAddress->text(), QStringLiteral("123.123.123.123"));
    // 255 bytes of UTF-8: a name of two-byte letters stops at 127 of them.
    form->edtCorvixLinkName->clear();
    for (int i = 0; i < 200; ++i) // QTest::keyClicks takes ASCII only
        QTest::sendKeyEvent(QTest::Click, form->edtCorvixLinkName, Qt::Key_unknown,
                            QString(QChar(0xE9)), Qt::NoModifier);
    QCOMPARE(form->edtCorvixLinkName->text().size(), 127);
    form->btnOK->click();
    QCOMPARE(QString::fromUtf8(Env().Comm.CorvixLinkName), QString(127, QChar(0xE9)));
    QCOMPARE(form->edtCorvixSysAddress->maxLength(), 15);
    for (QLineEdit *edit : {form->edtCorvixSysUserName, form->edtCorvixSysPassword})
        QCOMPARE(edit->maxLength(), 255);
}

void TstFrmZepCommunications::comPortDeviceHint() {
    const QString present = dir_.filePath(QStringLiteral("ttyFAKE0"));
    QFile file(present);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    platform::RegKey ports("Software\\Vexlon\\ZEP\\Ports");
    ports.SetString("COM5", present.toStdString());
    ports.SetString("COM6", dir_.filePath(QStringLiteral("ttyGONE")).toStdString());
    ports.SetString("COM7", "rfc2217://127.0.0.1:4000");

    const auto form = Open();
    form->cboCommPort->setCurrentIndex(4);
    QCOMPARE(form->lblCommPortDevice->text(), present + QStringLiteral(" (present)"));
    form->cboCommPort->setCurrentIndex(5);
    QVERIFY(form->lblCommPortDevice->text().endsWith(QStringLiteral("ttyGONE (not present)")));
    form->cboCommPort->setCurrentIndex(6);
    QCOMPARE(form->lblCommPortDevice->text(),
             QStringLiteral("rfc2217://127.0.0.1:4000 (network port)"));
    QCOMPARE(form->cboCommPort->currentText(), QStringLiteral("COM7")); // the item itself stays
    form->cboCommPort->setCurrentIndex(33);
    QVERIFY(form->lblCommPortDevice->text().startsWith(QStringLiteral("/dev/ttyUSB1 (")));
}

void TstFrmZepCommunications::discoveryFillsTheCorvixLinkFields() {
    int runs = 0;
    SetDiscoveryDialogRunner([&runs](QWidget *, DiscoveredDevice &device) {
        ++runs;
        device = {"10.9.8.7", "lab bench", "4250"};
        return runs == 1; // the second time the user cancels
    });
    Env().Comm.UseTCP = 1;
    const auto form = Open();
    QVERIFY(form->btnDiscover->isEnabled());
    form->btnDiscover->click();
    QCOMPARE(form->edtCorvixLinkAddress->text(), QStringLiteral("10.9.8.7"));
    QCOMPARE(form->edtCorvixLinkName->text(), QStringLiteral("lab bench"));
    QCOMPARE(form->edtCorvixLinkPort->text(), QStringLiteral("4250"));
    form->edtCorvixLinkName->setText(QStringLiteral("mine"));
    form->btnDiscover->click();
    QCOMPARE(runs, 2);
    QCOMPARE(form->edtCorvixLinkName->text(), QStringLiteral("mine"));
    QTest::mouseClick(form->rdbUseSerial, Qt::LeftButton);
    QVERIFY(!form->btnDiscover->isEnabled());
}

void TstFrmZepCommunications::enterAppliesEscapeCancels() {
    for (const Qt::Key key : {Qt::Key_Escape, Qt::Key_Return}) {
        BenchSettings();
        TfrmCommunications form;
        bool pressed = false;
        testing_support::WhenVisible<TfrmCommunications>([&](TfrmCommunications *shown) {
            shown->cboCommPort->setCurrentIndex(9);
            // Enter on a button other than OK still means OK.
            QTest::keyClick(shown->btnCancel, key);
            pressed = true;
        });
        // A fault must fail the test, not hang it.
        QTimer::singleShot(5000, &form,
                           [&form] { toolkit::SetModalResult(&form, toolkit::mrAbort); });
        const int result = toolkit::ShowModal(&form);
        QVERIFY(pressed);
        if (key == Qt::Key_Escape) {
            QCOMPARE(result, int(toolkit::mrCancel));
            QCOMPARE(Env().Comm.ComPort, 3);
        } else {
            QCOMPARE(result, int(toolkit::mrOk));
            QCOMPARE(Env().Comm.ComPort, 10);
        }
    }
}

void TstFrmZepCommunications::errorBoxIsCaptionedError() {
    SetOptionMessageBox({}); // the real box
    Env().Comm.ComPort = 0;
    const auto form = Open();
    testing_support::SeenBox seen;
    testing_support::CloseNextMessageBox(seen);
    QTimer::singleShot(5000, form.get(), [] {
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (auto *box = qobject_cast<QMessageBox *>(widget); box && box->isVisible())
                box->done(0); // safety: a box nobody answered
    });
    form->btnOK->click();
    QVERIFY(seen.seen);
    QCOMPARE(seen.caption, QStringLiteral("Error"));
    QCOMPARE(seen.text, QStringLiteral("Comm port cannot be blank"));
    QVERIFY(StillOpen(*form));
}

void TstFrmZepCommunications::helpShowsTopicSix() {
    // From any current folder: the help is found beside the program (the build copies it there).
    QTemporaryDir elsewhere;
    const QString previousDir = QDir::currentPath();
    QDir::setCurrent(elsewhere.path());
    toolkit::SetApplicationHelpFile(QStringLiteral("Mossvale.hlp"));
    const toolkit::HelpOpener previous = toolkit::SetHelpOpener(RecordHelp);
    openedHelp.clear();
    {
        const auto form = Open();
        form->btnHelp->click();
        QVERIFY(StillOpen(*form));
    }
    toolkit::SetHelpOpener(previous);
    QDir::setCurrent(previousDir);
    // Topic 6 is the option dialogs' page.
    QCOMPARE(openedHelp.toLocalFile(), QDir(QCoreApplication::applicationDirPath())
                                           .absoluteFilePath(QStringLiteral("help/options.html")));
    QVERIFY(QFile::exists(openedHelp.toLocalFile()));
}

void TstFrmZepCommunications::screenshot() {
    const QString folder = qEnvironmentVariable("TARNWICK_SCREENSHOT_DIR");
    if (folder.isEmpty()) QSKIP("TARNWICK_SCREENSHOT_DIR is not set");
    Env().Comm.ComPort = 1;
    Env().BiosBaudRate = 115200;
    Env().Comm.MaxNegotiatedBaud = 460800;
    Env().Comm.DisableBaudNegotiation = 0;
    Env().Comm.DetectProcessor = 1;
    const auto form = Open();
    QTest::qWait(200); // first paint
    QVERIFY(form->grab().save(QDir(folder).filePath(QStringLiteral("communications.png"))));
}

TARNWICK_TEST_MAIN(TstFrmZepCommunications)
#include "tst_frmzepcommunications.moc"
