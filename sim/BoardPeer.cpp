#include "BoardPeer.h"

#include <algorithm>
#include <array>

namespace sim {

namespace {

const char *LineKindName(LineEventKind kind) {
    switch (kind) {
    case LineEventKind::BaudRate: return "baud";
    case LineEventKind::DataSize: return "data-size";
    case LineEventKind::Parity: return "parity";
    case LineEventKind::StopSize: return "stop-size";
    case LineEventKind::FlowControl: return "flow-control";
    case LineEventKind::Dtr: return "dtr";
    case LineEventKind::Rts: return "rts";
    case LineEventKind::Break: return "break";
    }
    return "?";
}

std::string HexBytes(const uint8_t *data, size_t count) {
    static const char Digits[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        if (i) text += ' ';
        text += Digits[data[i] >> 4];
        text += Digits[data[i] & 0x0F];
    }
    return text;
}

} // namespace

const char *BoardStateName(BoardState state) {
    switch (state) {
    case BoardState::Idle: return "idle";
    case BoardState::Reset: return "reset";
    case BoardState::Bootstrap: return "bootstrap";
    case BoardState::ColdLoading: return "cold-loading";
    case BoardState::PilotUpload: return "pilot-upload";
    case BoardState::PilotBios: return "pilot-bios";
    case BoardState::BiosRunning: return "bios-running";
    }
    return "?";
}

BoardPeer::BoardPeer(BoardOptions options)
    : options_(std::move(options)), pilotBios_(options_, flash_, transcript_),
      textMessage_(options_.textMessage),
      state_(options_.hasModemLines || options_.noProcessor ? BoardState::Idle
                                                            : BoardState::Bootstrap) {
    TranscriptEvent event("board");
    event.Add("state", BoardStateName(state_)).AddHex("flashId", options_.flashId, 4);
    event.Add("modemLines", options_.hasModemLines).Add("noProcessor", options_.noProcessor);
    event.Add("fault", BoardFaultName(options_.fault.kind));
    if (options_.fault.n) event.Add("faultN", int64_t(options_.fault.n));
    if (options_.textMessage.afterWrites)
        event.Add("textAfterWrites", int64_t(options_.textMessage.afterWrites));
    transcript_.Record(std::move(event));
}

void BoardPeer::OnAttach(HostLink &link) { link_ = &link; }

void BoardPeer::Record(TranscriptEvent event) { transcript_.Record(std::move(event)); }

void BoardPeer::Enter(BoardState state) {
    if (state == state_) return;
    state_ = state;
    Record(TranscriptEvent("state").Add("state", BoardStateName(state)));
}

bool BoardPeer::RestartsOnStartTriplet() const {
    return !options_.hasModemLines && !options_.noProcessor;
}

void BoardPeer::OnLineEvent(const LineEvent &event, const LineState &line) {
    Output out;
    {
        std::lock_guard lock(mutex_);
        hostLine_ = line;
        Record(TranscriptEvent("line")
                   .Add("what", LineKindName(event.kind))
                   .Add("value", int64_t(event.value)));
        if (event.kind == LineEventKind::BaudRate)
            garbling_ = false; // a new run of wrong-rate bytes, if any, gets its own record
        if (event.kind == LineEventKind::Dtr && !options_.noProcessor) {
            // DTR holds the processor in reset; releasing it leaves it in its bootstrap ROM.
            if (event.value)
                Enter(BoardState::Reset);
            else if (state_ == BoardState::Reset)
                BeginBootstrap("dtr pulse");
        }
    }
    Perform(out);
}

void BoardPeer::OnHostConnection(bool connected) {
    {
        std::lock_guard lock(mutex_);
        // Half a frame from the last host means nothing to the next one.
        decoder_ = FrameDecoder();
        garbling_ = false;
        closing_ = false;
        Record(TranscriptEvent("host").Add("connected", connected));
    }
    changed_.notify_all();
}

void BoardPeer::OnHostBytes(const uint8_t *data, size_t count) {
    Output out;
    {
        std::lock_guard lock(mutex_);
        for (size_t i = 0; i < count && !closing_; ++i) Take(data[i], out);
    }
    Perform(out);
}

void BoardPeer::Perform(Output &out) {
    if (link_) {
        if (!out.bytes.empty()) link_->SendToHost(out.bytes.data(), out.bytes.size());
        if (out.dsr) {
            const uint8_t lines = link_->ModemLines();
            link_->SetModemLines(*out.dsr ? uint8_t(lines | ModemDsr) : uint8_t(lines & ~ModemDsr));
        }
        if (out.disconnect) link_->Disconnect();
    }
    changed_.notify_all();
}

void BoardPeer::Take(uint8_t byte, Output &out) {
    switch (state_) {
    case BoardState::Idle:
    case BoardState::Reset: break; // nothing on the board listens
    case BoardState::Bootstrap:
    case BoardState::BiosRunning: TakeWaiting(byte); break;
    case BoardState::ColdLoading: TakeColdLoad(byte, out); break;
    case BoardState::PilotUpload: TakePilotUpload(byte, out); break;
    case BoardState::PilotBios: TakePacketByte(byte, out); break;
    }
}

void BoardPeer::BeginBootstrap(const char *why) {
    scanner_.Reset();
    triplets_.Reset();
    upload_.Reset();
    decoder_ = FrameDecoder();
    boardRate_ = 0;
    dsrToggledThisLoad_ = false;
    dataTriplets_ = 0;
    state_ = BoardState::Bootstrap;
    Record(TranscriptEvent("state").Add("state", BoardStateName(state_)).Add("why", why));
}

void BoardPeer::TakeWaiting(uint8_t byte) {
    // A running BIOS only hears a start triplet where no DTR line can reset the board.
    if (state_ == BoardState::BiosRunning && !RestartsOnStartTriplet()) return;
    if (!scanner_.Take(byte)) return;
    if (state_ == BoardState::BiosRunning) BeginBootstrap("start triplet");
    Record(TranscriptEvent("triplet").Add("kind", "start"));
    triplets_.Reset();
    Enter(BoardState::ColdLoading);
}

void BoardPeer::ToggleDsr(const char *why, Output &out) {
    dsr_ = !dsr_;
    dsrToggledThisLoad_ = true;
    out.dsr = dsr_;
    Record(TranscriptEvent("dsr").Add("on", dsr_).Add("why", why));
}

void BoardPeer::TakeColdLoad(uint8_t byte, Output &out) {
    const auto triplet = triplets_.Take(byte);
    if (!triplet) return;
    switch (triplet->Kind()) {
    case TripletKind::Data:
        ram_.Store(*triplet);
        ++dataTriplets_;
        break;
    case TripletKind::Start:
        Record(TranscriptEvent("triplet").Add("kind", "start").Add("restart", true));
        dataTriplets_ = 0;
        break;
    case TripletKind::AboutToEnd:
        Record(TranscriptEvent("triplet")
                   .Add("kind", "about-to-end")
                   .Add("dataTriplets", int64_t(dataTriplets_)));
        if (!dsrToggledThisLoad_) ToggleDsr("cold loader about to end", out);
        break;
    case TripletKind::End:
        Record(TranscriptEvent("triplet")
                   .Add("kind", "end")
                   .Add("dataTriplets", int64_t(dataTriplets_)));
        // A restart with the end triplet alone still shows the host a processor.
        if (!dsrToggledThisLoad_) ToggleDsr("cold loader started", out);
        upload_.Reset();
        Enter(BoardState::PilotUpload);
        break;
    case TripletKind::UnknownControl:
        Record(TranscriptEvent("triplet")
                   .Add("kind", "unknown")
                   .Add("bytes", HexBytes(triplet->bytes.data(), 3)));
        break;
    }
}

void BoardPeer::TakePilotUpload(uint8_t byte, Output &out) {
    const PilotUpload::Step step = upload_.Take(byte);
    const PilotHeader &header = upload_.Header();
    switch (step) {
    case PilotUpload::Step::Busy: {
        const auto &partial = upload_.PartialHeader();
        if (RestartsOnStartTriplet() && partial.size() == StartTriplet.size() &&
            std::equal(partial.begin(), partial.end(), StartTriplet.begin())) {
            BeginBootstrap("start triplet");
            Record(TranscriptEvent("triplet").Add("kind", "start"));
            Enter(BoardState::ColdLoading);
        }
        break;
    }
    case PilotUpload::Step::HeaderTaken:
    case PilotUpload::Step::HeaderRefused: {
        const bool taken = step == PilotUpload::Step::HeaderTaken;
        TranscriptEvent event("pilot-header");
        event.AddHex("address", header.address, 5).Add("length", int64_t(header.length));
        event.AddHex("checksum", header.checksum, 2).AddHex("computed", header.computed, 2);
        event.AddHex("echo", upload_.Echo(), 2).Add("ok", taken);
        Record(std::move(event));
        Send({upload_.Echo()}, out);
        break;
    }
    case PilotUpload::Step::MarkerMissing:
        Record(TranscriptEvent("pilot-marker-missing").AddHex("byte", byte, 2));
        break;
    case PilotUpload::Step::Done: {
        const uint16_t checksum = upload_.Checksum();
        Record(TranscriptEvent("pilot-upload")
                   .Add("payload", int64_t(header.length - 1))
                   .AddHex("checksum", checksum, 4));
        Send({uint8_t(checksum), uint8_t(checksum >> 8)}, out);
        // The pilot BIOS keeps the rate its upload came at until the host negotiates another.
        boardRate_ = hostLine_.baudRate;
        pilotBios_.Start(header.address);
        textMessage_.Restart();
        decoder_ = FrameDecoder();
        garbling_ = false;
        Enter(BoardState::PilotBios);
        Record(TranscriptEvent("board-rate").Add("rate", int64_t(boardRate_)));
        break;
    }
    }
}

void BoardPeer::TakePacketByte(uint8_t byte, Output &out) {
    if (hostLine_.baudRate != boardRate_) {
        if (!garbling_) {
            garbling_ = true;
            decoder_ = FrameDecoder(); // whatever frame these bytes cut into is lost with them
            Record(TranscriptEvent("garbled-input")
                       .Add("hostRate", int64_t(hostLine_.baudRate))
                       .Add("boardRate", int64_t(boardRate_)));
        }
        return;
    }
    garbling_ = false;
    std::vector<Frame> frames;
    const size_t badBefore = decoder_.BadFrames();
    decoder_.Feed(&byte, 1, frames);
    if (decoder_.BadFrames() != badBefore)
        Record(
            TranscriptEvent("bad-frame").Add("count", int64_t(decoder_.BadFrames() - badBefore)));
    for (const Frame &frame : frames) {
        if (state_ != BoardState::PilotBios || closing_) break;
        Serve(frame, out);
    }
}

void BoardPeer::Serve(const Frame &request, Output &out) {
    const PilotBiosAnswer answer = pilotBios_.Handle(request);
    if (answer.close) {
        out.disconnect = true;
        closing_ = true;
        return;
    }
    if (answer.reply) {
        std::vector<uint8_t> built = BuildFrame(*answer.reply);
        if (answer.corruptChecksum) built[built.size() - 2] ^= 0x01;
        Send(StuffFrame(built), out);
        // A broken acknowledgement is none to the host: it writes again and the board counts that.
        if (!answer.corruptChecksum)
            if (const auto text = textMessage_.AfterReply(*answer.reply)) {
                Record(textMessage_.SentEvent());
                Send(EncodeFrame(*text), out);
            }
    }
    if (answer.switchRate) {
        // The acknowledgement went out at the old rate; everything after it runs at the new one.
        boardRate_ = *answer.switchRate;
        Record(TranscriptEvent("board-rate").Add("rate", int64_t(boardRate_)));
    }
    if (answer.biosStarted) {
        scanner_.Reset();
        Enter(BoardState::BiosRunning);
    }
}

void BoardPeer::Send(const std::vector<uint8_t> &bytes, Output &out) {
    if (options_.fault.kind == BoardFaultKind::Silent) {
        Record(TranscriptEvent("fault")
                   .Add("fault", BoardFaultName(BoardFaultKind::Silent))
                   .Add("withheld", int64_t(bytes.size())));
        return;
    }
    out.bytes.insert(out.bytes.end(), bytes.begin(), bytes.end());
}

BoardState BoardPeer::State() const {
    std::lock_guard lock(mutex_);
    return state_;
}

bool BoardPeer::DsrOn() const {
    std::lock_guard lock(mutex_);
    return dsr_;
}

uint32_t BoardPeer::BoardRate() const {
    std::lock_guard lock(mutex_);
    return boardRate_;
}

std::vector<uint8_t> BoardPeer::ReadFlash(uint32_t address, size_t count) const {
    std::lock_guard lock(mutex_);
    return flash_.Read(address, count);
}

std::vector<uint8_t> BoardPeer::ReadRam(uint16_t address, size_t count) const {
    std::lock_guard lock(mutex_);
    return ram_.Read(address, count);
}

std::optional<FlashGeometry> BoardPeer::Geometry() const {
    std::lock_guard lock(mutex_);
    return pilotBios_.Geometry();
}

std::optional<uint8_t> BoardPeer::StartedBios() const {
    std::lock_guard lock(mutex_);
    return pilotBios_.StartedBios();
}

std::vector<TranscriptEvent> BoardPeer::Events() const {
    std::lock_guard lock(mutex_);
    std::vector<TranscriptEvent> events;
    for (const auto &stamped : transcript_.Events()) events.push_back(stamped.event);
    return events;
}

size_t BoardPeer::CountEventsLocked(const std::string &name) const {
    const auto &events = transcript_.Events();
    return size_t(std::count_if(events.begin(), events.end(),
                                [&](const StampedEvent &e) { return e.event.Name() == name; }));
}

size_t BoardPeer::CountEvents(const std::string &name) const {
    std::lock_guard lock(mutex_);
    return CountEventsLocked(name);
}

bool BoardPeer::WaitForEvents(const std::string &name, size_t count,
                              std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return CountEventsLocked(name) >= count; });
}

bool BoardPeer::WaitForState(BoardState state, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return state_ == state; });
}

bool BoardPeer::SaveTranscript(const std::string &path, std::string *error) const {
    std::lock_guard lock(mutex_);
    return transcript_.Save(path, error);
}

bool BoardPeer::SaveFlashWindow(const std::string &path, std::string *error) const {
    std::lock_guard lock(mutex_);
    return flash_.Save(path, FlashImage::WindowStart, FlashImage::Size, error);
}

} // namespace sim
