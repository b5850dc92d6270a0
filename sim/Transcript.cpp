#include "Transcript.h"

#include "FileOutput.h"

#include "platform/Clock.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace sim {

TranscriptEvent &TranscriptEvent::Add(std::string key, int64_t value) {
    fields_.emplace_back(std::move(key), value);
    return *this;
}

TranscriptEvent &TranscriptEvent::Add(std::string key, bool value) {
    fields_.emplace_back(std::move(key), value);
    return *this;
}

TranscriptEvent &TranscriptEvent::Add(std::string key, std::string value) {
    fields_.emplace_back(std::move(key), std::move(value));
    return *this;
}

TranscriptEvent &TranscriptEvent::AddHex(std::string key, uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, unsigned(value));
    return Add(std::move(key), std::string(text));
}

const TranscriptEvent::Value *TranscriptEvent::Find(const std::string &key) const {
    for (const auto &[name, value] : fields_)
        if (name == key) return &value;
    return nullptr;
}

std::optional<int64_t> TranscriptEvent::Number(const std::string &key) const {
    const Value *value = Find(key);
    if (!value || !std::holds_alternative<int64_t>(*value)) return std::nullopt;
    return std::get<int64_t>(*value);
}

std::optional<std::string> TranscriptEvent::Text(const std::string &key) const {
    const Value *value = Find(key);
    if (!value || !std::holds_alternative<std::string>(*value)) return std::nullopt;
    return std::get<std::string>(*value);
}

std::optional<bool> TranscriptEvent::Flag(const std::string &key) const {
    const Value *value = Find(key);
    if (!value || !std::holds_alternative<bool>(*value)) return std::nullopt;
    return std::get<bool>(*value);
}

std::string JsonString(const std::string &text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20 || c >= 0x7F) {
                // Bytes from the host are not known to be UTF-8; escaping keeps the file valid
                // JSON.
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", unsigned(c));
                out += escaped;
            } else {
                out += char(c);
            }
        }
    }
    return out + "\"";
}

Transcript::Transcript() : origin_(SimClock::now()) {
    platform::SYSTEMTIME local{};
    platform::GetLocalTime(&local);
    char text[48] = ""; // room for any 16-bit fields, though a date needs 20
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u", unsigned(local.wYear),
                  unsigned(local.wMonth), unsigned(local.wDay), unsigned(local.wHour),
                  unsigned(local.wMinute), unsigned(local.wSecond));
    started_ = text;
}

void Transcript::Record(TranscriptEvent event, SimClock::time_point when) {
    events_.push_back({when, std::move(event)});
}

std::string Transcript::ToJson() const {
    std::string out = "{\n  \"started\": " + JsonString(started_) + ",\n  \"events\": [";
    const char *separator = "\n";
    for (const auto &[when, event] : events_) {
        const double ms = std::chrono::duration<double, std::milli>(when - origin_).count();
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "%.3f", ms);
        out += separator;
        out += "    {\"t_ms\": " + std::string(stamp) + ", \"event\": " + JsonString(event.Name());
        for (const auto &[key, value] : event.Fields()) {
            out += ", " + JsonString(key) + ": ";
            if (const auto *number = std::get_if<int64_t>(&value))
                out += std::to_string(*number);
            else if (const auto *flag = std::get_if<bool>(&value))
                out += *flag ? "true" : "false";
            else
                out += JsonString(std::get<std::string>(value));
        }
        out += "}";
        separator = ",\n";
    }
    out += "\n  ]\n}\n";
    return out;
}

bool Transcript::Save(const std::string &path, std::string *error) const {
    const std::string json = ToJson();
    return WriteFileBytes(path, json.data(), json.size(), error);
}

} // namespace sim
