// The board's text message: when the simulated board and the simulated network device send it,
// what its packet carries, and how --text-after-writes is taken on their command lines.
#include "BoardCommand.h"
#include "BoardSupport.h"
#include "BoardTextMessage.h"
#include "LinkCommand.h"
#include "LinkDevice.h"
#include "LinkFrameCodec.h"

#include "platform/Socket.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

using namespace boardtest;

constexpr uint8_t Sys = 0, Dbg = 1;

// A pilot BIOS that takes requests and hands back every frame it sent, in order.
class PilotSide {
public:
    virtual ~PilotSide() = default;
    // Sends the requests in order, then a NOOP, and returns every frame that came back up to the
    // NOOP's acknowledgement (which is left out): anything sent on its own shows up in between.
    virtual std::vector<sim::Frame> Exchange(const std::vector<sim::Frame> &requests) = 0;
    // A new pilot BIOS, as at the start of the next load.
    virtual void NewPilot() = 0;
};

bool IsNoopAck(const sim::Frame &frame) {
    return frame.type == Sys && frame.subtype == (sim::sys::AckBit | sim::sys::Noop);
}

class BoardSide final : public PilotSide {
public:
    explicit BoardSide(const sim::BoardTextMessage &message) : board_(WithMessage(message)) {
        board_.BootToPilot();
    }
    std::vector<sim::Frame> Exchange(const std::vector<sim::Frame> &requests) override {
        std::vector<sim::Frame> frames;
        for (const sim::Frame &request : requests) {
            const auto answered = board_.Request(request.type, request.subtype, request.payload);
            frames.insert(frames.end(), answered.begin(), answered.end());
        }
        auto last = board_.Request(Sys, sim::sys::Noop);
        EXPECT_TRUE(last.size() == 1 && IsNoopAck(last[0]));
        return frames;
    }
    void NewPilot() override { board_.BootToPilot(); }

private:
    static sim::BoardOptions WithMessage(const sim::BoardTextMessage &message) {
        sim::BoardOptions options;
        options.textMessage = message;
        return options;
    }
    DirectBoard board_;
};

// The device on loopback, spoken to in its own framing by a plain TCP client.
class LinkSide final : public PilotSide {
public:
    explicit LinkSide(const sim::BoardTextMessage &message)
        : device_([&] {
              sim::LinkOptions options;
              options.board.textMessage = message;
              return options;
          }()),
          socket_(platform::Socket::Tcp()) {
        std::string why;
        started_ = device_.Start(&why);
        EXPECT_TRUE(started_) << why;
        if (!started_ || socket_.Connect(platform::Ipv4Loopback(), device_.Port()) != 0) {
            ADD_FAILURE() << "no connection to the device";
            return;
        }
        // Without a passphrase the challenge is answered with 16 zero bytes.
        const auto challenge = ReadUntil([](const sim::Frame &f) { return f.type == Dbg; });
        EXPECT_FALSE(challenge.empty()) << "no challenge";
        Send({Dbg, sim::dbg::ChallengeAnswer, Bytes(16, 0)});
    }
    std::vector<sim::Frame> Exchange(const std::vector<sim::Frame> &requests) override {
        for (const sim::Frame &request : requests) Send(request);
        Send({Sys, sim::sys::Noop, {}});
        auto frames = ReadUntil(IsNoopAck);
        if (frames.empty() || !IsNoopAck(frames.back())) {
            ADD_FAILURE() << "the NOOP was not answered";
            return frames;
        }
        frames.pop_back();
        return frames;
    }
    void NewPilot() override {
        // Pilot BIOS at 0x4000 of one byte, the marker: header record, then the data record.
        Bytes header{0x00, 0xC2, 0x01, 0x00, 7, 0, 0x00, 0x40, 0x00, 0x00, 1, 0, 0x41, 0};
        Send({Dbg, sim::dbg::PilotHeader, header});
        Send({Dbg, sim::dbg::PilotData, {0x00, 0xC2, 0x01, 0x00, 1, 0, 0xCC}});
        const auto replies = ReadUntil([](const sim::Frame &f) {
            return f.type == Dbg && (f.subtype & sim::sys::CodeMask) == sim::dbg::PilotData;
        });
        EXPECT_TRUE(!replies.empty() && (replies.back().subtype & sim::sys::AckBit) != 0);
    }

private:
    void Send(const sim::Frame &frame) {
        const Bytes bytes = sim::EncodeLinkFrame(frame);
        EXPECT_EQ(socket_.SendAll(bytes.data(), bytes.size()), 0);
    }
    // Frames until one that last() accepts, which is the final one; stops early (with what came)
    // when the device closes, says nothing for three seconds or sends far more than asked for.
    std::vector<sim::Frame> ReadUntil(const std::function<bool(const sim::Frame &)> &last) {
        std::vector<sim::Frame> frames;
        while (started_ && frames.size() < 64 && (frames.empty() || !last(frames.back()))) {
            if (!pending_.empty()) {
                frames.push_back(pending_.front());
                pending_.erase(pending_.begin());
                continue;
            }
            if (socket_.WaitReadable(3000) != 1) break;
            uint8_t buffer[4096];
            const platform::IoResult got = socket_.Recv(buffer, sizeof buffer);
            if (got.error != 0 || got.count == 0) break;
            decoder_.Feed(buffer, size_t(got.count), pending_);
        }
        return frames;
    }

