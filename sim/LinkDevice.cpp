#include "LinkDevice.h"

#include "LoopbackListener.h"

#include "WireBytes.h"

#include "platform/Md5.h"

#include <random>

namespace sim {

namespace {

constexpr size_t ReceiveChunk = 16384;
constexpr uint8_t NoPassphrase = 0, PassphraseChallenge = 1;
constexpr uint8_t EndDownloadStart = 4;
constexpr uint8_t ExchangeAnswer = 1; // what the device says to the host's exchange request

std::array<uint8_t, 16> RandomChallenge() {
    std::random_device source;
    std::array<uint8_t, 16> challenge{};
    for (auto &byte : challenge) byte = uint8_t(source());
    return challenge;
}

std::array<uint8_t, 16> ExpectedAnswer(const std::array<uint8_t, 16> &challenge,
                                       const std::string &passphrase) {
    const platform::Md5Digest key =
        platform::Md5(reinterpret_cast<const uint8_t *>(passphrase.data()), passphrase.size());
    platform::Md5Context digest;
    digest.Update(challenge.data(), challenge.size());
    digest.Update(key.data(), key.size());
    return digest.Final();
}

} // namespace

// ---- options ----

const char *LinkFaultName(LinkFaultKind kind) {
    switch (kind) {
    case LinkFaultKind::None: return "none";
    case LinkFaultKind::Silent: return "silent";
    case LinkFaultKind::StopAcks: return "stop-acks";
    case LinkFaultKind::NakWrite: return "nak-write";
    case LinkFaultKind::Close: return "close";
    case LinkFaultKind::StopReading: return "stop-reading";
    }
    return "?";
}

std::optional<LinkFault> ParseLinkFault(std::string_view text) {
    if (text == "silent") return LinkFault{LinkFaultKind::Silent, 0};
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    const auto n = ParseDecimal(text.substr(colon + 1), 1000000);
    if (!n || *n == 0) return std::nullopt;
    const std::string_view name = text.substr(0, colon);
    for (LinkFaultKind kind : {LinkFaultKind::StopAcks, LinkFaultKind::NakWrite,
                               LinkFaultKind::Close, LinkFaultKind::StopReading})
        if (name == LinkFaultName(kind)) return LinkFault{kind, *n};
    return std::nullopt;
}

// ---- the device ----

LinkDevice::LinkDevice(LinkOptions options)
    : options_(std::move(options)), boardOptions_([&] {
          BoardOptions board = options_.board;
          board.fault = {};
          return board;
      }()),
      pilotBios_(boardOptions_, flash_, transcript_), textMessage_(options_.board.textMessage) {
    pilotBios_.Start(0);
    TranscriptEvent event("link");
    event.Add("passphrase", options_.passphrase.has_value());
    event.Add("fault", LinkFaultName(options_.fault.kind));
    if (options_.fault.n) event.Add("faultN", int64_t(options_.fault.n));
    if (options_.board.textMessage.afterWrites)
        event.Add("textAfterWrites", int64_t(options_.board.textMessage.afterWrites));
    transcript_.Record(std::move(event));
}

LinkDevice::~LinkDevice() { Stop(); }

bool LinkDevice::Start(std::string *error) {
    auto fail = [&](const std::string &why) {
        if (error) *error = why;
        listener_.Close();
        return false;
    };
    if (!wake_.Valid()) return fail("no wake descriptor");
    // A device that stops reading should fill up quickly: the smallest window the system gives.
    const int receiveBuffer = options_.fault.kind == LinkFaultKind::StopReading ? 1 : 0;
    std::string why;
    listener_ = BindLoopbackTcp(options_.port, &why, receiveBuffer);
    if (!listener_.Valid() || !ListenForHosts(listener_, &why)) return fail(why);
    port_ = listener_.LocalPort();
    stop_ = false;
    thread_ = std::thread(&LinkDevice::Run, this);
    return true;
}

void LinkDevice::Stop() {
    if (!thread_.joinable()) return;
    stop_ = true;
    wake_.Signal();
    thread_.join();
    listener_.Close();
}

void LinkDevice::Run() {
    while (!stop_) {
        platform::PollEntry fds[2] = {{listener_.Handle(), platform::PollIn, 0},
                                      {wake_.Get(), platform::PollIn, 0}};
        if (platform::Poll(fds, 2, -1) < 0) return;
        if (fds[1].revents) wake_.Drain();
        if (stop_) return;
        if (!(fds[0].revents & platform::PollIn)) continue;
        platform::Socket host = listener_.Accept();
        if (host.Valid()) Serve(host);
    }
}

void LinkDevice::Serve(platform::Socket &host) {
    Session session;
    {
        std::lock_guard lock(mutex_);
        ++connections_;
        authenticated_ = false;
        Record(TranscriptEvent("host").Add("connected", true));
    }
    changed_.notify_all();
    const std::vector<uint8_t> opening = OpenSession(session);
    if (opening.empty() || host.SendAll(opening.data(), opening.size()) == 0) {
        while (!stop_ && Pump(host, session)) {
        }
    }
    host.Shutdown(platform::ShutdownHow::Both);
    {
        std::lock_guard lock(mutex_);
        Record(TranscriptEvent("host").Add("connected", false));
    }
    changed_.notify_all();
}

std::vector<uint8_t> LinkDevice::OpenSession(Session &session) {
    std::lock_guard lock(mutex_);
    if (options_.fault.kind == LinkFaultKind::Silent) {
        Record(TranscriptEvent("fault").Add("fault", "silent"));
        return {};
    }
    Frame challenge{1, dbg::Challenge, {NoPassphrase}};
    session.passphraseAsked = options_.passphrase.has_value();
    if (session.passphraseAsked) {
        session.challenge = RandomChallenge();
        challenge.payload = {PassphraseChallenge};
        challenge.payload.insert(challenge.payload.end(), session.challenge.begin(),
                                 session.challenge.end());
    }
    Record(TranscriptEvent("challenge").Add("passphrase", session.passphraseAsked));
    return EncodeLinkFrame(challenge);
}

// Reads what the host sent, serves it and sends the replies. False when the session is over.
bool LinkDevice::Pump(platform::Socket &host, Session &session) {
    // A session that stopped reading only waits for the end.
    platform::PollEntry fds[2] = {{session.stopReading ? -1 : host.Handle(), platform::PollIn, 0},
                                  {wake_.Get(), platform::PollIn, 0}};
    if (platform::Poll(fds, 2, -1) < 0) return false;
    if (stop_ || fds[1].revents)
        return false; // Stop keeps the wake signalled until the thread is gone
    uint8_t buffer[ReceiveChunk];
    const platform::IoResult got = host.Recv(buffer, sizeof buffer);
    if (got.error != 0) return platform::IsWouldBlock(got.error);
    if (got.count == 0) return false;
    std::vector<Frame> frames;
    {
        std::lock_guard lock(mutex_);
        session.out.clear();
        session.decoder.Feed(buffer, size_t(got.count), frames);
        for (const Frame &frame : frames) {
            if (session.close) break;
            Take(frame, session);
        }
    }
    changed_.notify_all();
    if (options_.fault.kind != LinkFaultKind::Silent && !session.out.empty() &&
        host.SendAll(session.out.data(), session.out.size()) != 0)
        return false;
    return !session.close;
}

void LinkDevice::Reply(Session &session, uint8_t type, uint8_t subtype,
                       std::vector<uint8_t> payload) {
    const std::vector<uint8_t> bytes = EncodeLinkFrame(Frame{type, subtype, std::move(payload)});
    session.out.insert(session.out.end(), bytes.begin(), bytes.end());
}

void LinkDevice::Record(TranscriptEvent event) { transcript_.Record(std::move(event)); }

void LinkDevice::Take(const Frame &frame, Session &session) {
    if (frame.subtype & (sys::AckBit | sys::NakBit)) {
        Record(TranscriptEvent("ignored")
                   .Add("type", int64_t(frame.type))
                   .AddHex("subtype", frame.subtype, 2));
        return;
    }
    const uint8_t code = frame.subtype & sys::CodeMask;
    if (!session.authenticated) {
        if (frame.type == 1 && code == dbg::ChallengeAnswer)
            TakeAnswer(frame, session);
        else
            Record(TranscriptEvent("unauthenticated")
                       .Add("type", int64_t(frame.type))
                       .Add("code", int64_t(code)));
        return;
    }
    if (frame.type == 1)
        TakeDbg(frame, session);
    else
        TakeSys(frame, session);
}

void LinkDevice::TakeAnswer(const Frame &frame, Session &session) {
    std::array<uint8_t, 16> expected{};
    if (session.passphraseAsked) expected = ExpectedAnswer(session.challenge, *options_.passphrase);
    const bool right = frame.payload.size() == expected.size() &&
                       std::equal(expected.begin(), expected.end(), frame.payload.begin());
    Record(TranscriptEvent("answer").Add("ok", right));
    session.authenticated = right;
    authenticated_ = right;
    // A host that does not know the passphrase gets nothing more from this device.
    session.close = !right;
}

void LinkDevice::TakeDbg(const Frame &frame, Session &session) {
    const uint8_t code = frame.subtype & sys::CodeMask;
    const auto &p = frame.payload;
    switch (code) {
    case dbg::Exchange:
        Record(TranscriptEvent("exchange").Add("length", int64_t(p.size())));
        Reply(session, 1, uint8_t(sys::AckBit | code), {ExchangeAnswer});
        return;
    case dbg::ColdLoader: {
        // The host does not wait here, so a refusal could only be recorded.
        const bool whole = p.size() >= 2 && Le16(p, 0) == p.size() - 2;
        Record(TranscriptEvent("cold-loader")
                   .Add("length", int64_t(p.size() < 2 ? 0 : Le16(p, 0)))
                   .Add("ok", whole));
        if (whole) coldLoader_.assign(p.begin() + 2, p.end());
        return;
    }
    case dbg::PilotHeader: TakePilotHeader(frame, session); return;
    case dbg::PilotData: TakePilotData(frame, session); return;
    case dbg::EndDownload: {
        const bool start = p.size() == 1 && p[0] == EndDownloadStart;
        Record(TranscriptEvent("end-download").Add("start", start));
        Reply(session, 1, uint8_t((start ? sys::AckBit : sys::NakBit) | code));
        return;
    }
    default:
        Record(TranscriptEvent("unknown-dbg").Add("code", int64_t(code)));
        Reply(session, 1, uint8_t(sys::NakBit | code));
        return;
    }
}

void LinkDevice::TakePilotHeader(const Frame &frame, Session &session) {
    const auto &p = frame.payload;
    const uint8_t code = dbg::PilotHeader;
    if (p.size() != dbg::PilotHeaderPayload) {
        Record(TranscriptEvent("pilot-header").Add("ok", false).Add("length", int64_t(p.size())));
        Reply(session, 1, uint8_t(sys::NakBit | code));
        return;
    }
    std::array<uint8_t, 7> header{};
    std::copy(p.begin() + 6, p.begin() + 13, header.begin());
    unsigned sum = 0;
    for (size_t i = 0; i < 6; ++i) sum += header[i];
    const bool ok = uint8_t(sum) == header[6] && Le16(p, 4) == 7;
    TranscriptEvent event("pilot-header");
    event.Add("rate", int64_t(Le32(p, 0))).Add("ok", ok);
    event.AddHex("address",
                 uint32_t(header[0] | header[1] << 8 | header[2] << 16 | header[3] << 24), 5);
    event.Add("length", int64_t(header[4] | header[5] << 8));
    Record(std::move(event));
    if (ok) pilotHeader_ = header;
    Reply(session, 1, uint8_t((ok ? sys::AckBit : sys::NakBit) | code));
}

void LinkDevice::TakePilotData(const Frame &frame, Session &session) {
    const auto &p = frame.payload;
    const uint8_t code = dbg::PilotData;
    const char *problem = nullptr;
    uint32_t address = 0;
    if (!pilotHeader_) {
        problem = "no pilot header";
    } else if (p.size() < dbg::PilotDataHead + 1) {
        problem = "record too short";
    } else {
        const auto &h = *pilotHeader_;
        address = uint32_t(h[0] | h[1] << 8 | h[2] << 16 | h[3] << 24);
        const uint16_t length = Le16(p, 4);
        if (dbg::PilotDataHead + length != p.size())
            problem = "length does not match the record";
        else if (length != uint16_t(h[4] | h[5] << 8))
            problem = "length differs from the header's";
        else if (p[dbg::PilotDataHead] != 0xCC)
            problem = "no marker";
    }
    TranscriptEvent event("pilot-data");
    event.Add("length", int64_t(p.size())).Add("ok", problem == nullptr);
    if (problem) event.Add("reason", problem);
    Record(std::move(event));
    if (!problem) {
        pilotBios_.Start(address);
        textMessage_.Restart();
    }
    Reply(session, 1, uint8_t((problem ? sys::NakBit : sys::AckBit) | code));
}

void LinkDevice::TakeSys(const Frame &frame, Session &session) {
    const uint8_t code = frame.subtype & sys::CodeMask;
    bool dropReply = false;
    if (code == sys::Write) {
        ++writes_;
        const LinkFault &fault = options_.fault;
        const bool nth = fault.n == writes_;
        if (fault.kind == LinkFaultKind::Close && nth) {
            Record(TranscriptEvent("fault").Add("fault", "close").Add("n", int64_t(writes_)));
            session.close = true;
            return;
        }
        if (fault.kind == LinkFaultKind::StopReading && nth) {
            Record(
                TranscriptEvent("fault").Add("fault", "stop-reading").Add("n", int64_t(writes_)));
            session.stopReading = true;
        }
        if (fault.kind == LinkFaultKind::NakWrite && nth) {
            Record(TranscriptEvent("fault").Add("fault", "nak-write").Add("n", int64_t(writes_)));
            Reply(session, 0, uint8_t(sys::NakBit | code));
            return;
        }
        dropReply = fault.kind == LinkFaultKind::StopAcks && writes_ > fault.n;
    }
    const PilotBiosAnswer answer = pilotBios_.Handle(frame);
    if (answer.close) {
        session.close = true;
        return;
    }
    if (!answer.reply || dropReply) return;
    Reply(session, answer.reply->type, answer.reply->subtype, answer.reply->payload);
    if (const auto text = textMessage_.AfterReply(*answer.reply)) {
        Record(textMessage_.SentEvent());
        Reply(session, text->type, text->subtype, text->payload);
    }
}

// ---- views ----

bool LinkDevice::Authenticated() const {
    std::lock_guard lock(mutex_);
    return authenticated_;
}

size_t LinkDevice::Connections() const {
    std::lock_guard lock(mutex_);
    return connections_;
}

std::vector<uint8_t> LinkDevice::ColdLoader() const {
    std::lock_guard lock(mutex_);
    return coldLoader_;
}

size_t LinkDevice::WritesTaken() const {
    std::lock_guard lock(mutex_);
    return writes_;
}

std::vector<uint8_t> LinkDevice::ReadFlash(uint32_t address, size_t count) const {
    std::lock_guard lock(mutex_);
    return flash_.Read(address, count);
}

std::vector<TranscriptEvent> LinkDevice::Events() const {
    std::lock_guard lock(mutex_);
    std::vector<TranscriptEvent> events;
    for (const auto &stamped : transcript_.Events()) events.push_back(stamped.event);
    return events;
}

size_t LinkDevice::CountEvents(const std::string &name) const {
    std::lock_guard lock(mutex_);
    size_t count = 0;
    for (const auto &stamped : transcript_.Events()) count += stamped.event.Name() == name;
    return count;
}

bool LinkDevice::WaitForEvents(const std::string &name, size_t count,
                               std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
        size_t seen = 0;
        for (const auto &stamped : transcript_.Events()) seen += stamped.event.Name() == name;
        return seen >= count;
    });
}

bool LinkDevice::SaveTranscript(const std::string &path, std::string *error) const {
    std::lock_guard lock(mutex_);
    return transcript_.Save(path, error);
}

bool LinkDevice::SaveFlashWindow(const std::string &path, std::string *error) const {
    std::lock_guard lock(mutex_);
    return flash_.Save(path, FlashImage::WindowStart, FlashImage::Size, error);
}

} // namespace sim
