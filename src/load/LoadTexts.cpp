#include "load/LoadTexts.h"

#include "loader/LoaderErrors.h"
#include "platform/Serial.h"
#include "settings/Zepenvironment.h"

#include <cstdio>
#include <filesystem>

namespace {

std::string SerialTarget(const CommOptions &comm) {
    return "COM" + std::to_string(comm.ComPort) + " (" + platform::MapComPort(comm.ComPort) + ")";
}

} // namespace

LoadRoad RoadOf(const Environment &environment) {
    const CommOptions &comm = environment.Comm;
    const bool corvixSys = environment.LoadThroughCorvixSys != 0;
    if (comm.UseTCP == 0) return {corvixSys ? "CorvixSys serial" : "serial", SerialTarget(comm)};
    // The engine picks the network peer by UseCorvixLink; the road's name follows the load kind.
    const bool link = comm.UseCorvixLink != 0;
    return {corvixSys ? "CorvixSys console" : "CorvixLink",
            std::string(link ? comm.CorvixLinkAddress : comm.CorvixSysAddress) + ":" +
                std::to_string(link ? comm.CorvixLinkTcpPort : comm.CorvixSysTcpPort)};
}

std::string RoadLine(const Environment &environment) {
    const LoadRoad road = RoadOf(environment);
    const CommOptions &comm = environment.Comm;
    if (comm.UseTCP != 0) return road.Road + " " + road.Target;
    // A user program goes at the BIOS rate; an image at the negotiated rate, or at the BIOS rate
    // when negotiation is off.
    if (environment.LoadThroughCorvixSys != 0)
        return "CorvixSys over serial " + road.Target + " at " +
               std::to_string(environment.BiosBaudRate) + " baud";
    if (comm.DisableBaudNegotiation != 0)
        return "Serial " + road.Target + " at " + std::to_string(environment.BiosBaudRate) +
               " baud";
    return "Serial " + road.Target + ", up to " + std::to_string(comm.MaxNegotiatedBaud) + " baud";
}

std::string LoadHint(const Environment &environment) {
    const char *kind = environment.LoadThroughCorvixSys != 0 ? ".upl" : ".bin";
    return std::string("Drop a ") + kind + " file here, or File > Load Flash Image...";
}

std::string LastLoadText(const std::string &fileName, const LoadOutcome &outcome) {
    const std::string name = std::filesystem::path(fileName).filename().string();
    if (outcome.Code == 0)
        return "Last load: " + name + " went through in " +
               FormatElapsedSeconds(outcome.ElapsedMs) + " seconds.";
    if (outcome.Code == LoaderErrorCancelled) return "Last load: " + name + ": " + outcome.Message;
    std::string text = "Last load: " + name + " failed: " + outcome.Message;
    if (!outcome.Detail.empty()) text += "\n" + outcome.Detail;
    return text;
}

std::string FormatElapsedSeconds(uint32_t milliseconds) {
    char text[64];
    std::snprintf(text, sizeof text, "%.15g", milliseconds * 0.001);
    return text;
}
