#include "cli/LoadSummary.h"

#include "cli/ImageProgress.h"
#include "load/FlashTable.h"
#include "platform/PrintableText.h"

#include <algorithm>
#include <cstdio>

namespace {

std::string FormatTimeAndRate(uint32_t elapsedMs, uint32_t bytes) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f s", elapsedMs / 1000.0);
    if (elapsedMs == 0) return seconds; // too quick to give a rate
    return std::string(seconds) + ", " + FormatRate(bytes * 1000.0 / elapsedMs);
}

} // namespace

std::string FormatFlashId(uint16_t flashId) { return "0x" + FlashSectionName(flashId); }

bool IsSerialRoad(const std::string &road) {
    constexpr std::string_view Serial = "serial";
    return road.size() >= Serial.size() &&
           road.compare(road.size() - Serial.size(), Serial.size(), Serial) == 0;
}

std::vector<SummaryField> SummaryFields(const LoadOutcome &outcome) {
    std::vector<SummaryField> fields;
    if (!outcome.Road.empty()) fields.push_back({"Road", platform::EscapeControls(outcome.Road)});
    if (!outcome.Target.empty())
        fields.push_back({IsSerialRoad(outcome.Road) ? "Port" : "Address",
                          platform::EscapeControls(outcome.Target)});
    if (outcome.FlashIdKnown) fields.push_back({"Flash ID", FormatFlashId(outcome.FlashId)});
    if (!outcome.FlashEntry.empty())
        fields.push_back({"Flash entry", platform::EscapeControls(outcome.FlashEntry)});
    if (outcome.BaudRate > 0) fields.push_back({"Baud", std::to_string(outcome.BaudRate)});
    fields.push_back({"Erased", outcome.Erased ? "yes" : "no"});
    fields.push_back({"Written", std::to_string(outcome.ImageBytes) + " bytes"});
    fields.push_back({"Time", FormatTimeAndRate(outcome.ElapsedMs, outcome.ImageBytes)});
    if (!outcome.Md5.empty()) fields.push_back({"MD5", platform::EscapeControls(outcome.Md5)});
    return fields;
}

std::vector<std::string> SummaryLines(const std::vector<SummaryField> &fields) {
    size_t width = 0;
    for (const SummaryField &field : fields) width = std::max(width, field.Label.size());
    std::vector<std::string> lines;
    lines.reserve(fields.size());
    for (const SummaryField &field : fields)
        lines.push_back(field.Label + ":" + std::string(width - field.Label.size() + 1, ' ') +
                        field.Value);
    return lines;
}
