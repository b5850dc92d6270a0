// The help layer. The program names its help file "Mossvale.hlp" (the application's help file);
// the help itself is a folder of HTML pages whose contents page has the same base name
// (Mossvale.html), found next to the program, in the installed share folder or in the source
// tree (see HelpLocation.h), and shown in the program's own help window.
#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <cstdint>

namespace toolkit {

constexpr unsigned HELP_CONTEXT = 0x0001; // data: the topic number
constexpr unsigned HELP_QUIT = 0x0002;
constexpr unsigned HELP_FINDER = 0x000b; // the contents

// The folders looked in for the help, in order.
QStringList HelpSearchFolders();
// Tests put other folders in place of the program's own; an empty list restores them.
void SetHelpSearchFolders(const QStringList &folders);

// Where a help command leads: the contents page, or for HELP_CONTEXT the topic's page, in the
// first folder holding the help. Empty when the help is nowhere or the command opens nothing.
QUrl HelpUrl(unsigned command, uintptr_t data);

// Carries out a help command for the application's help file. Help found nowhere is reported in
// a message box naming the folders looked in. Returns false when nothing could be opened.
bool HelpCommand(unsigned command, uintptr_t data);
// Opens one topic (HELP_CONTEXT), as the dialogs' Help buttons do.
bool HelpContext(uintptr_t topic);

// What shows a help page; by default the program's help window. Returns the previous one.
using HelpOpener = bool (*)(const QUrl &url);
HelpOpener SetHelpOpener(HelpOpener opener);

} // namespace toolkit
