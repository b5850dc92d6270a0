#include "app/RecentFiles.h"

#include <QFile>
#include <QString>

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace recentfiles {

bool SameFile(const std::string &a, const std::string &b) {
    return QString::compare(QFile::decodeName(a.c_str()), QFile::decodeName(b.c_str()),
                            Qt::CaseInsensitive) == 0;
}

void Record(std::vector<std::string> &list, const std::string &name) {
    const auto found = std::find_if(list.begin(), list.end(), [&name](const std::string &entry) {
        return SameFile(entry, name);
    });
    if (found != list.end())
        list.erase(found);
    else if (list.size() >= MenuSlots)
        list.resize(MenuSlots - 1);
    list.insert(list.begin(), name);
}

void MoveToTop(std::vector<std::string> &list, size_t position) {
    if (position >= list.size()) return;
    const auto entry = list.begin() + static_cast<std::ptrdiff_t>(position);
    std::rotate(list.begin(), entry, entry + 1);
}

std::string EntryCaption(size_t position, const std::string &name) {
    std::string caption = "&" + std::to_string(position) + " ";
    for (const char c : name) {
        caption += c;
        if (c == '&') caption += '&';
    }
    return caption;
}

std::string LastFolder(const std::vector<std::string> &list) {
    for (const std::string &name : list) {
        const std::filesystem::path folder = std::filesystem::path(name).parent_path();
        std::error_code error; // a folder that cannot be looked at is passed over like a gone one
        if (!folder.empty() && std::filesystem::is_directory(folder, error)) return folder.string();
    }
    return {};
}

} // namespace recentfiles
