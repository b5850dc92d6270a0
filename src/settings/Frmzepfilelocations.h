// TfrmFileLocations: the "Choose File Locations" dialog. Edits the paths of the cold loader,
// the pilot BIOS and the flash table; OK writes them into Env() as typed (a missing file is
// reported by the load that opens it, not here).
#pragma once

#include <QDialog>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace toolkit {
class TOpenDialog;
}

class TfrmFileLocations : public QDialog {
    Q_OBJECT
public:
    explicit TfrmFileLocations(QWidget *owner = nullptr);

    QGroupBox *gboxFiles = nullptr;
    QLabel *lblColdLoader = nullptr;
    QLineEdit *edtColdLoader = nullptr;
    QPushButton *btnColdLoaderBrowse = nullptr;
    QLabel *lblPilotBIOS = nullptr;
    QLineEdit *edtPilotBIOS = nullptr;
    QPushButton *btnPilotBIOSBrowse = nullptr;
    QLabel *lblFlashIni = nullptr;
    QLineEdit *edtFlashIni = nullptr;
    QPushButton *btnFlashIniBrowse = nullptr;
    QPushButton *btnOK = nullptr;
    QPushButton *btnCancel = nullptr;
    QPushButton *btnHelp = nullptr;
    toolkit::TOpenDialog *dlgOpenFile = nullptr;

    void btnColdLoaderBrowseClick();
    void btnPilotBIOSBrowseClick();
    void btnFlashIniBrowseClick();
    void btnOKClick();
    void btnCancelClick();
    void btnHelpClick();
    void FormShow();
    bool FormKeyDown(int key);

protected:
    void showEvent(QShowEvent *event) override;

private:
    // One row of the group: right-aligned label, edit, browse button.
    QLineEdit *AddRow(int row, const QString &caption, QLabel *&label, QPushButton *&browse);
    // Lets the user pick a file for edit through the shared open dialog.
    void Browse(QLineEdit *edit, const QString &filter);
};

// Creates the dialog owned by owner, shows it modally and destroys it. Returns the modal result
// (toolkit::mrOk when the paths were applied).
int ShowFileLocationsDialog(QWidget *owner);
