// A time-stamped record of what happened on the simulated board, written as JSON when the board
// is done: {"started": "<local time>", "events": [{"t_ms": 12.345, "event": "dsr", ...}, ...]}.
// t_ms counts milliseconds on the steady clock from the transcript's creation, so the gaps the
// host left (the 500 ms reset pulse, the 100 ms DSR sample) can be read straight off it.
// Not thread-safe: the owner guards it.
#pragma once

#include "Peer.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace sim {

class TranscriptEvent {
public:
    using Value = std::variant<int64_t, bool, std::string>;

    explicit TranscriptEvent(std::string name) : name_(std::move(name)) {}

    TranscriptEvent &Add(std::string key, int64_t value);
    TranscriptEvent &Add(std::string key, bool value);
    TranscriptEvent &Add(std::string key, std::string value);
    TranscriptEvent &Add(std::string key, const char *value) {
        return Add(std::move(key), std::string(value));
    }
    // "0x" and the value in at least `digits` upper-case hexadecimal digits.
    TranscriptEvent &AddHex(std::string key, uint32_t value, int digits);

    const std::string &Name() const { return name_; }
    std::optional<int64_t> Number(const std::string &key) const;
    std::optional<std::string> Text(const std::string &key) const;
    std::optional<bool> Flag(const std::string &key) const;
    const std::vector<std::pair<std::string, Value>> &Fields() const { return fields_; }

private:
    const Value *Find(const std::string &key) const;

    std::string name_;
    std::vector<std::pair<std::string, Value>> fields_;
};

struct StampedEvent {
    SimClock::time_point when;
    TranscriptEvent event;
};

class Transcript {
public:
    Transcript();

    void Record(TranscriptEvent event, SimClock::time_point when = SimClock::now());
    const std::vector<StampedEvent> &Events() const { return events_; }
    std::string ToJson() const;
    // Replaces the file. False with a reason on failure.
    bool Save(const std::string &path, std::string *error = nullptr) const;

private:
    SimClock::time_point origin_;
    std::string started_;
    std::vector<StampedEvent> events_;
};

// The text as a JSON string literal, quotes included.
std::string JsonString(const std::string &text);

} // namespace sim