    sim::LinkDevice device_;
    platform::Socket socket_;
    bool started_ = false;
    sim::LinkFrameDecoder decoder_;
    std::vector<sim::Frame> pending_;
};

struct Side {
    const char *name;
    std::function<std::unique_ptr<PilotSide>(const sim::BoardTextMessage &)> make;
};

void PrintTo(const Side &side, std::ostream *out) { *out << side.name; }

const Side Sides[] = {
    {"Board", [](const auto &m) { return std::make_unique<BoardSide>(m); }},
    {"Link", [](const auto &m) { return std::make_unique<LinkSide>(m); }},
};

sim::Frame Write(uint32_t address, uint8_t value) {
    return {Sys, sim::sys::Write, WritePayload(address, {value})};
}

// What the board's message must carry: two zero bytes, the length with the terminator
// (little-endian), the text, the terminator.
Bytes MessagePayload(const std::string &text) {
    Bytes payload{0, 0, uint8_t((text.size() + 1) & 0xFF), uint8_t((text.size() + 1) >> 8)};
    payload.insert(payload.end(), text.begin(), text.end());
    payload.push_back(0);
    return payload;
}

struct TextCase {
    const char *name;
    unsigned afterWrites;
    std::string text;
    // Where the message shows up among the replies to the requests below; -1: nowhere.
    int position;
};

void PrintTo(const TextCase &c, std::ostream *out) { *out << c.name; }

// Writes with a refused one second: the refusal is no acknowledgement and is not counted.
const std::vector<sim::Frame> Requests{Write(0x80000, 1),
                                       {Sys, sim::sys::Write, {0, 4, 0}},
                                       Write(0x80001, 2),
                                       Write(0x80002, 3),
                                       Write(0x80003, 4)};

const TextCase TextCases[] = {
    {"AfterTheFirst", 1, "Flash voltage low", 1},
    {"AfterTheThirdAcknowledged", 3, "Flash voltage low", 4},
    {"LongestText", 4, std::string(sim::MaxBoardTextLength, 'v'), 5},
    {"MoreWritesThanSent", 5, "Flash voltage low", -1},
    {"NotAsked", 0, "", -1},
};

class BoardTextMessageTest : public ::testing::TestWithParam<std::tuple<Side, TextCase>> {};

TEST_P(BoardTextMessageTest, FollowsExactlyTheNthAcknowledgedWriteAndCarriesTheText) {
    const auto &[side, c] = GetParam();
    const auto pilot = side.make({c.afterWrites, c.text});
    const std::vector<sim::Frame> frames = pilot->Exchange(Requests);

    ASSERT_EQ(frames.size(), Requests.size() + (c.position >= 0 ? 1 : 0));
    std::vector<uint8_t> subtypes;
    for (size_t i = 0; i < frames.size(); ++i) {
        if (int(i) == c.position) continue;
        EXPECT_EQ(frames[i].type, Sys) << i;
        subtypes.push_back(frames[i].subtype);
    }
    EXPECT_EQ(subtypes, (Bytes{0x83, 0x43, 0x83, 0x83, 0x83})) << "every request answered once";
    if (c.position < 0) return;
    const sim::Frame &message = frames[size_t(c.position)];
    EXPECT_EQ(message.type, Sys);
    EXPECT_EQ(message.subtype, 63) << "a request: neither reply bit set";
    EXPECT_EQ(message.payload, MessagePayload(c.text));

    // Once per pilot BIOS: more writes bring no second message, a new pilot BIOS counts afresh.
    EXPECT_EQ(pilot->Exchange(Requests).size(), Requests.size());
    pilot->NewPilot();
    const auto again = pilot->Exchange(Requests);
    ASSERT_EQ(again.size(), Requests.size() + 1);
    EXPECT_EQ(again[size_t(c.position)].payload, MessagePayload(c.text));
}

