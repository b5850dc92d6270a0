#include "loader/LoaderErrors.h"

#include "platform/PrintableText.h"

#include <cstdio>
#include <mutex>
#include <utility>

namespace {

struct CodeMessage {
    int32_t code;
    const char *text;
};

// The texts are shown to users and quoted in support conversations: keep them word for word.
constexpr CodeMessage Messages[] = {
    {1, "Could not open cold loader file"},
    {2, "Could not open Pilot BIOS file."},
    {3, "Could not open program (.bin) file."},
    {5, "Could not allocate memory. Close some applications and try again."},
    {7, "No Corvix Processor Detected."},
    {8, "Could not open cold loader file."},
    {9, "Could not open pilot bios file."},
    {10, "ID block not present."},
    {11, "ID block CRC failed."},
    {12, "Pilot Bios write request failed."},
    {13, "Did not receive ACK from Pilot Bios."},
    {14, "Pilot Bios read request failed."},
    {15, "Error reading flash ID."},
    {16, "Error reading ram size."},
    {17, "Timeout while waiting for response from target."},
    {18, "Could not set up serial port."},
    {19, "Could not open serial port."},
    {20, "Transfer cancelled."},
    {22, "Target communication error."},
    {23, "Error sending pilot bios."},
    {24, "Flash initialization file not found."},
    {25, "User program file is not formatted correctly."},
    {26, "User program file MD5 hash failed."},
    {27, "CorvixSys is not present on the target."},
    {28, "IDBlock on target does not support CorvixSys."},
    {29, "IDBlock on target does not have preloaded drivers necessary for CorvixSys."},
    {30, "Received unexpected negotiation command sequence from CorvixSys."},
    {31, "CorvixSys communication negotiation failed."},
    {32, "Could not log into CorvixSys Console."},
    {33, "CorvixSys refused connection attempt.  Check that the port setting is correct and that a "
         "console session is not already established."},
    {34, "Could not connect to CorvixSys - make sure that address and port are correct."},
    {35, "Did not receive expected login message from the CorvixSys console."},
    {36, "Did not receive expected user name prompt from the CorvixSys console."},
    {37, "An error occurred while sending the user name to the CorvixSys console."},
    {38, "Did not receive expected password required message from the CorvixSys console."},
    {39, "Did not receive expected password prompt from the CorvixSys console."},
    {40, "An error occurred while sending the password to the CorvixSys console."},
    {41, "The login attempt to the CorvixSys console failed.  Check that the user name and "
         "password are correct."},
    {42, "Did not receive expected user logged in message from the CorvixSys console."},
    {43, "Did not receive expected prompt from the CorvixSys console."},
    {44, "An error occurred while sending the target communication passthrough mode command to "
         "the CorvixSys console."},
    {45, "Did not receive expected target communication passthrough mode confirmation from the "
         "CorvixSys console."},
    {46, "An internal error in the target communication connection has occurred."},
    {47, "An error occurred while sending the app go command to the CorvixSys console."},
    {48, "Did not receive expected app go confirmation from the CorvixSys console."},
    {49, "An error occurred while sending the logout command to the CorvixSys console."},
    {50, "Did not receive expected logout confirmation from the CorvixSys console."},
    // Faults of the files themselves, refused before anything of them reaches the board.
    {51, "Cold loader file is not formatted correctly."},
    {52, "Pilot BIOS file is too large."},
    {53, "Program (.bin) file is too large for the flash."},
    {54, "Could not read program (.bin) file."},
};

struct CodeMapping {
    int32_t first;
    int32_t last;
    int32_t loaderError; // 0: not a failure at this level, nothing is raised
    const char *diagnostic;
};

constexpr CodeMapping Mappings[] = {
    {253, 255, 0, nullptr},
    {2000, 2000, LoaderErrorSerialOpen, nullptr},
    {2001, 2001, LoaderErrorSerialSetup, nullptr},
    {2002, 2002, LoaderErrorCommunication, "Error reading bytes"},
    {2003, 2003, LoaderErrorCommunication, "Read: Error creating overlapped structure"},
    {2004, 2004, LoaderErrorCommunication, "Read: WaitForSingleObject failed"},
    {3012, 3012, LoaderErrorConsoleLogin, nullptr},
    {3013, 3013, LoaderErrorConsoleRefused, nullptr},
    {3014, 3014, LoaderErrorConsoleConnect, nullptr},
    {3015, 3015, LoaderErrorConsoleGreeting, nullptr},
    {3016, 3016, LoaderErrorConsoleUserNamePrompt, nullptr},
    {3017, 3017, LoaderErrorConsoleUserNameSend, nullptr},
    {3018, 3018, LoaderErrorConsolePasswordRequired, nullptr},
    {3019, 3019, LoaderErrorConsolePasswordPrompt, nullptr},
    {3020, 3020, LoaderErrorConsolePasswordSend, nullptr},
    {3021, 3021, LoaderErrorConsoleLoginRefused, nullptr},
    {3022, 3022, LoaderErrorConsoleLoggedIn, nullptr},
    {3023, 3023, LoaderErrorConsolePrompt, nullptr},
    {3024, 3024, LoaderErrorConsoleTargetModeSend, nullptr},
    {3025, 3025, LoaderErrorConsoleTargetMode, nullptr},
    {3026, 3026, LoaderErrorConsoleNegotiationSequence, nullptr},
    {3027, 3027, LoaderErrorConsoleNegotiation, nullptr},
    {3028, 3028, LoaderErrorConsoleAppGoSend, nullptr},
    {3029, 3029, LoaderErrorConsoleAppGo, nullptr},
    {3030, 3030, LoaderErrorConsoleLogoutSend, nullptr},
    {3031, 3031, LoaderErrorConsoleLogout, nullptr},
    {4096, 4096, LoaderErrorCommunication, "could not get wnd proc address"},
    {4097, 4097, LoaderErrorCommunication, "could not create read thread"},
    {4099, 4099, LoaderErrorCommunication, "No callback registered"},
    {4100, 4100, LoaderErrorCommunication, "Data too long"},
    {4101, 4101, LoaderErrorCommunication, "write overlap create failed"},
    {4102, 4102, LoaderErrorCommunication, "write failed - not delayed"},
    {4103, 4103, LoaderErrorCommunication, "write failed - not complete"},
    {4104, 4104, LoaderErrorCommunication, "write - wait for single object failed"},
    {4105, 4105, LoaderErrorTimeout, nullptr},
    {4124, 4124, LoaderErrorCancelled, nullptr},
    {4126, 4126, LoaderErrorConnectionInternal, nullptr},
    {5000, 5000, LoaderErrorNoProcessor, nullptr},
    {5001, 5001, LoaderErrorColdLoaderSendOpen, nullptr},
    {5002, 5002, LoaderErrorColdLoaderFormat, nullptr},
    // 6000-6006 belong to the pilot BIOS conversation; nothing raises them today.
    {6000, 6000, LoaderErrorIdBlockMissing, nullptr},
    {6001, 6001, LoaderErrorIdBlockCrc, nullptr},
    {6002, 6002, LoaderErrorPilotWriteRequest, nullptr},
    {6003, 6003, LoaderErrorPilotNoAck, nullptr},
    {6004, 6004, LoaderErrorPilotReadRequest, nullptr},
    {6005, 6005, LoaderErrorFlashIdRead, nullptr},
    {6006, 6006, LoaderErrorRamSizeRead, nullptr},
    {6007, 6007, LoaderErrorPilotBiosSendOpen, nullptr},
    {6008, 6008, LoaderErrorPilotBiosSend, nullptr},
    {6009, 6009, LoaderErrorPilotBiosTooLarge, nullptr},
};
// Every other code (socket, discovery, network device, 4003, 4004, 4098, 4122, 4125, ...) is a
// plain communication error.

const CodeMapping *FindMapping(int32_t internalCode) {
    for (const CodeMapping &mapping : Mappings)
        if (internalCode >= mapping.first && internalCode <= mapping.last) return &mapping;
    return nullptr;
}

std::string ExceptionText(int32_t code) {
    const char *message = ErrorMessage(code);
    return message != nullptr ? std::string(message) : "Loader error " + std::to_string(code);
}

void WriteToStandardError(const std::string &caption, const std::string &text) {
    // The text may be the board's own: it must not drive the terminal.
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), platform::EscapeControls(text).c_str());
    std::fflush(stderr);
}

