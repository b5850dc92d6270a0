#include "settings/Frmtcpdlpassword.h"

#include "settings/FrmOptionDialogs.h"
#include "toolkit/Forms.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

namespace {
constexpr int EditWidth = 200;
}

TfrmTCPPassword::TfrmTCPPassword(QWidget *owner, PassphraseBuffer &buffer)
    : QDialog(owner), buffer_(buffer) {
    setObjectName(QStringLiteral("frmTCPPassword"));
    setWindowTitle(QStringLiteral("Passphrase"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    GroupBox1 = new QGroupBox(QStringLiteral(" Enter your passphrase "), this);
    Label1 = new QLabel(QStringLiteral("Passphrase:"), GroupBox1);
    Password = new QLineEdit(GroupBox1);
    ShowAsterisks(*Password);
    Password->setMinimumWidth(EditWidth);
    LimitEditBytes(*Password, static_cast<int>(MaxPassphraseLength));
    Label1->setBuddy(Password);
    auto *entry = new QHBoxLayout(GroupBox1);
    entry->addWidget(Label1);
    entry->addWidget(Password);

    AccceptButton = new QPushButton(QStringLiteral("&OK"), this);
    CancelButton = new QPushButton(QStringLiteral("&Cancel"), this);
    AccceptButton->setDefault(true);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(AccceptButton);
    buttons->addWidget(CancelButton);

    auto *layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize); // a dialog border: not resizable
    layout->addWidget(GroupBox1);
    layout->addLayout(buttons);

    connect(AccceptButton, &QPushButton::clicked, this, &TfrmTCPPassword::AccceptButtonClick);
    connect(CancelButton, &QPushButton::clicked, this, &TfrmTCPPassword::CancelButtonClick);
    InstallKeyPreview(*this, [this](int key) { return FormKeyDown(key); });
}

void TfrmTCPPassword::AccceptButtonClick() {
    StoreInBuffer(buffer_, Password->text().toUtf8().toStdString());
    Password->clear(); // the window does not keep the passphrase once it is handed over
    CloseWithResult(*this, toolkit::mrOk);
}

void TfrmTCPPassword::CancelButtonClick() { CloseWithResult(*this, toolkit::mrCancel); }

void TfrmTCPPassword::FormShow() {
    CenterOverOwner(*this);
    Password->setFocus();
}

bool TfrmTCPPassword::FormKeyDown(int key) {
    return HandleDialogKey(
        key, [this] { AccceptButtonClick(); }, [this] { CancelButtonClick(); });
}

void TfrmTCPPassword::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) FormShow();
}

PassphraseCallback WindowPassphraseCallback() {
    return MakePassphraseCallback([](PassphraseBuffer &buffer) {
        TfrmTCPPassword form(nullptr, buffer);
        toolkit::ShowModal(&form);
    });
}
