#include "OsBoard.h"

#include "BoardPilotBios.h"
#include "WireBytes.h"

#include <algorithm>

namespace sim {

OsBoard::OsBoard(OsBoardOptions options) : options_(options) {
    TranscriptEvent event("os");
    event.Add("answersProbe", options_.answersProbe);
    if (options_.closeAtWrite) event.Add("closeAtWrite", int64_t(options_.closeAtWrite));
    transcript_.Record(std::move(event));
}

void OsBoard::Record(TranscriptEvent event) {
    {
        std::lock_guard lock(mutex_);
        transcript_.Record(std::move(event));
    }
    changed_.notify_all();
}

void OsBoard::RecordAppGo(unsigned session) {
    {
        std::lock_guard lock(mutex_);
        ++appGo_;
        transcript_.Record(TranscriptEvent("app-go")
                               .Add("session", int64_t(session))
                               .Add("writesStored", int64_t(writesStored_))
                               .Add("bytesStored", int64_t(memory_.BytesStored())));
    }
    changed_.notify_all();
}

OsAnswer OsBoard::Serve(const Frame &request) {
    OsAnswer answer;
    {
        std::lock_guard lock(mutex_);
        answer = ServeLocked(request);
    }
    changed_.notify_all();
    return answer;
}

std::vector<uint8_t> OsBoard::TakeStream(FrameDecoder &decoder, const uint8_t *data, size_t count,
                                         bool &close) {
    std::vector<Frame> frames;
    const size_t badBefore = decoder.BadFrames();
    decoder.Feed(data, count, frames);
    std::vector<uint8_t> out;
    {
        std::lock_guard lock(mutex_);
        if (decoder.BadFrames() != badBefore)
            transcript_.Record(TranscriptEvent("bad-frame")
                                   .Add("count", int64_t(decoder.BadFrames() - badBefore)));
        for (const Frame &frame : frames) {
            const OsAnswer answer = ServeLocked(frame);
            if (answer.close) {
                close = true;
                break;
            }
            if (answer.reply) {
                const std::vector<uint8_t> bytes = EncodeFrame(*answer.reply);
                out.insert(out.end(), bytes.begin(), bytes.end());
            }
        }
    }
    changed_.notify_all();
    return out;
}

OsAnswer OsBoard::ServeLocked(const Frame &request) {
    const uint8_t code = request.subtype & sys::CodeMask;
    TranscriptEvent event("request");
    event.Add("type", int64_t(request.type)).Add("code", int64_t(code));
    event.Add("length", int64_t(request.payload.size()));
    OsAnswer answer;
    if (request.subtype & (sys::AckBit | sys::NakBit)) {
        event.Add("ignored", "reply bits set");
        transcript_.Record(std::move(event));
        return answer;
    }
    Verdict verdict = "unknown request";
    if (request.type == 0) {
        switch (code) {
        case sys::Probe:
            event.Add("name", "probe");
            if (!options_.answersProbe) {
                event.Add("unanswered", true);
                transcript_.Record(std::move(event));
                return answer;
            }
            ++probesAnswered_;
            verdict = std::nullopt;
            break;
        case sys::Write:
            event.Add("name", "write");
            if (options_.closeAtWrite && ++writesSeen_ == options_.closeAtWrite) {
                transcript_.Record(std::move(event));
                transcript_.Record(
                    TranscriptEvent("fault").Add("fault", "close").Add("n", int64_t(writesSeen_)));
                answer.close = true;
                return answer;
            }
            verdict = Write(request, event);
            break;
        case sys::RunProgram:
            event.Add("name", "run");
            ++runRequests_;
            event.Add("bytesStored", int64_t(memory_.BytesStored()));
            verdict = std::nullopt;
            break;
        default: break;
        }
    }
    if (verdict) event.Add("refused", *verdict);
    transcript_.Record(std::move(event));
    answer.reply = Frame{request.type, uint8_t(code | (verdict ? sys::NakBit : sys::AckBit)), {}};
    return answer;
}

OsBoard::Verdict OsBoard::Write(const Frame &request, TranscriptEvent &event) {
    const auto write = WriteRequest::Read(request.payload);
    if (!write) return "payload shorter than its header";
    event.AddHex("address", write->address, 8).Add("count", int64_t(write->count));
    if (write->mode != 0) return "address mode is not physical";
    if (!write->LengthMatches(request.payload)) return "length does not match the payload";
    if (!memory_.Write(write->address, write->data, write->count)) return "no room in memory";
    ++writesStored_;
    return std::nullopt;
}

std::vector<uint8_t> OsBoard::ReadMemory(uint32_t address, size_t count) const {
    std::lock_guard lock(mutex_);
    return memory_.Read(address, count);
}

std::map<uint32_t, std::vector<uint8_t>> OsBoard::MemoryRuns() const {
    std::lock_guard lock(mutex_);
    return memory_.Runs();
}

size_t OsBoard::WritesStored() const {
    std::lock_guard lock(mutex_);
    return writesStored_;
}

size_t OsBoard::ProbesAnswered() const {
    std::lock_guard lock(mutex_);
    return probesAnswered_;
}

size_t OsBoard::RunRequests() const {
    std::lock_guard lock(mutex_);
    return runRequests_;
}

size_t OsBoard::AppGoCount() const {
    std::lock_guard lock(mutex_);
    return appGo_;
}

std::vector<TranscriptEvent> OsBoard::Events() const {
    std::lock_guard lock(mutex_);
    std::vector<TranscriptEvent> events;
    for (const auto &stamped : transcript_.Events()) events.push_back(stamped.event);
    return events;
}

size_t OsBoard::CountLocked(const std::string &name) const {
    const auto &events = transcript_.Events();
    return size_t(std::count_if(events.begin(), events.end(),
                                [&](const StampedEvent &e) { return e.event.Name() == name; }));
}

size_t OsBoard::CountEvents(const std::string &name) const {
    std::lock_guard lock(mutex_);
    return CountLocked(name);
}

bool OsBoard::WaitForEvents(const std::string &name, size_t count,
                            std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return CountLocked(name) >= count; });
}

bool OsBoard::SaveTranscript(const std::string &path, std::string *error) const {
    std::lock_guard lock(mutex_);
    return transcript_.Save(path, error);
}

bool OsBoard::SaveMemory(const std::string &path, std::string *error) const {
    std::lock_guard lock(mutex_);
    return memory_.Save(path, error);
}

} // namespace sim
