// The loader's user-facing error codes (LoaderError), the exception that carries one to the
// windows (TargetCommException), the mapping from the connection layer's internal codes, and
// the engine's own message boxes (ShowError).
#pragma once

#include "files/SupportFiles.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <string>

// Every code the user can see. 4, 6 and 21 are unused and have no message. 51 and above are
// support-file and image faults that the load refuses before they could reach the board.
enum LoaderError : int32_t {
    LoaderErrorColdLoaderOpen = 1,
    LoaderErrorPilotBiosOpen = 2,
    LoaderErrorProgramOpen = 3,
    LoaderErrorNoMemory = 5,
    LoaderErrorNoProcessor = 7,
    LoaderErrorColdLoaderSendOpen = 8,
    LoaderErrorPilotBiosSendOpen = 9,
    LoaderErrorIdBlockMissing = 10,
    LoaderErrorIdBlockCrc = 11,
    LoaderErrorPilotWriteRequest = 12,
    LoaderErrorPilotNoAck = 13,
    LoaderErrorPilotReadRequest = 14,
    LoaderErrorFlashIdRead = 15,
    LoaderErrorRamSizeRead = 16,
    LoaderErrorTimeout = 17,
    LoaderErrorSerialSetup = 18,
    LoaderErrorSerialOpen = 19,
    LoaderErrorCancelled = 20,
    LoaderErrorCommunication = 22,
    LoaderErrorPilotBiosSend = 23,
    LoaderErrorFlashTableMissing = 24,
    LoaderErrorUserProgramFormat = 25,
    LoaderErrorUserProgramDigest = 26,
    LoaderErrorCorvixSysAbsent = 27,
    LoaderErrorIdBlockNoCorvixSys = 28,
    LoaderErrorIdBlockNoDrivers = 29,
    LoaderErrorConsoleNegotiationSequence = 30,
    LoaderErrorConsoleNegotiation = 31,
    LoaderErrorConsoleLogin = 32,
    LoaderErrorConsoleRefused = 33,
    LoaderErrorConsoleConnect = 34,
    LoaderErrorConsoleGreeting = 35,
    LoaderErrorConsoleUserNamePrompt = 36,
    LoaderErrorConsoleUserNameSend = 37,
    LoaderErrorConsolePasswordRequired = 38,
    LoaderErrorConsolePasswordPrompt = 39,
    LoaderErrorConsolePasswordSend = 40,
    LoaderErrorConsoleLoginRefused = 41,
    LoaderErrorConsoleLoggedIn = 42,
    LoaderErrorConsolePrompt = 43,
    LoaderErrorConsoleTargetModeSend = 44,
    LoaderErrorConsoleTargetMode = 45,
    LoaderErrorConnectionInternal = 46,
    LoaderErrorConsoleAppGoSend = 47,
    LoaderErrorConsoleAppGo = 48,
    LoaderErrorConsoleLogoutSend = 49,
    LoaderErrorConsoleLogout = 50,
    LoaderErrorColdLoaderFormat = 51,
    LoaderErrorPilotBiosTooLarge = 52,
    LoaderErrorProgramTooLarge = 53,
    LoaderErrorProgramRead = 54,
};

// The support-file readers' internal codes are in files/SupportFiles.h, the connection codes
// with the connection classes; RaiseLoaderError maps both kinds.

// The failure of a load, carrying one LoaderError code. Raised by the engine's entry points and
// by the load session itself; the windows catch it and show ErrorMessage(Code()).
class TargetCommException : public std::exception {
public:
    explicit TargetCommException(int32_t code, std::string detail = {}, int32_t internalCode = 0);
    int32_t Code() const { return code_; }
    // The connection layer's code it came from (0 when it did not come from one): what a caller
    // that can mend a failure, such as asking for the passphrase again, looks at.
    int32_t InternalCode() const { return internalCode_; }
    // What failed and what to do next ("COM3 (/dev/ttyUSB0): Permission denied ..."); empty
    // when the failing layer knew nothing more than the code.
    const std::string &Detail() const { return detail_; }
    // The code's message, or "Loader error <code>" for a code that has none.
    const char *what() const noexcept override { return text_.c_str(); }

private:
    int32_t code_;
    std::string text_;
    std::string detail_;
    int32_t internalCode_;
};

// The internal code of a connect the network device dropped after our answer to its challenge:
// the passphrase was wrong.
inline constexpr int32_t PassphraseRefusedCode = 4204;

// The fixed message of a LoaderError code; nullptr for a code without one (4, 6, 21 and every
// code outside 1..54), for which nothing is shown.
const char *ErrorMessage(int32_t code);

// The LoaderError an internal code becomes, or 0 for the codes that are not failures at this
// level (253, 254, 255). Any code not known maps to LoaderErrorCommunication.
int32_t LoaderErrorFor(int32_t internalCode);
// The diagnostic text some internal codes show before their LoaderError; nullptr for the rest.
const char *DiagnosticText(int32_t internalCode);

// Maps internalCode and raises TargetCommException with the result and detail, after showing
// its diagnostic text (if any) with ShowError. Returns without raising for 253, 254 and 255.
void RaiseLoaderError(int32_t internalCode, const std::string &detail = {});

// How every message box of the engine reaches the user: the desktop program installs a modal
// box on the active window, tarnwick-cli keeps the default, a line "<caption>: <text>" on
// standard error.
using MessageFunction = std::function<void(const std::string &caption, const std::string &text)>;
// Installs fn (an empty function restores the default) and returns the one it replaces.
MessageFunction SetMessageFunction(MessageFunction fn);
// Shows text in a message box captioned "error" with one OK button; returns when it is closed.
void ShowError(const std::string &text);
