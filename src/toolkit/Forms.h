// Modal forms and message boxes run by our own message loop, so that everything a form starts
// (timers, a reader thread's messages, a Cancel click) keeps flowing while it is up.
#pragma once

#include <QString>

class QWidget;

namespace toolkit {

// Why a modal form ended. A form ends its modal loop by setting a value other than mrNone.
enum ModalResult : int {
    mrNone = 0,
    mrOk = 1,
    mrCancel = 2,
    mrAbort = 3,
    mrRetry = 4,
    mrIgnore = 5,
    mrYes = 6,
    mrNo = 7,
};

void SetModalResult(QWidget *form, int result);
int GetModalResult(const QWidget *form);

// Shows the form as a modal window and runs the application's loop until the form has a modal
// result (a QDialog's accept/reject/done sets one too; hiding, closing or destroying the form
// counts as mrCancel). Hides the form and returns the result. A WM_QUIT taken meanwhile is put
// back for the enclosing loop and ends this one with mrCancel.
int ShowModal(QWidget *form);

// A modal message box with the caption, the text and one OK button, over the active window
// (or parent when given).
void ShowMessageBox(const QString &caption, const QString &text, QWidget *parent = nullptr);
// The same with the warning icon and, when detail is not empty, that detail behind the box's
// details button.
void ShowWarningBox(const QString &caption, const QString &text, const QString &detail,
                    QWidget *parent = nullptr);

// Places form over mainForm: see CenteredPosition.
void CenterForm(const QWidget &mainForm, QWidget &form);

} // namespace toolkit
