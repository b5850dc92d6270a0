#include "toolkit/Application.h"

#include "toolkit/Forms.h"
#include "toolkit/MessageLoop.h"

#include <QPointer>
#include <QWidget>

namespace toolkit {
namespace {

struct ApplicationProperties {
    QString title;
    QString helpFile;
    QPointer<QWidget> mainForm;
};

ApplicationProperties &Properties() {
    static ApplicationProperties properties; // UI thread only
    return properties;
}

} // namespace

TApplication::TApplication(int &argc, char **argv) : QApplication(argc, argv) {
    setQuitOnLastWindowClosed(false);
    InstallNativePump();
}

bool TApplication::notify(QObject *receiver, QEvent *event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        // The handler's work is abandoned, the program goes on: the user sees what went wrong.
        HandleException();
        return false;
    }
}

void SetApplicationTitle(const QString &title) { Properties().title = title; }
QString ApplicationTitle() { return Properties().title; }

void SetApplicationHelpFile(const QString &fileName) { Properties().helpFile = fileName; }
QString ApplicationHelpFile() { return Properties().helpFile; }

void SetMainForm(QWidget *form) { Properties().mainForm = form; }
QWidget *MainForm() { return Properties().mainForm.data(); }

void ShowException(const std::exception &error) {
    ShowMessageBox(ApplicationTitle(), QString::fromLocal8Bit(error.what()));
}

void HandleException() {
    try {
        throw;
    } catch (const std::exception &error) {
        ShowException(error);
    } catch (...) {
        ShowMessageBox(ApplicationTitle(), QStringLiteral("An unexpected error occurred."));
    }
}

} // namespace toolkit
