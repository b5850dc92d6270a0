// The program's version, in one place: the main window and load captions, the About box and the
// settings key path all build their text from it, so they can never disagree.
#pragma once

#include <cstdint>
#include <string>

constexpr uint16_t VersionMajor() { return 3; }
constexpr uint16_t VersionMinor() { return 0; }
constexpr uint16_t VersionRelease() { return 2; }
constexpr const char *VersionSuffix() { return ""; }
constexpr const char *VersionYear() { return "2026"; }

// Major "." minor release suffix, without padding or a separator between minor and release:
// "3.02". Each release keeps its settings under its own registry key named by this text.
inline std::string VersionText() {
    return std::to_string(VersionMajor()) + "." + std::to_string(VersionMinor()) +
           std::to_string(VersionRelease()) + VersionSuffix();
}
