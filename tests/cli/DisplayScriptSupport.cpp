#include "DisplayScriptSupport.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>

MemoryFile::MemoryFile() : file_(open_memstream(&buffer_, &size_)) {}

MemoryFile::~MemoryFile() {
    if (file_ != nullptr) std::fclose(file_);
    std::free(buffer_);
}

std::string MemoryFile::Text() const {
    if (file_ == nullptr) return {};
    std::fflush(file_);
    return std::string(buffer_, size_);
}

std::vector<std::string> MemoryFile::Lines() const {
    std::vector<std::string> lines;
    std::istringstream in(Text());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

namespace {

void SendLoader(LoadDisplay &display, ManualClock &clock, const std::string &stage, uint32_t bytes,
                std::chrono::milliseconds time) {
    display.SetStage(stage);
    clock.Advance(time);
    display.StepProgress(bytes);
}

} // namespace

void PlayLoad(LoadDisplay &display, ManualClock &clock, const LoadScript &script) {
    const uint32_t total = script.coldLoaderBytes + script.pilotBiosBytes + script.imageBytes;
    display.ShowProgressWindow();
    display.SetStatusPanel(0, "");
    display.SetStatusPanel(1, "");
    display.SetProgressMax(total);
    SendLoader(display, clock, "Sending Coldloader", script.coldLoaderBytes, script.loaderTime);
    SendLoader(display, clock, "Sending Pilot BIOS", script.pilotBiosBytes, script.loaderTime / 4);
    if (script.erase) display.SetStage("Erasing flash");
    clock.Advance(script.loaderTime);
    display.SetStage("Sending Program");
    display.BeginImage(script.imageBytes);
    const uint32_t packets = (script.imageBytes + script.chunk - 1) / script.chunk;
    const uint32_t end = std::min(script.imageBytes, script.stopAfterBytes);
    uint32_t sent = script.coldLoaderBytes + script.pilotBiosBytes;
    for (uint32_t offset = 0, packet = 1; offset < end; offset += script.chunk, ++packet) {
        const uint32_t step = std::min(script.chunk, end - offset);
        if (script.networkTexts) {
            const std::string count = std::to_string(packet) + " of " + std::to_string(packets);
            display.SetStatusPanel(0, count + " packets sent");
            display.SetStatusPanel(0, count + " packets acknowledged");
        }
        clock.Advance(script.perChunk);
        sent += step;
        display.SetStatusPanel(1, std::to_string(sent) + " of " + std::to_string(total) +
                                      " bytes sent");
        display.StepProgress(step);
        if (!script.boardMessage.empty() && offset < script.imageBytes / 2 &&
            offset + step >= script.imageBytes / 2)
            display.ShowMessage("Message from the board", script.boardMessage);
    }
}

LoadOutcome FullOutcome(uint32_t imageBytes) {
    LoadOutcome outcome;
    outcome.Road = "serial";
    outcome.Target = "COM3 (/dev/ttyUSB0)";
    outcome.FlashIdKnown = true;
    outcome.FlashId = 0x01a4;
    outcome.FlashEntry = "512 KiB, 8 sectors of 64 KiB, write mode 1";
    outcome.BaudRate = 115200;
    outcome.Erased = true;
    outcome.ImageBytes = imageBytes;
    outcome.ElapsedMs = 12345;
    outcome.Md5 = "9e107d9d372bb6826bd81d3542a419d6";
    return outcome;
}
