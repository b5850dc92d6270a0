#include "settings/Frmzepfilelocations.h"

#include "settings/FrmOptionDialogs.h"
#include "settings/Zepenvironment.h"
#include "toolkit/Forms.h"
#include "toolkit/Help.h"
#include "toolkit/OpenDialog.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include <string>

namespace {

constexpr int HelpTopic = 6;
constexpr int EditWidth = 320;
const QString BinaryFilter = QStringLiteral("Binary Image Files (*.bin)|*.BIN");
const QString FlashTableFilter = QStringLiteral("Flash Initialization Files (*.ini)|*.INI");

// Long paths are read from their end: the file name matters most.
void SetPath(QLineEdit *edit, const QString &path) {
    edit->setText(path);
    edit->end(false);
}

} // namespace

TfrmFileLocations::TfrmFileLocations(QWidget *owner) : QDialog(owner) {
    setObjectName(QStringLiteral("frmFileLocations"));
    setWindowTitle(QStringLiteral("Choose File Locations"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    gboxFiles = new QGroupBox(QStringLiteral(" File Locations "), this);
    auto *files = new QGridLayout(gboxFiles);
    files->setColumnMinimumWidth(1, EditWidth);
    edtColdLoader = AddRow(0, QStringLiteral("Cold Loader : "), lblColdLoader, btnColdLoaderBrowse);
    edtPilotBIOS = AddRow(1, QStringLiteral("Pilot BIOS : "), lblPilotBIOS, btnPilotBIOSBrowse);
    edtFlashIni = AddRow(2, QStringLiteral("Flash table : "), lblFlashIni, btnFlashIniBrowse);

    btnOK = new QPushButton(QStringLiteral("OK"), this);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnHelp = new QPushButton(QStringLiteral("Help"), this);
    btnOK->setDefault(true);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);
    buttons->addWidget(btnHelp);

    auto *layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize); // a dialog border: not resizable
    layout->addWidget(gboxFiles);
    layout->addLayout(buttons);

    dlgOpenFile = new toolkit::TOpenDialog(this);

    const Environment &env = Env();
    SetPath(edtColdLoader, QString::fromStdString(env.ColdLoaderFile));
    SetPath(edtPilotBIOS, QString::fromStdString(env.PilotBiosFile));
    SetPath(edtFlashIni, QString::fromStdString(env.FlashTableFile));

    connect(btnColdLoaderBrowse, &QPushButton::clicked, this,
            &TfrmFileLocations::btnColdLoaderBrowseClick);
    connect(btnPilotBIOSBrowse, &QPushButton::clicked, this,
            &TfrmFileLocations::btnPilotBIOSBrowseClick);
    connect(btnFlashIniBrowse, &QPushButton::clicked, this,
            &TfrmFileLocations::btnFlashIniBrowseClick);
    connect(btnOK, &QPushButton::clicked, this, &TfrmFileLocations::btnOKClick);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmFileLocations::btnCancelClick);
    connect(btnHelp, &QPushButton::clicked, this, &TfrmFileLocations::btnHelpClick);
    InstallKeyPreview(*this, [this](int key) { return FormKeyDown(key); });
}

QLineEdit *TfrmFileLocations::AddRow(int row, const QString &caption, QLabel *&label,
                                     QPushButton *&browse) {
    auto *edit = new QLineEdit(gboxFiles);
    label = new QLabel(caption, gboxFiles);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setBuddy(edit);
    browse = new QPushButton(QStringLiteral("..."), gboxFiles);
    browse->setAutoDefault(false);
    browse->setFixedWidth(browse->fontMetrics().horizontalAdvance(QStringLiteral("...")) + 16);
    auto *grid = static_cast<QGridLayout *>(gboxFiles->layout());
    grid->addWidget(label, row, 0);
    grid->addWidget(edit, row, 1);
    grid->addWidget(browse, row, 2);
    return edit;
}

void TfrmFileLocations::Browse(QLineEdit *edit, const QString &filter) {
    dlgOpenFile->Filter = filter;
    dlgOpenFile->FileName.clear();
    if (dlgOpenFile->Execute()) SetPath(edit, dlgOpenFile->FileName);
}

void TfrmFileLocations::btnColdLoaderBrowseClick() { Browse(edtColdLoader, BinaryFilter); }

void TfrmFileLocations::btnPilotBIOSBrowseClick() { Browse(edtPilotBIOS, BinaryFilter); }

void TfrmFileLocations::btnFlashIniBrowseClick() { Browse(edtFlashIni, FlashTableFilter); }

void TfrmFileLocations::btnOKClick() {
    const struct {
        QLineEdit *edit;
        const char *message;
    } required[] = {{edtColdLoader, "Cold loader file name cannot be blank"},
                    {edtPilotBIOS, "Pilot BIOS file name cannot be blank"},
                    {edtFlashIni, "Flash.ini file name cannot be blank"}};
    for (const auto &field : required) {
        if (field.edit->text().isEmpty()) {
            ShowOptionError(QString::fromLatin1(field.message), this);
            field.edit->setFocus();
            return;
        }
    }
    Environment &env = Env();
    env.ColdLoaderFile = edtColdLoader->text().toStdString();
    env.PilotBiosFile = edtPilotBIOS->text().toStdString();
    env.FlashTableFile = edtFlashIni->text().toStdString();
    CloseWithResult(*this, toolkit::mrOk);
}

void TfrmFileLocations::btnCancelClick() { CloseWithResult(*this, toolkit::mrCancel); }

void TfrmFileLocations::btnHelpClick() { toolkit::HelpContext(HelpTopic); }

void TfrmFileLocations::FormShow() { CenterOverOwner(*this); }

bool TfrmFileLocations::FormKeyDown(int key) {
    return HandleDialogKey(
        key, [this] { btnOKClick(); }, [this] { btnCancelClick(); });
}

void TfrmFileLocations::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) FormShow();
}

int ShowFileLocationsDialog(QWidget *owner) {
    TfrmFileLocations form(owner);
    return toolkit::ShowModal(&form);
}
