#include "comm/PacketLogDecoder.h"

#include "comm/PacketCodec.h"

#include <cstring>
#include <string_view>

namespace commlog {
namespace {

// Enough of the frame for every detail the log shows: the header, the ID block of an INFOPROBE
// reply and the 256 characters of a DBG/STDIO text.
constexpr uint32_t DecodedLimit = packet::HeaderSize + 256 + 8;
constexpr uint32_t MaxStdioText = 256;

// The payload as far as the frame carries it; every read checks that its bytes are there.
class Payload {
public:
    Payload(const uint8_t *bytes, uint32_t count) : bytes_(bytes), count_(count) {}
    bool Has(uint32_t offset, uint32_t size) const { return offset + size <= count_; }
    uint32_t Count() const { return count_; }
    const uint8_t *Bytes() const { return bytes_; }
    uint8_t U8(uint32_t i) const { return bytes_[i]; }
    uint16_t U16(uint32_t i) const { return packet::LoadLe16(bytes_ + i); }
    uint32_t U32(uint32_t i) const {
        return static_cast<uint32_t>(U16(i)) | static_cast<uint32_t>(U16(i + 2)) << 16;
    }

private:
    const uint8_t *bytes_;
    uint32_t count_;
};

enum class When { Always, Request, Reply };

// The detail lines of a code that has them, and whether a request or a reply carries them.
struct Details {
    When when;
    void (*write)(const Payload &, LogText &);
};

// ---- SYS details ----

// READ and WRITE share their address modes; mode 3 takes its address from another place.
void Transfer(const Payload &p, LogText &out, const char *direction, uint32_t mode3Address) {
    if (!p.Has(0, 3)) return;
    const unsigned count = p.U16(1);
    switch (p.U8(0)) {
    case 0:
        if (p.Has(3, 4)) out.Format("%u bytes %s 0x%05x\r\n", count, direction, p.U32(3));
        break;
    case 1:
        if (p.Has(3, 4))
            out.Format("%u bytes %s 0x%02x:%04x\r\n", count, direction, p.U16(5), p.U16(3));
        break;
    case 3:
        if (p.Has(mode3Address, 2))
            out.Format("%u bytes %s 0x%04x\r\n", count, direction, p.U16(mode3Address));
        break;
    default: break;
    }
}

void ReadDetails(const Payload &p, LogText &out) { Transfer(p, out, "from", 5); }
void WriteDetails(const Payload &p, LogText &out) { Transfer(p, out, "to", 3); }

void InfoProbeDetails(const Payload &p, LogText &out) {
    if (p.Has(IdBlockOffset, IdBlockSize)) DumpIdBlock(p.Bytes() + IdBlockOffset, out);
}

void StartBiosDetails(const Payload &p, LogText &out) {
    if (!p.Has(0, 1)) return;
    if (p.U8(0) == 1) out.Put("Start BIOS in ram\r\n");
    if (p.U8(0) == 2) out.Put("Start BIOS in flash\r\n");
}

void BaudRateDetails(const Payload &p, LogText &out) {
    if (p.Has(0, 4)) out.Format("Baudrate = %d\r\n", static_cast<int32_t>(p.U32(0)));
}

void FlashDataDetails(const Payload &p, LogText &out) {
    if (!p.Has(0, 8)) return;
    out.Format(
        "sectorsize = %d\r\nnumber of sectors = %d\r\nflashsize = %d\r\nwrite mode = 0x%0x\r\n",
        p.U16(0), p.U16(2), p.U16(4), p.U16(6));
}

// ---- DBG details ----

// The words of the set bits, lowest bit first.
void BitWords(uint8_t bits, std::initializer_list<std::string_view> words, LogText &out) {
    unsigned bit = 0;
    for (std::string_view word : words) {
        if (bits & (1u << bit)) out.Put(word);
        ++bit;
    }
}

void SingleStepDetails(const Payload &p, LogText &out) {
    if (!p.Has(0, 1)) return;
    out.Format("%s step %s\r\n", (p.U8(0) & 0x08) ? "Source" : "Instruction",
               (p.U8(0) & 0x02) ? "over" : "into");
}

void ToggleBreakpointDetails(const Payload &p, LogText &out) {
    if (!p.Has(0, 5)) return;
    out.Format("address = 0x%05x\r\n", p.U32(0));
    out.Put("flags = ");
    BitWords(p.U8(4), {"inactive ", "active ", "deleted ", "conditional ", "hard"}, out);
    out.Put("\r\n");
}

void AddWatchDetails(const Payload &p, LogText &out) {
    if (p.Has(0, 5)) out.Format("address = 0x%05x, size = 0x%04x\r\n", p.U32(0), p.U8(4));
}

void IndexDetails(const Payload &p, LogText &out) {
    if (p.Has(0, 2)) out.Format("index = %d\r\n", p.U16(0));
}

void SendCharDetails(const Payload &p, LogText &out) {
    if (p.Has(0, 1)) out.Format("char = %c\r\n", p.U8(0));
}

void SendFlagsDetails(const Payload &p, LogText &out) {
    if (!p.Has(0, 1)) return;
    out.Put("Set flags = ");
    BitWords(p.U8(0),
             {"SendStackData ", "SendWatchData ", "SendAsmData ", "SendRegisterData ",
              "SendStatus ", "SendAck "},
             out);
    out.Put("\r\n");
}

void StdioDetails(const Payload &p, LogText &out) {
    const uint32_t limit = p.Count() < MaxStdioText ? p.Count() : MaxStdioText;
    const auto *text = reinterpret_cast<const char *>(p.Bytes());
    out.Put(std::string_view(text, ::strnlen(text, limit)));
    out.Put("\r\n");
}

void CharReadyDetails(const Payload &p, LogText &out) {
    if (p.Has(0, 1)) out.Format("char count = %d", p.U8(0));
}

void EnabledOptionsDetails(const Payload &p, LogText &out) {
    if (!p.Has(0, 3)) return;
    out.Format("max watches = %d, max breakpoints = %d\r\n", p.U8(1), p.U8(2));
    out.Put("options = ");
    BitWords(p.U8(0), {"breakpoints  ", "instruction single stepping  ", "watches"}, out);
    out.Put("\r\n");
}

struct CodeDetails {
    uint8_t type;
    uint8_t code;
    Details details;
};

constexpr CodeDetails DetailedCodes[] = {
    {packet::TypeSys, 2, {When::Always, &ReadDetails}},
    {packet::TypeSys, 3, {When::Always, &WriteDetails}},
    {packet::TypeSys, 4, {When::Reply, &InfoProbeDetails}},
    {packet::TypeSys, 5, {When::Always, &StartBiosDetails}},
    {packet::TypeSys, 6, {When::Request, &BaudRateDetails}},
    {packet::TypeSys, 10, {When::Request, &FlashDataDetails}},
    {packet::TypeDbg, 1, {When::Request, &SingleStepDetails}},
    {packet::TypeDbg, 2, {When::Request, &ToggleBreakpointDetails}},
    {packet::TypeDbg, 9, {When::Request, &AddWatchDetails}},
    {packet::TypeDbg, 10, {When::Request, &IndexDetails}},
    {packet::TypeDbg, 12, {When::Request, &IndexDetails}},
    {packet::TypeDbg, 14, {When::Request, &SendCharDetails}},
    {packet::TypeDbg, 16, {When::Request, &SendFlagsDetails}},
    {packet::TypeDbg, 21, {When::Request, &StdioDetails}},
    {packet::TypeDbg, 23, {When::Request, &CharReadyDetails}},
    {packet::TypeDbg, 25, {When::Reply, &EnabledOptionsDetails}},
};

const Details *FindDetails(uint8_t type, uint8_t code) {
    for (const CodeDetails &entry : DetailedCodes)
        if (entry.type == type && entry.code == code) return &entry.details;
    return nullptr;
}

// Undoes the stuffing of the first bytes of the frame; returns how many were decoded.
uint32_t Unstuff(const uint8_t *frame, uint32_t count, bool stuffed, uint8_t (&out)[DecodedLimit]) {
    uint32_t length = 0;
    for (uint32_t i = 0; i < count && length < DecodedLimit; ++i) {
        if (stuffed && frame[i] == packet::Escape) {
            if (++i == count) break;
            out[length++] = static_cast<uint8_t>(frame[i] ^ packet::EscapeXor);
        } else {
            out[length++] = frame[i];
        }
    }
    return length;
}

// Text fields of the ID block are not always terminated within their field.
std::string_view FieldText(const uint8_t *block, uint32_t offset, uint32_t size) {
    const auto *text = reinterpret_cast<const char *>(block + offset);
    return {text, ::strnlen(text, size)};
}

} // namespace

void DecodeFrame(const uint8_t *frame, uint32_t count, bool stuffed, LogText &out) {
    uint8_t copy[DecodedLimit];
    const uint32_t decoded = Unstuff(frame, count, stuffed, copy);
    if (decoded < packet::HeaderSize) return;
    const uint8_t type = copy[packet::OffType];
    const uint8_t subtype = copy[packet::OffSubtype];
    const uint8_t code = subtype & packet::CodeMask;
    const char *name = packet::PacketName(type, code);
    if (name == nullptr) return;
    const bool isRequest = (subtype & (packet::AckBit | packet::NakBit)) == 0;
    const char *suffix = isRequest ? "" : (subtype & packet::AckBit) ? " (ACK)" : " (NAK)";
    out.Format("%s/%s%s\r\n", type == packet::TypeSys ? "SYS" : "DBG", name, suffix);
    const Details *details = FindDetails(type, code);
    if (details == nullptr) return;
    if ((details->when == When::Request && !isRequest) ||
        (details->when == When::Reply && isRequest))
        return;
    const uint32_t stated = packet::LoadLe16(copy + packet::OffLength);
    const uint32_t carried = decoded - packet::HeaderSize;
    details->write(Payload(copy + packet::HeaderSize, stated < carried ? stated : carried), out);
}

void DumpIdBlock(const uint8_t *block, LogText &out) {
    const Payload b(block, IdBlockSize);
    out.Format("tableVersion  = %d\r\nproductID     = 0x%04X\r\nvendorID      = %d\r\n", b.U16(0),
               b.U16(2), b.U16(4));
    out.Format("timestamp     = %02d/%02d/%02d%02d  %02d:%02d:%02d\r\n", b.U8(8), b.U8(9), b.U8(6),
               b.U8(7), b.U8(10), b.U8(11), b.U8(12));
    out.Format("flashID       = 0x%04hX\r\nflashType     = %d\r\nflashSize     = %ld\r\n"
               "sectorSize    = %d\r\nnumSectors    = %d\r\nflashSpeed    = %d\r\n",
               static_cast<unsigned short>(b.U32(13)), b.U16(17), static_cast<long>(b.U16(19)),
               b.U16(21), b.U16(23), b.U16(25));
    out.Format("flash2ID      = 0x%04hX\r\nflash2Type    = %d\r\nflash2Size    = %ld\r\n"
               "sector2Size   = %d\r\nnum2Sectors   = %d\r\nflash2Speed   = %d\r\n",
               static_cast<unsigned short>(b.U32(27)), b.U16(31), static_cast<long>(b.U16(33)),
               b.U16(35), b.U16(37), b.U16(39));
    out.Format("ramID         = 0x%04X\r\nramSize       = %ld\r\nramSpeed      = %d\r\n"
               "cpuID         = %d\r\ncrystalFreq   = %8.4f MHz\r\n",
               b.U32(41), static_cast<long>(b.U16(45)) * 4096, b.U16(47), b.U16(49),
               b.U32(51) * 0.000001);
    out.Format("macAddr       = %02hX:%02hX:%02hX:%02hX:%02hX:%02hX\r\n", b.U8(55), b.U8(56),
               b.U8(57), b.U8(58), b.U8(59), b.U8(60));
    const std::string_view serial = FieldText(block, 61, 24);
    const std::string_view product = FieldText(block, 85, 61);
    const std::string_view reserved = FieldText(block, 146, 1);
    out.Format("serialNumber  = %.*s\r\nproductName   = %.*s\r\nreserved      = %.*s\r\n",
               static_cast<int>(serial.size()), serial.data(), static_cast<int>(product.size()),
               product.data(), static_cast<int>(reserved.size()), reserved.data());
    out.Format("idBlockSize   = %d\r\nuserBlockSize = %04x\r\nuserBlockLoc  = %04x\r\n"
               "idBlockCRC    = %d\r\n",
               static_cast<int32_t>(b.U32(147)), b.U16(151), b.U16(153), b.U16(155));
    const std::string_view marker = FieldText(block, 157, 6);
    out.Format("marker        = %.*s\r\n", static_cast<int>(marker.size()), marker.data());
}

} // namespace commlog
