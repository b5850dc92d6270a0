// The communication log's decoder on any frame, in either framing (the first byte's low bit
// says stuffed), the INFOPROBE reply read from the frame's payload as the engine reads it, and
// the log text's hexadecimal dump, whose shape is fixed by the byte count.
#include "FuzzSupport.h"

#include "comm/LogText.h"
#include "comm/PacketCodec.h"
#include "comm/PacketLogDecoder.h"
#include "loader/LoaderPayloads.h"

namespace {

size_t DumpLength(size_t count) { return 3 * count + 2 * ((count + 15) / 16); }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    const bool stuffed = (data[0] & 1) != 0;
    const uint8_t *frame = data + 1;
    const auto count = static_cast<uint32_t>(size - 1);

    std::string decoded;
    const auto sink = [&](const char *text, size_t n) { decoded.append(text, n); };
    {
        LogText text(sink);
        commlog::DecodeFrame(frame, count, stuffed, text);
    }

    // The engine copies the reply into its fixed buffer as far as the reply reaches.
    std::array<uint8_t, InfoProbeReplySize> reply{};
    const size_t payload = count > packet::HeaderSize ? count - packet::HeaderSize : 0;
    std::copy_n(frame + (count - payload), std::min(payload, reply.size()), reply.begin());
    IdBlockInfo info;
    ParseInfoProbeReply(reply, info);
    {
        LogText text(sink);
        commlog::DumpIdBlock(info.IdBlock, text);
    }

    std::string dump;
    {
        const auto dumpSink = [&](const char *text, size_t n) { dump.append(text, n); };
        LogText text(dumpSink);
        text.HexDump(frame, count);
    }
    fuzz::Check(dump.size() == DumpLength(count), "a dump of the wrong length");
    return 0;
}
