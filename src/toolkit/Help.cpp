#include "toolkit/Help.h"

#include "toolkit/Application.h"
#include "toolkit/Forms.h"
#include "toolkit/HelpLocation.h"
#include "toolkit/HelpWindow.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <filesystem>
#include <vector>

namespace toolkit {
namespace {

QUrl ContentsUrl() {
    const std::string index = HelpIndexPage(ApplicationHelpFile().toStdString());
    const QString folder = [&] {
        std::vector<std::filesystem::path> folders;
        for (const QString &place : HelpSearchFolders())
            folders.emplace_back(QFile::encodeName(place).toStdString());
        return QFile::decodeName(FindHelpFolder(folders, index).string().c_str());
    }();
    if (folder.isEmpty()) return {};
    return QUrl::fromLocalFile(QDir(folder).absoluteFilePath(QString::fromStdString(index)));
}

bool OpenInHelpWindow(const QUrl &url) {
    const QUrl contents = ContentsUrl();
    return ShowHelpWindow(url, contents) != nullptr;
}

HelpOpener helpOpener = OpenInHelpWindow; // UI thread only
QStringList testFolders;                  // UI thread only

} // namespace

QStringList HelpSearchFolders() {
    if (!testFolders.isEmpty()) return testFolders;
    const std::filesystem::path program =
        QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString();
    QStringList folders;
    for (const std::filesystem::path &folder : HelpFolders(program, TARNWICK_HELP_SOURCE_DIR))
        folders << QFile::decodeName(folder.string().c_str());
    return folders;
}

void SetHelpSearchFolders(const QStringList &folders) { testFolders = folders; }

QUrl HelpUrl(unsigned command, uintptr_t data) {
    if (command != HELP_FINDER && command != HELP_CONTEXT) return {};
    QUrl contents = ContentsUrl();
    if (contents.isEmpty() || command == HELP_FINDER) return contents;
    const std::string index = HelpIndexPage(ApplicationHelpFile().toStdString());
    return contents.resolved(QUrl(QString::fromStdString(HelpTopicPage(data, index))));
}

bool HelpCommand(unsigned command, uintptr_t data) {
    if (command == HELP_QUIT) {
        if (THelpWindow *window = HelpWindow()) window->close();
        return true;
    }
    if (command != HELP_FINDER && command != HELP_CONTEXT) return false;
    const QString index =
        QString::fromStdString(HelpIndexPage(ApplicationHelpFile().toStdString()));
    if (index.isEmpty()) return false;
    const QUrl url = HelpUrl(command, data);
    if (url.isEmpty()) {
        ShowMessageBox(ApplicationTitle(),
                       QStringLiteral("Cannot find the help (%1). It was looked for in:\n%2")
                           .arg(index, HelpSearchFolders().join(QLatin1Char('\n'))));
        return false;
    }
    return helpOpener != nullptr && helpOpener(url);
}

bool HelpContext(uintptr_t topic) { return HelpCommand(HELP_CONTEXT, topic); }

HelpOpener SetHelpOpener(HelpOpener opener) {
    const HelpOpener previous = helpOpener;
    helpOpener = opener != nullptr ? opener : OpenInHelpWindow;
    return previous;
}

} // namespace toolkit
