// Where the help pages are and which page a help command shows. Plain C++ (no Qt), so that the
// rules can be checked without a display.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace toolkit {

// The folders that may hold the help, in the order they are tried: next to the program (a build
// tree, or a copy unpacked anywhere), the installed share folder beside the program's bin folder,
// then the source tree the program was built from.
std::vector<std::filesystem::path> HelpFolders(const std::filesystem::path &programFolder,
                                               const std::filesystem::path &sourceHelpFolder);

// The first of folders holding indexPage ("Mossvale.html"); empty when none does.
std::filesystem::path FindHelpFolder(const std::vector<std::filesystem::path> &folders,
                                     const std::string &indexPage);

// The help's contents page for the application's help file name: "Mossvale.hlp" gives
// "Mossvale.html". Empty for an empty name.
std::string HelpIndexPage(const std::string &helpFileName);

// The page a context topic opens (the option dialogs' Help buttons ask for topic 6); a topic
// without a page of its own opens the contents.
std::string HelpTopicPage(uintptr_t topic, const std::string &indexPage);

} // namespace toolkit
