// TfrmAbout: the About box. Names the product, shows its version and notice lines; Enter or
// Escape closes it. The main window makes a new one for every showing.
#pragma once

#include <QDialog>

class QLabel;
class QWidget;

class TfrmAbout : public QDialog {
    Q_OBJECT
public:
    explicit TfrmAbout(QWidget *owner = nullptr);

    QLabel *imgCorvix = nullptr;
    QLabel *txtAbout = nullptr;
    QLabel *txtVersion = nullptr;
    QLabel *txtCopyright = nullptr; // the first notice line: the year is added when shown
    QLabel *txtRights = nullptr;
    QLabel *txtPurpose = nullptr;
    QWidget *Panel2 = nullptr;

    void FormShow();
    void FormKeyDown(int key);

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
};

// The product icon: a Corvix chip with an arrow going into it, drawn for the About box.
QPixmap CorvixIcon();
