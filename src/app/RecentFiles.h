// The rules of the recent-files list: most recent first, at most ten names, no two names that
// differ only in letter case.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace recentfiles {

constexpr size_t MenuSlots = 10;

bool SameFile(const std::string &a, const std::string &b); // without regard to case

// Puts name at the top: an equal entry is moved there; a new name pushes out the oldest entries
// beyond the ten (a list stored by an older version may hold more).
void Record(std::vector<std::string> &list, const std::string &name);

// Moves the entry at position to the top; positions outside the list change nothing.
void MoveToTop(std::vector<std::string> &list, size_t position);

// "&<position> <name>": the digit is the menu accelerator. An '&' in the name is doubled so that
// the menu shows the path as it is.
std::string EntryCaption(size_t position, const std::string &name);

// The folder the open dialog starts in: that of the most recent entry whose folder still exists.
// Empty when there is none (the dialog then starts in the current folder).
std::string LastFolder(const std::vector<std::string> &list);

} // namespace recentfiles