INSTANTIATE_TEST_SUITE_P(BoardAndLink, BoardTextMessageTest,
                         ::testing::Combine(::testing::ValuesIn(Sides),
                                            ::testing::ValuesIn(TextCases)),
                         [](const ::testing::TestParamInfo<std::tuple<Side, TextCase>> &testCase) {
                             return std::string(std::get<0>(testCase.param).name) +
                                    std::get<1>(testCase.param).name;
                         });

TEST(BoardTextMessage, AnAcknowledgementTheHostCannotReadIsNotCounted) {
    sim::BoardOptions options;
    options.fault = *sim::ParseBoardFault("corrupt-reply:1");
    options.textMessage = {1, "Flash voltage low"};
    DirectBoard b(options);
    b.BootToPilot();
    EXPECT_TRUE(b.Request(Sys, sim::sys::Write, WritePayload(0x80000, {1})).empty());
    const auto frames = b.Request(Sys, sim::sys::Write, WritePayload(0x80000, {1}));
    ASSERT_EQ(frames.size(), 2u) << "the host's second try is the first acknowledged write";
    EXPECT_EQ(frames[1].payload, MessagePayload("Flash voltage low"));
    EXPECT_EQ(b.board.CountEvents("text-message"), 1u);
}

// ---- the command lines ----

using Parse = std::function<std::optional<sim::BoardTextMessage>(
    const std::vector<std::string> &options, std::string *error)>;

const std::pair<const char *, Parse> Parsers[] = {
    {"board",
     [](const auto &options, std::string *error) -> std::optional<sim::BoardTextMessage> {
         const auto arguments = sim::ParseBoardArguments(options, error);
         return arguments ? std::optional(arguments->board.textMessage) : std::nullopt;
     }},
    {"link",
     [](const auto &options, std::string *error) -> std::optional<sim::BoardTextMessage> {
         const auto arguments = sim::ParseLinkArguments(options, error);
         return arguments ? std::optional(arguments->link.board.textMessage) : std::nullopt;
     }},
};

TEST(TextAfterWritesOption, BothCommandsTakeACountFromOneAndATextUpTo255Characters) {
    const std::string longest(sim::MaxBoardTextLength, 'x');
    const std::vector<std::pair<std::vector<std::string>, std::string>> refused{
        {{"--text-after-writes", "0", "Flash voltage low"},
         "bad value for --text-after-writes: 0 Flash voltage low"},
        {{"--text-after-writes", "-1", "low"}, "bad value for --text-after-writes: -1 low"},
        {{"--text-after-writes", "three", "low"}, "bad value for --text-after-writes: three low"},
        {{"--text-after-writes", "3", ""}, "bad value for --text-after-writes: 3 "},
        {{"--text-after-writes", "3", longest + "x"},
         "bad value for --text-after-writes: 3 " + longest + "x"},
        {{"--text-after-writes", "3"}, "--text-after-writes needs 2 values"},
    };
    for (const auto &[command, parse] : Parsers) {
        for (const auto &[options, expected] : refused) {
            std::string error;
            EXPECT_FALSE(parse(options, &error)) << command << " " << expected;
            EXPECT_EQ(error, expected) << command;
        }
        std::string error;
        const auto taken = parse({"--text-after-writes", "3", longest}, &error);
        ASSERT_TRUE(taken) << command << ": " << error;
        EXPECT_EQ(*taken, (sim::BoardTextMessage{3, longest})) << command;
        EXPECT_EQ(parse({}, &error), sim::BoardTextMessage{}) << command << ": none by default";
    }
    // A board already running CorvixSys has no pilot BIOS to send it.
    std::string error;
    EXPECT_FALSE(sim::ParseBoardArguments({"--os", "--text-after-writes", "1", "low"}, &error));
    EXPECT_NE(error.find("--text-after-writes"), std::string::npos) << error;
    // The refusal reaches the user as a usage error.
    char program[] = "corvix-sim", verb[] = "link", option[] = "--text-after-writes", n[] = "0",
         text[] = "low";
    char *argv[] = {program, verb, option, n, text, nullptr};
    EXPECT_EQ(sim::RunLinkCommand(5, argv), 2);
}

} // namespace
