// Watches the registry backend replace its file: counts the replacements while alive, and lets a
// test look at the finished temporary file just before it is put in place (or make that step
// fail).
#pragma once

#include "platform/posix/RegistryHive.h"

#include <cerrno>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>

class RegistryReplacements {
public:
    // Runs before each replacement with the temporary's and the file's names; returning an errno
    // value makes the replacement fail with it.
    using Inspector = std::function<int(const std::string &temporary, const std::string &file)>;

    explicit RegistryReplacements(Inspector inspect = {}) : inspect_(std::move(inspect)) {
        previous_ = platform::regfile::SetReplaceFileStep(
            [this](const std::string &from, const std::string &to) {
                ++count_;
                if (inspect_) {
                    if (int error = inspect_(from, to); error != 0) {
                        errno = error;
                        return -1;
                    }
                }
                return std::rename(from.c_str(), to.c_str());
            });
    }
    ~RegistryReplacements() { platform::regfile::SetReplaceFileStep(std::move(previous_)); }
    RegistryReplacements(const RegistryReplacements &) = delete;
    RegistryReplacements &operator=(const RegistryReplacements &) = delete;

    int Count() const { return count_; }

private:
    Inspector inspect_;
    platform::regfile::ReplaceFileStep previous_;
    int count_ = 0;
};
