#include "toolkit/OpenDialog.h"

#include "toolkit/Forms.h"

#include <QFileDialog>
#include <QStringList>
#include <QWidget>

namespace toolkit {
namespace {

// "*.BIN" -> "*.[bB][iI][nN]": QFileDialog matches case-sensitively on Linux.
QString CaseInsensitivePattern(const QString &pattern) {
    QString result;
    for (const QChar c : pattern) {
        const QChar lower = c.toLower();
        const QChar upper = c.toUpper();
        if (lower == upper)
            result += c;
        else
            result += QStringLiteral("[%1%2]").arg(lower, upper);
    }
    return result;
}

bool RunFileDialog(TOpenDialog &dialog) {
    QFileDialog fileDialog(dialog.Owner(),
                           dialog.Title.isEmpty() ? QStringLiteral("Open") : dialog.Title,
                           dialog.InitialDir);
    fileDialog.setOption(QFileDialog::DontUseNativeDialog); // a native one would bypass our loop
    fileDialog.setOption(QFileDialog::HideNameFilterDetails);
    fileDialog.setFileMode(QFileDialog::ExistingFile);
    fileDialog.setAcceptMode(QFileDialog::AcceptOpen);
    const QStringList filters = QtNameFilters(dialog.Filter);
    if (!filters.isEmpty()) fileDialog.setNameFilters(filters);
    if (ShowModal(&fileDialog) != mrOk || fileDialog.selectedFiles().isEmpty()) return false;
    dialog.FileName = fileDialog.selectedFiles().constFirst();
    return true;
}

OpenDialogRunner &Runner() {
    static OpenDialogRunner runner = RunFileDialog;
    return runner;
}

} // namespace

TOpenDialog::TOpenDialog(QWidget *owner) : QObject(owner), owner_(owner) {}

bool TOpenDialog::Execute() { return Runner() ? Runner()(*this) : false; }

OpenDialogRunner SetOpenDialogRunner(OpenDialogRunner runner) {
    OpenDialogRunner previous = std::move(Runner());
    Runner() = runner ? std::move(runner) : OpenDialogRunner(RunFileDialog);
    return previous;
}

QStringList QtNameFilters(const QString &filter) {
    QStringList result;
    const QStringList parts = filter.split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (const QString &pattern : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts))
            patterns << CaseInsensitivePattern(pattern.trimmed());
        result << QStringLiteral("%1 (%2)").arg(parts[i].trimmed(),
                                                patterns.join(QLatin1Char(' ')));
    }
    return result;
}

} // namespace toolkit
