// What the option dialogs (communications, file locations, passphrase) share: the "Error" box
// their checks show, the form-level handling of Enter and Escape, the limit on how many bytes an
// edit may hold, and placement over the owner.
#pragma once

#include <QString>
#include <QValidator>

#include <functional>

class QDialog;
class QLineEdit;
class QWidget;

// Shows a message box for an option dialog: caption, text and one OK button. Goes through a
// replaceable function (by default toolkit::ShowMessageBox) so that tests can answer it.
void ShowOptionMessage(const QString &caption, const QString &text, QWidget *parent);
// The caption every failed check of an option dialog uses.
void ShowOptionError(const QString &text, QWidget *parent);

using OptionMessageBox =
    std::function<void(const QString &caption, const QString &text, QWidget *parent)>;
// Replaces the box function; an empty function restores the real box. Returns the previous one.
OptionMessageBox SetOptionMessageBox(OptionMessageBox box);

// Lets the form see keys before its controls: every key press aimed at the form or one of its
// controls goes to formKeyDown first, and is consumed when it returns true. Install after the
// controls exist; pop-up windows (a combo box's list) keep their own keys.
void InstallKeyPreview(QWidget &form, std::function<bool(int key)> formKeyDown);

// Enter acts as OK and Escape as Cancel in every option dialog: runs the handler the key stands
// for and returns true; false for any other key.
bool HandleDialogKey(int key, const std::function<void()> &ok, const std::function<void()> &cancel);

// Ends a dialog shown by toolkit::ShowModal (or by exec) with a modal result.
void CloseWithResult(QDialog &form, int modalResult);

// Places the form centred over its owner's window (the main form when it has no owner).
void CenterOverOwner(QWidget &form);

// Keeps an edit's text within a fixed number of bytes of UTF-8, the way the settings record and
// the passphrase buffer hold it. Also sets the edit's maximum length in characters.
void LimitEditBytes(QLineEdit &edit, int maxBytes);

// Hides an edit's text behind one "*" per character, whatever the style would draw instead.
void ShowAsterisks(QLineEdit &edit);

class Utf8LengthValidator : public QValidator {
    Q_OBJECT
public:
    Utf8LengthValidator(int maxBytes, QObject *parent);
    State validate(QString &input, int &pos) const override;

private:
    int maxBytes_;
};
