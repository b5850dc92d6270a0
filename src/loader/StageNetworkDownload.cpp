// The windowed download through a network programming device: the image goes out as a run of
// SYS/WRITE packets without a round trip each, and their acknowledgements are counted as they
// come back. The device answers every write, so the count tells when the board has all of them.
#include "loader/LoaderEngine.h"
#include "loader/LoaderPayloads.h"
#include "loader/LoaderStage.h"

#include "comm/PacketCodec.h"
#include "files/SupportFiles.h"
#include "platform/FixedText.h"
#include "platform/MessageIds.h"
#include "platform/Wait.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <cstdint>
#include <vector>

namespace {

constexpr uint8_t SysWrite = 3;
constexpr uint8_t DbgEndDownload = 55;
// What the device is asked to do with the image once it has it all.
constexpr uint8_t EndDownloadStart = 4;

bool SameTextIgnoringCase(const std::string &a, const std::string &b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

// fileName with its extension made extension. A name that already has it in other letter case
// keeps its own spelling: the file system here tells "IMAGE.BIN" from "image.bin", and the user
// chose the file that exists.
std::string DownloadPath(const std::string &fileName, const std::string &extension) {
    std::filesystem::path path(fileName);
    const std::string wanted =
        extension.empty() || extension.front() == '.' ? extension : "." + extension;
    if (SameTextIgnoringCase(path.extension().string(), wanted)) return fileName;
    path.replace_extension(wanted);
    return path.string();
}

void Report(const NetworkStatusCallback &status, uint32_t count, uint32_t total, const char *what) {
    if (!status) return;
    char text[80];
    status(platform::FormatInto(text, "%d of %d packets %s", static_cast<int>(count),
                                static_cast<int>(total), what));
}

// For the length of one download SYS/WRITE replies go to the counter instead of waking a
// waiting request; the registration the engine had is given back on every path.
class WriteReplyCounting {
public:
    WriteReplyCounting(TConnection &connection, PacketHandler counter, void *context)
        : connection_(connection), saved_(connection.CopyHandlerEntry(packet::TypeSys, SysWrite)) {
        connection_.RegisterHandler(packet::TypeSys, SysWrite, counter, context, false, false);
    }
    ~WriteReplyCounting() {
        // An entry that was not registered comes back as one with neither handler nor copy,
        // which the connection treats alike.
        connection_.RegisterHandler(packet::TypeSys, SysWrite, saved_.handler, saved_.context,
                                    saved_.waitForReply, saved_.copyReply);
    }
    WriteReplyCounting(const WriteReplyCounting &) = delete;
    WriteReplyCounting &operator=(const WriteReplyCounting &) = delete;

private:
    TConnection &connection_;
    HandlerEntry saved_;
};

bool IsNakRecord(const ReceiveError &error) {
    return error.present && error.kind == ReceiveErrorKind::NakReply;
}

} // namespace

void LoaderEngine::NetworkDownload(const std::string &fileName, const std::string &extension,
                                   uint32_t startOffset, int32_t imageBytes,
                                   NetworkContinueCallback proceed, uint32_t blockSize,
                                   uint32_t fileOffset, NetworkStatusCallback status) {
    RaiseOnFailure(StageNetworkDownload(DownloadPath(fileName, extension), startOffset, imageBytes,
                                        proceed, blockSize, fileOffset, status));
}

int32_t LoaderEngine::StageNetworkDownload(const std::string &path, uint32_t startOffset,
                                           int32_t imageBytes,
                                           const NetworkContinueCallback &proceed,
                                           uint32_t blockSize, uint32_t fileOffset,
                                           const NetworkStatusCallback &status) {
    return RunStage([&] {
        BusyScope busy(*this);
        TConnection &connection = Current();
        if (blockSize == 0 || blockSize > packet::MaxSendPayload - WriteBlockHeaderSize)
            throw xConnectionErr(EngineCode::NetworkBlockSizeInvalid);
        const FileHandle file = OpenForReading(path);
        if (!file || std::fseek(file.get(), static_cast<long>(fileOffset), SEEK_SET) != 0)
            throw xConnectionErr(EngineCode::NetworkFileNotOpened);

        WriteReplyCounting counting(connection, &LoaderEngine::CountWriteReply, this);
        acknowledged_ = 0;
        writeRefused_ = false;
        connection.TakeReceiveError(); // what happened before this download is not ours

        const uint32_t byteCount = imageBytes > 0 ? static_cast<uint32_t>(imageBytes) : 0;
        const uint32_t sent =
            SendDownloadPackets(file.get(), startOffset, byteCount, proceed, blockSize, status);
        CollectAcknowledgements(sent, status);
    });
}

uint32_t LoaderEngine::SendDownloadPackets(std::FILE *file, uint32_t startOffset,
                                           uint32_t byteCount,
                                           const NetworkContinueCallback &proceed,
                                           uint32_t blockSize,
                                           const NetworkStatusCallback &status) {
    auto wanted = [&](uint32_t offset) { return !proceed || proceed(offset, blockSize); };
    uint32_t total = 0;
    for (uint64_t step = 0; step < byteCount; step += blockSize)
        total += wanted(static_cast<uint32_t>(startOffset + step)) ? 1u : 0u;

    // Both buffers are sized once for the whole download.
    std::vector<uint8_t> chunk(blockSize);
    std::vector<uint8_t> packetBuffer;
    packetBuffer.reserve(WriteBlockHeaderSize + blockSize);

    TConnection &connection = Current();
    uint32_t sent = 0;
    uint32_t offset = startOffset;
    for (uint32_t remaining = byteCount; remaining > 0;) {
        const uint32_t count = std::min(remaining, blockSize);
        // A file shorter than its byte count must not pass as loaded with its end missing.
        if (std::fread(chunk.data(), 1, count, file) != count)
            throw xConnectionErr(EngineCode::NetworkFileShort);
        if (wanted(offset)) {
            BuildWriteBlockPayload(ImageBase + offset, static_cast<uint16_t>(count), chunk.data(),
                                   packetBuffer);
            connection.Send(packet::TypeSys, SysWrite, packetBuffer.data(),
                            static_cast<uint32_t>(packetBuffer.size()));
            ++sent;
            Report(status, sent, total, "sent");
            // The reader hands each reply over with a message it waits on: taking them now keeps
            // it reading, so the device is never held up by replies nobody takes, and a refusal
            // is seen while there is still something to stop. A cancel or a device that went
            // away stops the sending at the next packet.
            platform::ServiceSentMessages();
            connection.RaiseIfStopped();
            if (WriteRefused()) throw xConnectionErr(ConnCode::NakReply);
        }
        offset += blockSize;
        remaining -= count;
    }
    return sent;
}

void LoaderEngine::CollectAcknowledgements(uint32_t sent, const NetworkStatusCallback &status) {
    TConnection &connection = Current();
    const uint64_t allowedMs =
        static_cast<uint64_t>(sent) *
        static_cast<uint64_t>(std::max<int32_t>(lastOptions_.EthernetResponseTimeout, 0));
    platform::WaitSpec spec;
    spec.timerWindow = owner_;
    spec.timerId = DownloadTimerId;
    platform::ScopedTimer timer(owner_, DownloadTimerId,
                                static_cast<int64_t>(std::min<uint64_t>(allowedMs, INT32_MAX)));
    uint32_t reported = 0;
    const auto finished = [&] {
        if (acknowledged_ != reported) {
            reported = acknowledged_;
            Report(status, reported, sent, "acknowledged");
        }
        // A refusal can never be made up for by the acknowledgements still to come; a
        // Disconnect from a handler closed the connection, so nothing more can come. A device
        // that went away is the wait's own business: it raises the reader's code.
        return acknowledged_ >= sent || WriteRefused() ||
               (!connection.IsOpen() && !connection.ReaderLost());
    };
    if (connection.Wait(spec, finished) == platform::WaitEnd::Deadline)
        throw xConnectionErr(ConnCode::NoReply);
    Report(status, acknowledged_, sent, "acknowledged");
    if (acknowledged_ >= sent) return;
    if (WriteRefused()) throw xConnectionErr(ConnCode::NakReply);
    throw xConnectionErr(EngineCode::DisconnectWhileBusy);
}

bool LoaderEngine::WriteRefused() {
    if (current_ != nullptr && IsNakRecord(current_->TakeReceiveError())) writeRefused_ = true;
    return writeRefused_;
}

// Runs on the user-interface thread while the reader waits for it, so the receive record it
// looks at is the one of this very reply: a refusal is remembered, not counted.
void LoaderEngine::CountWriteReply(const uint8_t *, uint16_t, void *context) {
    auto *engine = static_cast<LoaderEngine *>(context);
    if (engine->current_ != nullptr && IsNakRecord(engine->current_->TakeReceiveError())) {
        engine->writeRefused_ = true;
    } else {
        ++engine->acknowledged_;
    }
    // Only a wake-up for the wait that counts: while the window of packets is still going out
    // nothing takes it, and one waiting is enough, not one per acknowledgement.
    platform::PostMessageUnlessPending(engine->owner_, UM_DOWNLOAD_ACK, 0, 0);
}

void LoaderEngine::EndNetworkDownload() {
    uint8_t payload[1] = {EndDownloadStart};
    RaiseOnFailure(
        StageRequest(packet::TypeDbg, DbgEndDownload, payload, sizeof payload, sizeof payload));
}