// The message function is installed at start-up and read by whichever thread shows a box, so
// it is kept behind a lock; the call itself happens outside it, since a box may run a loop.
std::mutex messageFunctionLock;
MessageFunction &CurrentMessageFunction() {
    static MessageFunction current = WriteToStandardError;
    return current;
}

} // namespace

TargetCommException::TargetCommException(int32_t code, std::string detail, int32_t internalCode)
    : code_(code), text_(ExceptionText(code)), detail_(std::move(detail)),
      internalCode_(internalCode) {}

const char *ErrorMessage(int32_t code) {
    for (const CodeMessage &entry : Messages)
        if (entry.code == code) return entry.text;
    return nullptr;
}

int32_t LoaderErrorFor(int32_t internalCode) {
    const CodeMapping *mapping = FindMapping(internalCode);
    return mapping != nullptr ? mapping->loaderError : LoaderErrorCommunication;
}

const char *DiagnosticText(int32_t internalCode) {
    const CodeMapping *mapping = FindMapping(internalCode);
    return mapping != nullptr ? mapping->diagnostic : nullptr;
}

void RaiseLoaderError(int32_t internalCode, const std::string &detail) {
    const int32_t loaderError = LoaderErrorFor(internalCode);
    if (loaderError == 0) return;
    if (const char *diagnostic = DiagnosticText(internalCode)) ShowError(diagnostic);
    throw TargetCommException(loaderError, detail, internalCode);
}

MessageFunction SetMessageFunction(MessageFunction fn) {
    std::lock_guard lock(messageFunctionLock);
    MessageFunction previous = std::exchange(CurrentMessageFunction(), std::move(fn));
    if (!CurrentMessageFunction()) CurrentMessageFunction() = WriteToStandardError;
    return previous;
}

void ShowError(const std::string &text) {
    MessageFunction show;
    {
        std::lock_guard lock(messageFunctionLock);
        show = CurrentMessageFunction();
    }
    show("error", text);
}
