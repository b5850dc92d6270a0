#include "settings/FrmOptionDialogs.h"

#include "toolkit/Application.h"
#include "toolkit/Forms.h"

#include <QDialog>
#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QWidget>

namespace {

OptionMessageBox &BoxFunction() {
    static OptionMessageBox box; // empty: the real box
    return box;
}

class KeyPreview : public QObject {
public:
    KeyPreview(QWidget &form, std::function<bool(int)> formKeyDown)
        : QObject(&form), form_(form), formKeyDown_(std::move(formKeyDown)) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() != QEvent::KeyPress) return false;
        auto *widget = qobject_cast<QWidget *>(watched);
        // A pop-up of one of the controls (an open combo box list) is a window of its own and
        // takes Enter and Escape for itself.
        if (widget == nullptr || widget->window() != &form_) return false;
        return formKeyDown_(static_cast<QKeyEvent *>(event)->key());
    }

private:
    QWidget &form_;
    std::function<bool(int)> formKeyDown_;
};

} // namespace

void ShowOptionMessage(const QString &caption, const QString &text, QWidget *parent) {
    if (BoxFunction())
        BoxFunction()(caption, text, parent);
    else
        toolkit::ShowMessageBox(caption, text, parent);
}

void ShowOptionError(const QString &text, QWidget *parent) {
    ShowOptionMessage(QStringLiteral("Error"), text, parent);
}

OptionMessageBox SetOptionMessageBox(OptionMessageBox box) {
    OptionMessageBox previous = std::move(BoxFunction());
    BoxFunction() = std::move(box);
    return previous;
}

void InstallKeyPreview(QWidget &form, std::function<bool(int key)> formKeyDown) {
    auto *preview = new KeyPreview(form, std::move(formKeyDown)); // owned by the form
    form.installEventFilter(preview);
    for (QWidget *control : form.findChildren<QWidget *>()) control->installEventFilter(preview);
}

bool HandleDialogKey(int key, const std::function<void()> &ok,
                     const std::function<void()> &cancel) {
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        ok();
        return true;
    }
    if (key == Qt::Key_Escape) {
        cancel();
        return true;
    }
    return false;
}

void CloseWithResult(QDialog &form, int modalResult) {
    toolkit::SetModalResult(&form, modalResult);
    form.done(modalResult == toolkit::mrOk ? QDialog::Accepted : QDialog::Rejected);
}

void CenterOverOwner(QWidget &form) {
    QWidget *owner =
        form.parentWidget() != nullptr ? form.parentWidget()->window() : toolkit::MainForm();
    if (owner != nullptr && owner != &form) toolkit::CenterForm(*owner, form);
}

void LimitEditBytes(QLineEdit &edit, int maxBytes) {
    edit.setMaxLength(maxBytes);
    edit.setValidator(new Utf8LengthValidator(maxBytes, &edit));
}

void ShowAsterisks(QLineEdit &edit) {
    edit.setEchoMode(QLineEdit::Password);
    edit.setStyleSheet(QStringLiteral("lineedit-password-character: %1").arg(int('*')));
}

Utf8LengthValidator::Utf8LengthValidator(int maxBytes, QObject *parent)
    : QValidator(parent), maxBytes_(maxBytes) {}

QValidator::State Utf8LengthValidator::validate(QString &input, int &) const {
    return input.toUtf8().size() <= maxBytes_ ? Acceptable : Invalid;
}
