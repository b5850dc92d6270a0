#include "cli/CliPorts.h"

#include "cli/JsonText.h"

#include "platform/PortInventory.h"
#include "platform/PrintableText.h"
#include "platform/Registry.h"
#include "settings/Zepenvironment.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <iostream>
#include <string_view>
#include <vector>

namespace {

using platform::PortEntry;

constexpr int ExitOk = 0;
constexpr int ExitFailure = 1;

// Every text in a row, escaped: device names, USB strings and command names come from the
// registry, from the adapter itself and from other processes, and must not drive the terminal.
std::string Outside(std::string_view text) { return platform::EscapeControls(text); }

std::string Joined(const std::vector<std::string> &parts, std::string_view separator) {
    std::string text;
    for (const std::string &part : parts) {
        if (!text.empty()) text += separator;
        text += part;
    }
    return text;
}

std::string OrDash(const std::string &text) { return text.empty() ? "-" : text; }

std::string ComText(const PortEntry &entry) {
    std::vector<std::string> names;
    for (int comPort : entry.comPorts) names.push_back("COM" + std::to_string(comPort));
    return Joined(names, ",");
}

const char *PresenceText(platform::PortPresence presence) {
    switch (presence) {
    case platform::PortPresence::Present: return "yes";
    case platform::PortPresence::Absent: return "no";
    case platform::PortPresence::Remote: return "remote";
    }
    return "?";
}

std::string UsbIdText(const PortEntry &entry) {
    if (!entry.facts.usb) return {};
    return Outside(entry.facts.usb->vendorId) + ":" + Outside(entry.facts.usb->productId);
}

std::string AccessText(const PortEntry &entry) {
    if (!entry.access) return {};
    if (entry.access->mayOpen) return "ok";
    return "no: group " + Outside(entry.access->group) +
           (entry.access->inGroup ? ", you are in it" : ", you are not in it");
}

std::string HoldersText(const PortEntry &entry) {
    std::vector<std::string> holders;
    for (const platform::PortHolder &holder : entry.holders)
        holders.push_back(std::to_string(holder.pid) + " " + Outside(holder.command));
    return Joined(holders, ", ");
}

std::string HintText(const PortEntry &entry) {
    std::vector<std::string> hints;
    for (platform::PortHint hint : entry.hints)
        hints.push_back(Outside(platform::PortHintText(hint, entry)));
    return Joined(hints, "; ");
}

// --- table ---

constexpr std::array<const char *, 9> Headings = {"COM",     "DEVICE", "PRESENT", "USB", "SERIAL",
                                                  "PRODUCT", "ACCESS", "HELD BY", "HINT"};
using Row = std::array<std::string, Headings.size()>;

Row TableRow(const PortEntry &entry) {
    const auto &usb = entry.facts.usb;
    const std::string product =
        usb ? (usb->product.empty() ? usb->manufacturer : usb->product) : std::string();
    return {OrDash(ComText(entry)),
            Outside(entry.device),
            PresenceText(entry.presence),
            OrDash(UsbIdText(entry)),
            OrDash(usb ? Outside(usb->serial) : std::string()),
            OrDash(Outside(product)),
            OrDash(AccessText(entry)),
            OrDash(HoldersText(entry)),
            HintText(entry)};
}

void PrintTable(const std::vector<PortEntry> &entries) {
    std::vector<Row> rows;
    Row heading;
    std::copy(Headings.begin(), Headings.end(), heading.begin());
    rows.push_back(heading);
    for (const PortEntry &entry : entries) rows.push_back(TableRow(entry));
    std::array<size_t, Headings.size()> widths{};
    for (const Row &row : rows)
        for (size_t column = 0; column < row.size(); ++column)
            widths[column] = std::max(widths[column], row[column].size());
    for (const Row &row : rows) {
        std::string line;
        for (size_t column = 0; column < row.size(); ++column) {
            line += row[column];
            // The last column is not padded, so lines carry no trailing blanks.
            if (column + 1 < row.size())
                line += std::string(widths[column] - row[column].size() + 2, ' ');
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        std::cout << line << '\n';
    }
}

// --- JSON lines ---

// Outside text goes into JSON as it came, control characters as JSON escapes.
std::string OutsideJson(std::string_view text) { return JsonQuoted(text); }

std::string JsonUsb(const PortEntry &entry) {
    if (!entry.facts.usb) return "null";
    const platform::UsbIdentity &usb = *entry.facts.usb;
    return "{\"vendorId\":" + OutsideJson(usb.vendorId) +
           ",\"productId\":" + OutsideJson(usb.productId) +
           ",\"serial\":" + OutsideJson(usb.serial) + ",\"product\":" + OutsideJson(usb.product) +
           ",\"manufacturer\":" + OutsideJson(usb.manufacturer) + "}";
}

std::string JsonAccess(const PortEntry &entry) {
    if (!entry.access) return "null";
    return std::string("{\"ok\":") + (entry.access->mayOpen ? "true" : "false") +
           ",\"group\":" + OutsideJson(entry.access->group) +
           ",\"inGroup\":" + (entry.access->inGroup ? "true" : "false") + "}";
}

std::string JsonHolders(const PortEntry &entry) {
    std::vector<std::string> holders;
    for (const platform::PortHolder &holder : entry.holders)
        holders.push_back("{\"pid\":" + std::to_string(holder.pid) +
                          ",\"command\":" + OutsideJson(holder.command) + "}");
    return "[" + Joined(holders, ",") + "]";
}

// Whether the device exists; null where only the remote end could tell.
const char *JsonPresence(platform::PortPresence presence) {
    if (presence == platform::PortPresence::Remote) return "null";
    return presence == platform::PortPresence::Present ? "true" : "false";
}

std::string JsonLine(const PortEntry &entry) {
    std::vector<std::string> comPorts;
    for (int comPort : entry.comPorts) comPorts.push_back(std::to_string(comPort));
    return "{\"com\":[" + Joined(comPorts, ",") + "],\"device\":" + OutsideJson(entry.device) +
           ",\"mapped\":" + (entry.mapped ? "true" : "false") +
           ",\"present\":" + JsonPresence(entry.presence) +
           ",\"driver\":" + OutsideJson(entry.facts.driver) + ",\"usb\":" + JsonUsb(entry) +
           ",\"access\":" + JsonAccess(entry) + ",\"heldBy\":" + JsonHolders(entry) +
           ",\"hint\":" + JsonQuoted(HintText(entry)) + "}";
}

} // namespace

int RunCliPorts(const std::string &programPath, bool json) {
    std::vector<PortEntry> entries;
    try {
        LoadSettings(programPath);
        entries = platform::ListSerialPorts();
    } catch (const platform::PortInventoryError &e) {
        std::cerr << "Error: " << e.what() << "\n  " << Outside(e.Detail()) << "\n";
        return ExitFailure;
    } catch (const platform::RegistryError &e) {
        std::cerr << "Error: The serial ports could not be listed.\n  " << Outside(e.what())
                  << "\n";
        return ExitFailure;
    }
    if (entries.empty()) {
        // JSON readers get no lines at all; the sentence is for the person watching.
        (json ? std::cerr : std::cout) << "No serial ports found.\n";
        return ExitOk;
    }
    if (json) {
        for (const PortEntry &entry : entries) std::cout << JsonLine(entry) << '\n';
    } else {
        PrintTable(entries);
    }
    std::cout << std::flush;
    return std::cout ? ExitOk : ExitFailure;
}
