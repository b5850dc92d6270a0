#include "BoardPilotBios.h"

#include "WireBytes.h"

#include <algorithm>
#include <array>

namespace sim {

const char *SysCodeName(uint8_t code) {
    static constexpr std::array<const char *, 11> Names{
        "NAK",         "NOOP",       "READ",     "WRITE",      "INFOPROBE", "STARTBIOS",
        "SETBAUDRATE", "SETOPTIONS", "RELOCATE", "ERASEFLASH", "FLASHDATA"};
    return code < Names.size() ? Names[code] : "";
}

PilotBiosService::PilotBiosService(const BoardOptions &options, FlashImage &flash,
                                   Transcript &transcript)
    : options_(options), flash_(flash), transcript_(transcript) {}

void PilotBiosService::Start(uint32_t pilotAddress) {
    pilotAddress_ = pilotAddress;
    requests_ = replies_ = writes_ = 0;
    geometry_.reset();
    startedBios_.reset();
}

void PilotBiosService::RecordFault(BoardFaultKind kind, unsigned n) {
    TranscriptEvent event("fault");
    event.Add("fault", BoardFaultName(kind));
    if (n) event.Add("n", int64_t(n));
    transcript_.Record(std::move(event));
}

PilotBiosAnswer PilotBiosService::Handle(const Frame &request) {
    const uint8_t code = request.subtype & sys::CodeMask;
    TranscriptEvent event("request");
    event.Add("type", int64_t(request.type))
        .Add("code", int64_t(code))
        .Add("name", SysCodeName(code));
    event.Add("length", int64_t(request.payload.size()));
    PilotBiosAnswer answer;
    if (request.subtype & (sys::AckBit | sys::NakBit)) {
        // The host does not answer our packets; a reply from it means nothing here.
        event.Add("ignored", "reply bits set");
        transcript_.Record(std::move(event));
        return answer;
    }
    ++requests_;
    const BoardFault &fault = options_.fault;
    if (fault.kind == BoardFaultKind::Silent || fault.kind == BoardFaultKind::SilentAfterPilot) {
        transcript_.Record(std::move(event));
        RecordFault(fault.kind, 0);
        return answer; // a pilot BIOS that has hung does nothing at all
    }
    if (fault.kind == BoardFaultKind::Close && fault.n == requests_) {
        transcript_.Record(std::move(event));
        RecordFault(fault.kind, fault.n);
        answer.close = true;
        return answer;
    }
    std::vector<uint8_t> payload;
    Verdict verdict = "unknown request";
    if (request.type == 0) {
        switch (code) {
        case sys::Noop: verdict = std::nullopt; break;
        case sys::InfoProbe: verdict = InfoProbe(request, payload, event); break;
        case sys::SetBaudRate: verdict = SetBaudRate(request, answer, event); break;
        case sys::FlashData: verdict = FlashData(request, event); break;
        case sys::EraseFlash: verdict = EraseFlash(request, event); break;
        case sys::Write: verdict = Write(request, event); break;
        case sys::StartBios:
            StartBios(request, answer, event);
            transcript_.Record(std::move(event));
            return answer; // the host does not wait for this one
        default: break;
        }
    }
    transcript_.Record(std::move(event));
    Reply(request, verdict, std::move(payload), answer);
    return answer;
}

void PilotBiosService::Reply(const Frame &request, const Verdict &verdict,
                             std::vector<uint8_t> payload, PilotBiosAnswer &answer) {
    const uint8_t code = request.subtype & sys::CodeMask;
    const uint8_t subtype = uint8_t(code | (verdict ? sys::NakBit : sys::AckBit));
    TranscriptEvent event("reply");
    event.Add("type", int64_t(request.type)).AddHex("subtype", subtype, 2).Add("ack", !verdict);
    event.Add("length", int64_t(payload.size()));
    if (verdict) event.Add("reason", *verdict);
    ++replies_;
    const BoardFault &fault = options_.fault;
    const bool faultNow = fault.n == replies_;
    if (faultNow && fault.kind == BoardFaultKind::DropReply) {
        event.Add("dropped", true);
        transcript_.Record(std::move(event));
        RecordFault(fault.kind, fault.n);
        answer.switchRate.reset(); // the rate changes only with an answer the host has seen
        return;
    }
    answer.corruptChecksum = faultNow && fault.kind == BoardFaultKind::CorruptReply;
    transcript_.Record(std::move(event));
    if (answer.corruptChecksum) RecordFault(fault.kind, fault.n);
    answer.reply = Frame{request.type, subtype, std::move(payload)};
}

PilotBiosService::Verdict PilotBiosService::InfoProbe(const Frame &, std::vector<uint8_t> &payload,
                                                      TranscriptEvent &event) {
    payload = BuildInfoReply({pilotAddress_, options_.flashId, options_.productId});
    event.AddHex("flashId", options_.flashId, 4);
    return std::nullopt;
}

PilotBiosService::Verdict PilotBiosService::SetBaudRate(const Frame &request,
                                                        PilotBiosAnswer &answer,
                                                        TranscriptEvent &event) {
    if (request.payload.size() != 4) return "payload is not 4 bytes";
    const uint32_t rate = Le32(request.payload, 0);
    event.Add("rate", int64_t(rate));
    const auto &rates = options_.baudRates;
    if (std::find(rates.begin(), rates.end(), rate) == rates.end()) return "rate not supported";
    answer.switchRate = rate;
    return std::nullopt;
}

PilotBiosService::Verdict PilotBiosService::FlashData(const Frame &request,
                                                      TranscriptEvent &event) {
    if (request.payload.size() != 8) return "payload is not 8 bytes";
    const FlashGeometry geometry{Le16(request.payload, 0), Le16(request.payload, 2),
                                 Le16(request.payload, 4), Le16(request.payload, 6)};
    event.Add("sectorSize", int64_t(geometry.sectorSize)).Add("sectors", int64_t(geometry.sectors));
    event.Add("flashSize", int64_t(geometry.flashSize))
        .Add("writeMode", int64_t(geometry.writeMode));
    geometry_ = geometry;
    return std::nullopt;
}

PilotBiosService::Verdict PilotBiosService::EraseFlash(const Frame &request,
                                                       TranscriptEvent &event) {
    if (request.payload.size() != 4) return "payload is not 4 bytes";
    const uint32_t end = Le32(request.payload, 0);
    // The value is where the image ends; the flash is erased from the window's start up to it,
    // and no further than the flash goes.
    const uint32_t erased = flash_.Erase(FlashImage::WindowStart, end);
    event.AddHex("end", end, 5).Add("erased", int64_t(erased));
    return std::nullopt;
}

PilotBiosService::Verdict PilotBiosService::Write(const Frame &request, TranscriptEvent &event) {
    ++writes_;
    const auto write = WriteRequest::Read(request.payload);
    if (!write) return "payload shorter than its header";
    const uint16_t count = write->count;
    const uint32_t address = write->address;
    event.AddHex("address", address, 5).Add("count", int64_t(count));
    if (write->mode != 0) return "address mode is not physical";
    if (!write->LengthMatches(request.payload)) return "length does not match the payload";
    if (uint64_t(address) + count > FlashImage::Size) return "beyond the end of the flash";
    const BoardFault &fault = options_.fault;
    if (fault.kind == BoardFaultKind::NakWrite && fault.n == writes_) {
        RecordFault(fault.kind, fault.n);
        return "refused on request";
    }
    flash_.Write(address, write->data, count);
    return std::nullopt;
}

void PilotBiosService::StartBios(const Frame &request, PilotBiosAnswer &answer,
                                 TranscriptEvent &event) {
    if (request.payload.size() != 1) {
        event.Add("ignored", "payload is not 1 byte");
        return;
    }
    startedBios_ = request.payload[0];
    event.Add("where", int64_t(request.payload[0]));
    answer.biosStarted = true;
}

} // namespace sim
