// Every registry value of the settings, described once: its key, name, type, default, and how it
// moves between the registry and Environment. Load, save, and the command line's settings verbs
// all walk these rows, so they cannot disagree about a name or a rule.
#pragma once

#include "settings/Zepenvironment.h"

#include <cstdint>
#include <iosfwd>
#include <span>
#include <string>
#include <string_view>

namespace platform {
class RegKey;
struct RegValue;
} // namespace platform

enum class SettingKind { Number, Text };

// What "tarnwick-cli settings set" accepts for a value. Loading never refuses a value (the load
// rules make the best of whatever the file holds); a value typed by a user is checked first, so
// that a slip never reaches the registry.
enum class SettingForm {
    AnyText,  // text of at most MaxLength bytes
    Range,    // an integer from Min to Max
    OneOf,    // an integer from Choices (the baud rates)
    Ipv4,     // a dotted IPv4 address; the record's field holds 15 characters
    FilePath, // a path; a file that is not there is written all the same, with a warning
};

struct SettingRule {
    SettingForm Form = SettingForm::AnyText;
    int32_t Min = 0;
    int32_t Max = 0;
    std::span<const int32_t> Choices = {};
    size_t MaxLength = 0; // AnyText
};

struct Setting {
    const char *Key;  // subkey of the settings key path
    const char *Name; // registry value name, matched without regard to case
    SettingKind Kind;
    bool SavedAtExit;
    int32_t DefaultNumber;   // Number: taken when missing or not a registry integer
    const char *DefaultText; // Text: taken when missing or empty; nullptr for the file locations,
                             // whose default is a search
    // Number settings: stores a registry integer with the setting's rules (a flag reads non-zero
    // as 1, a port keeps its low 16 bits), and gives the integer to store.
    void (*StoreNumber)(Environment &env, uint32_t stored) = nullptr;
    uint32_t (*NumberOf)(const Environment &env) = nullptr;
    // Text settings: stores the registry text (cut to its field; the newline decoded), and gives
    // the text to store.
    void (*StoreText)(Environment &env, const std::string &stored) = nullptr;
    std::string (*TextOf)(const Environment &env) = nullptr;
    SettingRule Rule = {};
};

inline constexpr const char *CommunicationsKey = "Communications";
inline constexpr const char *FileLocationsKey = "File Locations";
inline constexpr const char *RecentFilesKey = "Recent Files\\Recent bin files";

// The values of "Communications" in their load and save order; the last, "Discovery Broadcast
// Address", and "USB to Serial Delay" are read only.
std::span<const Setting> CommunicationsSettings();
// "ColdLoader", "PilotBIOS" and "Flash table" of "File Locations".
std::span<const Setting> FileLocationSettings();
// The setting of that value name in either key, or nullptr.
const Setting *FindSetting(std::string_view name);

// Reads this setting from key into env with the load rules. Returns false when the default was
// taken: the value is missing, empty, or of another type (a string value of another type also
// prints one line on standard error). The file locations then store nothing: their default is a
// search that LoadSettings runs.
bool ReadSetting(const Setting &setting, const platform::RegKey &key, Environment &env);

// Writes one line per setting: the Communications values, the file locations, the recent files.
// The password is shown masked.
void PrintSettings(std::ostream &out, const Environment &env);
// One setting's value as the listing shows it (the password masked).
std::string SettingDisplayText(const Setting &setting, const Environment &env);
// Parses text as the setting's value (integers: decimal or 0x hex, 32 bits; text as it is, the
// newline in its notation), checks it against the setting's rule, and stores it in env with the
// load rules. Returns false with a message saying what the setting takes when the text is no
// value for it; env is then unchanged.
bool ApplySettingText(const Setting &setting, Environment &env, const std::string &text,
                      std::string &error);
// A warning worth showing for an accepted text (a file path naming no file), or empty.
std::string SettingWarning(const Setting &setting, const std::string &text);
// Whether the setting's rule lets number through (for a command-line option that stands in for
// the setting in one run), and the rule in words: "an integer from 1 to 256", "one of 57600,
// 115200, 230400, 460800".
bool SettingAllows(const Setting &setting, int32_t number);
std::string AllowedValues(const Setting &setting);
// The registry value this setting of env is saved as (flags as 0 or 1, ports as 16 bits, the
// newline in its notation).
platform::RegValue SettingValue(const Setting &setting, const Environment &env);
// Writes this one setting from env to the registry, as changed: one replacement of the file, in
// which every other value stays as the file holds it. Throws platform::RegistryError.
void WriteSetting(const Setting &setting, const Environment &env);
