#include "toolkit/HelpLocation.h"

#include <system_error>

namespace toolkit {
namespace {

struct TopicPage {
    uintptr_t topic;
    const char *page;
};

// Topic 6 is the option dialogs' topic: the Communications and File Locations dialogs both ask
// for it, and their page covers the passphrase window too.
constexpr TopicPage TopicPages[] = {
    {6, "options.html"},
};

} // namespace

std::vector<std::filesystem::path> HelpFolders(const std::filesystem::path &programFolder,
                                               const std::filesystem::path &sourceHelpFolder) {
    std::vector<std::filesystem::path> folders;
    if (!programFolder.empty()) {
        folders.push_back(programFolder / "help");
        folders.push_back(
            (programFolder / ".." / "share" / "tarnwick" / "help").lexically_normal());
    }
    if (!sourceHelpFolder.empty()) folders.push_back(sourceHelpFolder);
    return folders;
}

std::filesystem::path FindHelpFolder(const std::vector<std::filesystem::path> &folders,
                                     const std::string &indexPage) {
    if (indexPage.empty()) return {};
    for (const std::filesystem::path &folder : folders) {
        std::error_code error; // an unreadable folder is one that does not hold the help
        if (std::filesystem::is_regular_file(folder / indexPage, error)) return folder;
    }
    return {};
}

std::string HelpIndexPage(const std::string &helpFileName) {
    const std::string base = std::filesystem::path(helpFileName).stem().string();
    return base.empty() ? std::string() : base + ".html";
}

std::string HelpTopicPage(uintptr_t topic, const std::string &indexPage) {
    for (const TopicPage &entry : TopicPages)
        if (entry.topic == topic) return entry.page;
    return indexPage;
}

} // namespace toolkit
