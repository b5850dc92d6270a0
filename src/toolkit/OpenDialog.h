// The file-open dialog. Its filter is written the way the program states it, "Description|*.EXT"
// pairs separated by '|', and matched without regard to case, as file names from Windows
// machines come in both cases. The way it runs is replaceable so that forms can be tested without
// a person picking files.
#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QWidget;

namespace toolkit {

class TOpenDialog : public QObject {
    Q_OBJECT
public:
    explicit TOpenDialog(QWidget *owner);

    QString Filter;     // "Binary Image Files (*.bin)|*.BIN"
    QString Title;      // empty: "Open"
    QString InitialDir; // empty: the current directory
    QString FileName;   // the chosen file after Execute returned true

    // Runs the dialog modally; false when the user cancelled.
    bool Execute();

    QWidget *Owner() const { return owner_; }

private:
    QWidget *owner_;
};

// What Execute runs: by default a QFileDialog shown through ShowModal. A runner sets FileName
// and returns true for a choice, false for a cancel. Returns the previous runner.
using OpenDialogRunner = std::function<bool(TOpenDialog &)>;
OpenDialogRunner SetOpenDialogRunner(OpenDialogRunner runner);

// The Qt name filters for a filter in the program's notation: each description keeps its text
// and gets its patterns as case-insensitive wildcards ("*.[bB][iI][nN]") in a last pair of
// parentheses, which the dialog hides. Empty input gives an empty list.
QStringList QtNameFilters(const QString &filter);

} // namespace toolkit
