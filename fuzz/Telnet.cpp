// The Telnet decoder: data runs, doubled 0xFF, negotiations and sub-negotiations, whatever the
// stream and wherever it is cut. The stream fed whole and fed in pieces (of the size the first
// byte gives) must give the same events, and data escaped by AppendData must decode to itself.
#include "FuzzSupport.h"

#include "platform/Telnet.h"

using namespace platform::telnet;

namespace {

struct Event {
    enum Kind { Data, Negotiation, Subnegotiation } kind;
    uint8_t a = 0, b = 0;
    std::vector<uint8_t> bytes;
    bool operator==(const Event &) const = default;
};

class Recorder final : public TelnetSink {
public:
    std::vector<Event> events;

    void OnData(const uint8_t *data, size_t count) override {
        fuzz::Check(count > 0, "an empty data run");
        // Where a run is cut depends on where the stream was cut: runs side by side are one.
        if (!events.empty() && events.back().kind == Event::Data)
            events.back().bytes.insert(events.back().bytes.end(), data, data + count);
        else
            events.push_back({Event::Data, 0, 0, {data, data + count}});
    }
    void OnNegotiation(uint8_t verb, uint8_t option) override {
        fuzz::Check(verb == Will || verb == Wont || verb == Do || verb == Dont,
                    "a negotiation with another verb");
        events.push_back({Event::Negotiation, verb, option, {}});
    }
    void OnSubnegotiation(uint8_t option, const uint8_t *value, size_t count) override {
        fuzz::Check(count <= TelnetDecoder::MaxSubnegotiation, "a sub-negotiation over its limit");
        events.push_back({Event::Subnegotiation, option, 0, {value, value + count}});
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    const size_t piece = size_t(data[0]) + 1;
    ++data;
    --size;

    Recorder whole, pieces;
    TelnetDecoder wholeDecoder, pieceDecoder;
    wholeDecoder.Feed(data, size, whole);
    for (size_t at = 0; at < size; at += piece)
        pieceDecoder.Feed(data + at, std::min(piece, size - at), pieces);
    fuzz::Check(whole.events == pieces.events, "the events depend on where the stream was cut");
    fuzz::Check(wholeDecoder.DroppedSubnegotiations() == pieceDecoder.DroppedSubnegotiations(),
                "the dropped count depends on where the stream was cut");

    std::vector<uint8_t> escaped;
    AppendData(escaped, data, size);
    Recorder plain;
    TelnetDecoder plainDecoder;
    plainDecoder.Feed(escaped.data(), escaped.size(), plain);
    const bool same = size == 0
                          ? plain.events.empty()
                          : plain.events.size() == 1 &&
                                plain.events[0].bytes == std::vector<uint8_t>(data, data + size);
    fuzz::Check(same, "escaped data does not decode to itself");
    return 0;
}
