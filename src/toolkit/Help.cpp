#include "toolkit/Help.h"

#include "toolkit/Application.h"
#include "toolkit/Forms.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>

namespace toolkit {
namespace {

bool OpenInBrowser(const QUrl &url) { return QDesktopServices::openUrl(url); }

HelpOpener helpOpener = OpenInBrowser; // UI thread only

QString HelpPagePath() {
    const QString helpFile = ApplicationHelpFile();
    if (helpFile.isEmpty()) return {};
    return QDir::current().absoluteFilePath(
        QStringLiteral("docs/") + QFileInfo(helpFile).completeBaseName() + QStringLiteral(".html"));
}

} // namespace

QUrl HelpUrl(unsigned command, uintptr_t data) {
    if (command != HELP_FINDER && command != HELP_CONTEXT) return {};
    const QString path = HelpPagePath();
    if (path.isEmpty()) return {};
    QUrl url = QUrl::fromLocalFile(path);
    if (command == HELP_CONTEXT) url.setFragment(QStringLiteral("topic%1").arg(data));
    return url;
}

bool HelpCommand(unsigned command, uintptr_t data) {
    if (command == HELP_QUIT) return true; // the browser keeps its own windows
    const QUrl url = HelpUrl(command, data);
    if (url.isEmpty()) return false;
    if (!QFileInfo::exists(url.toLocalFile())) {
        ShowMessageBox(ApplicationTitle(),
                       QStringLiteral("Cannot find the help file %1.").arg(url.toLocalFile()));
        return false;
    }
    return helpOpener != nullptr && helpOpener(url);
}

bool HelpContext(uintptr_t topic) { return HelpCommand(HELP_CONTEXT, topic); }

HelpOpener SetHelpOpener(HelpOpener opener) {
    const HelpOpener previous = helpOpener;
    helpOpener = opener != nullptr ? opener : OpenInBrowser;
    return previous;
}

} // namespace toolkit
