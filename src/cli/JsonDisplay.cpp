#include "cli/JsonDisplay.h"

#include "cli/LoadSummary.h"

#include <cerrno>
#include <cstring>

namespace {

void AddTextOrNull(JsonObjectText &object, std::string_view key, const std::string &text) {
    if (text.empty())
        object.AddNull(key);
    else
        object.Add(key, text);
}

// The outcome's fields beyond code, message and detail; null where the road has no such thing
// or the load did not get far enough to learn it, so that every result line has every key.
void AddOutcomeFields(JsonObjectText &object, const LoadOutcome &outcome) {
    AddTextOrNull(object, "road", outcome.Road);
    AddTextOrNull(object, "target", outcome.Target);
    AddTextOrNull(object, "flash_id", outcome.FlashIdKnown ? FormatFlashId(outcome.FlashId) : "");
    AddTextOrNull(object, "flash_entry", outcome.FlashEntry);
    if (outcome.BaudRate > 0)
        object.AddNumber("baud", outcome.BaudRate);
    else
        object.AddNull("baud");
    object.AddFlag("erased", outcome.Erased);
    object.AddNumber("image_bytes", outcome.ImageBytes);
    object.AddNumber("elapsed_ms", outcome.ElapsedMs);
    AddTextOrNull(object, "md5", outcome.Md5);
}

} // namespace

JsonDisplay::JsonDisplay(platform::HWND window, std::FILE *out, std::FILE *errors, CliClock clock)
    : window_(window), out_(out), errors_(errors), clock_(std::move(clock)) {}

void JsonDisplay::Emit(const JsonObjectText &object) {
    const std::string line = object.Text() + "\n";
    if (std::fputs(line.c_str(), out_) != EOF && std::fflush(out_) == 0) return;
    // The reader has gone or the disk is full: said once, where it can still be read; the load
    // itself goes on and its exit status still tells how it ended.
    if (writeFailed_) return;
    writeFailed_ = true;
    std::fprintf(errors_, "tarnwick-cli: the JSON lines cannot be written: %s\n",
                 std::strerror(errno));
}

void JsonDisplay::EmitProgress() {
    events_.Passed(clock_());
    sentBytes_ = progress_.Bytes();
    Emit(JsonObjectText()
             .Add("event", "progress")
             .AddNumber("bytes", progress_.Bytes())
             .AddNumber("total", progress_.Total()));
}

void JsonDisplay::SetStage(const std::string &text) {
    Emit(JsonObjectText().Add("event", "stage").Add("text", text));
}

void JsonDisplay::BeginImage(uint32_t imageBytes) {
    progress_.Begin(imageBytes, clock_());
    EmitProgress(); // tells the reader the image's size before the first chunk has gone
}

void JsonDisplay::StepProgress(uint32_t step) {
    progress_.Step(step);
    if (!progress_.Started() || progress_.Bytes() == sentBytes_) return;
    if (progress_.Complete() || events_.Due(clock_())) EmitProgress();
}

void JsonDisplay::ShowMessage(const std::string &caption, const std::string &text) {
    Emit(JsonObjectText().Add("event", "message").Add("caption", caption).Add("text", text));
}

void JsonDisplay::ShowFailure(const std::string &message, const std::string &detail) {
    failureMessage_ = message;
    failureDetail_ = detail;
}

void JsonDisplay::ShowOutcome(const LoadOutcome &outcome) {
    // Where the image stopped, when a failure cut it short between two progress events.
    if (progress_.Started() && progress_.Bytes() != sentBytes_) EmitProgress();
    JsonObjectText result;
    result.Add("event", "result").AddNumber("code", outcome.Code);
    AddTextOrNull(result, "message", outcome.Message.empty() ? failureMessage_ : outcome.Message);
    AddTextOrNull(result, "detail", outcome.Detail.empty() ? failureDetail_ : outcome.Detail);
    AddOutcomeFields(result, outcome);
    Emit(result);
}
