// The application object and its process-wide properties: the title, the help file, the main
// form, and the standard display of an exception that escapes an event handler.
#pragma once

#include <QApplication>
#include <QString>

#include <exception>

class QWidget;

namespace toolkit {

// Our QApplication: installs the native pump, leaves quitting to WM_QUIT (our loop, not Qt's,
// decides when the program ends) and shows an exception that escapes an event handler instead of
// letting it unwind through Qt.
class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int &argc, char **argv);
    bool notify(QObject *receiver, QEvent *event) override;
};

// The application title: the text a message box of the application carries as its caption.
// Kept apart from Qt's display name, which Qt would append to every window caption.
void SetApplicationTitle(const QString &title);
QString ApplicationTitle();

// The help file name, as the program knows it ("Mossvale.hlp"); the help layer maps it to the
// HTML help shipped beside the program.
void SetApplicationHelpFile(const QString &fileName);
QString ApplicationHelpFile();

// The main form: closing it ends the application's loop.
void SetMainForm(QWidget *form);
QWidget *MainForm();

// A message box with the application title as caption and the exception's text, as for an
// exception that escapes an event handler.
void ShowException(const std::exception &error);
// Call inside a catch block: shows the exception being handled, of whatever type.
void HandleException();

} // namespace toolkit
