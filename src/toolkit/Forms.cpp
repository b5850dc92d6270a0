#include "toolkit/Forms.h"

#include "toolkit/CenterForm.h"
#include "toolkit/MessageLoop.h"

#include "platform/Wait.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QVariant>
#include <QWidget>

namespace toolkit {
namespace {

constexpr const char *ModalResultProperty = "tarnwickModalResult";

int ResultOfDialogCode(int code) {
    if (code == QDialog::Accepted) return mrOk;
    if (code == QDialog::Rejected) return mrCancel;
    return code;
}

// Turns a dialog's own way of ending (accept, reject, Escape, done) into a modal result, for as
// long as one ShowModal runs.
class DialogResultLink {
public:
    explicit DialogResultLink(QWidget *form) {
        auto *dialog = qobject_cast<QDialog *>(form);
        if (dialog == nullptr) return;
        connection_ = QObject::connect(dialog, &QDialog::finished, dialog, [dialog](int code) {
            if (GetModalResult(dialog) == mrNone) SetModalResult(dialog, ResultOfDialogCode(code));
        });
    }
    ~DialogResultLink() { QObject::disconnect(connection_); }
    DialogResultLink(const DialogResultLink &) = delete;
    DialogResultLink &operator=(const DialogResultLink &) = delete;

private:
    QMetaObject::Connection connection_;
};

} // namespace

void SetModalResult(QWidget *form, int result) {
    if (form != nullptr) form->setProperty(ModalResultProperty, result);
}

int GetModalResult(const QWidget *form) {
    return form == nullptr ? mrNone : form->property(ModalResultProperty).toInt();
}

int ShowModal(QWidget *form) {
    InstallNativePump();
    QPointer<QWidget> guard(form);
    SetModalResult(form, mrNone);
    if (!form->isWindow()) form->setWindowFlag(Qt::Window, true);
    // The whole application waits on a modal form, as the rest of the program expects: a load
    // that is running must not see a second command started from the main window.
    form->setWindowModality(Qt::ApplicationModal);
    DialogResultLink link(form);
    form->show();
    form->raise();
    form->activateWindow();

    int result = mrNone;
    const auto ended = [&] {
        if (guard.isNull()) return true;
        result = GetModalResult(form);
        if (result != mrNone) return true;
        if (!form->isVisible()) {
            result = mrCancel;
            return true;
        }
        return false;
    };
    // A quit ends the form as a cancel; the wait has posted it again for the loop outside.
    if (platform::PumpUntil(platform::WaitSpec{}, ended) == platform::WaitEnd::Quit)
        result = mrCancel;
    if (guard.isNull()) return mrCancel;
    if (!guard.isNull()) {
        SetModalResult(form, result);
        form->hide();
    }
    return result;
}

void ShowMessageBox(const QString &caption, const QString &text, QWidget *parent) {
    if (parent == nullptr) parent = QApplication::activeWindow();
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, parent);
    // Texts carry file names and device replies: never let Qt read them as markup.
    box.setTextFormat(Qt::PlainText);
    ShowModal(&box);
}

void ShowWarningBox(const QString &caption, const QString &text, const QString &detail,
                    QWidget *parent) {
    if (parent == nullptr) parent = QApplication::activeWindow();
    QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    // The detail names the port, address or file and what to check; Qt shows it behind the
    // box's "Show Details..." button, and as plain text whatever it holds.
    if (!detail.isEmpty()) box.setDetailedText(detail);
    ShowModal(&box);
}

void CenterForm(const QWidget &mainForm, QWidget &form) {
    const FormPosition position = CenteredPosition(mainForm.x(), mainForm.y(), mainForm.width(),
                                                   mainForm.height(), form.width(), form.height());
    form.move(position.Left, position.Top);
}

} // namespace toolkit
