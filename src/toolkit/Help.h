// The help layer. The program names its help file "Mossvale.hlp" (the application's help file);
// the help itself is HTML with the same base name in the docs folder, found relative to the
// current directory, and opened in the user's browser.
#pragma once

#include <QUrl>

#include <cstdint>

namespace toolkit {

constexpr unsigned HELP_CONTEXT = 0x0001; // data: the topic number
constexpr unsigned HELP_QUIT = 0x0002;
constexpr unsigned HELP_FINDER = 0x000b; // the contents

// Where a help command leads: docs/<base name>.html under the current directory, with the
// anchor "topic<N>" for HELP_CONTEXT. Empty for a command that opens nothing.
QUrl HelpUrl(unsigned command, uintptr_t data);

// Carries out a help command for the application's help file. A missing help file is reported
// in a message box. Returns false when nothing could be opened.
bool HelpCommand(unsigned command, uintptr_t data);
// Opens one topic (HELP_CONTEXT), as the dialogs' Help buttons do.
bool HelpContext(uintptr_t topic);

// What opens a help page; by default QDesktopServices::openUrl. Returns the previous opener.
using HelpOpener = bool (*)(const QUrl &url);
HelpOpener SetHelpOpener(HelpOpener opener);

} // namespace toolkit
