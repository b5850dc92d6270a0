#include "loader/LoaderErrors.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

// Collects what the engine shows, for the length of one test.
class ShownMessages {
public:
    ShownMessages()
        : previous_(SetMessageFunction([this](const std::string &caption, const std::string &text) {
              shown.push_back(caption + ": " + text);
          })) {}
    ~ShownMessages() { SetMessageFunction(previous_); }
    std::vector<std::string> shown;

private:
    MessageFunction previous_;
};

// What RaiseLoaderError does with a code: the LoaderError raised (0 for none) and the messages
// shown before it.
std::pair<int32_t, std::vector<std::string>> Raise(int32_t internalCode) {
    ShownMessages messages;
    int32_t raised = 0;
    try {
        RaiseLoaderError(internalCode);
    } catch (const TargetCommException &failure) {
        raised = failure.Code();
    }
    return {raised, messages.shown};
}

struct Mapping {
    int32_t loaderError;
    const char *diagnostic;
};

const std::map<int32_t, Mapping> ExpectedMappings = {
    {2000, {19, nullptr}},
    {2001, {18, nullptr}},
    {2002, {22, "Error reading bytes"}},
    {2003, {22, "Read: Error creating overlapped structure"}},
    {2004, {22, "Read: WaitForSingleObject failed"}},
    {3012, {32, nullptr}},
    {3013, {33, nullptr}},
    {3014, {34, nullptr}},
    {3015, {35, nullptr}},
    {3016, {36, nullptr}},
    {3017, {37, nullptr}},
    {3018, {38, nullptr}},
    {3019, {39, nullptr}},
    {3020, {40, nullptr}},
    {3021, {41, nullptr}},
    {3022, {42, nullptr}},
    {3023, {43, nullptr}},
    {3024, {44, nullptr}},
    {3025, {45, nullptr}},
    {3026, {30, nullptr}},
    {3027, {31, nullptr}},
    {3028, {47, nullptr}},
    {3029, {48, nullptr}},
    {3030, {49, nullptr}},
    {3031, {50, nullptr}},
    {4096, {22, "could not get wnd proc address"}},
    {4097, {22, "could not create read thread"}},
    {4099, {22, "No callback registered"}},
    {4100, {22, "Data too long"}},
    {4101, {22, "write overlap create failed"}},
    {4102, {22, "write failed - not delayed"}},
    {4103, {22, "write failed - not complete"}},
    {4104, {22, "write - wait for single object failed"}},
    {4105, {17, nullptr}},
    {4124, {20, nullptr}},
    {4126, {46, nullptr}},
    {5000, {7, nullptr}},
    {5001, {8, nullptr}},
    {5002, {51, nullptr}},
    {6000, {10, nullptr}},
    {6001, {11, nullptr}},
    {6002, {12, nullptr}},
    {6003, {13, nullptr}},
    {6004, {14, nullptr}},
    {6005, {15, nullptr}},
    {6006, {16, nullptr}},
    {6007, {9, nullptr}},
    {6008, {23, nullptr}},
    {6009, {52, nullptr}},
};

} // namespace

TEST(RaiseLoaderError, EveryListedCodeMapsAndShowsItsDiagnosticFirst) {
    for (const auto &[internalCode, expected] : ExpectedMappings) {
        const auto [raised, shown] = Raise(internalCode);
        EXPECT_EQ(raised, expected.loaderError) << internalCode;
        EXPECT_EQ(LoaderErrorFor(internalCode), expected.loaderError) << internalCode;
        if (expected.diagnostic != nullptr)
            EXPECT_EQ(shown, std::vector<std::string>{std::string("error: ") + expected.diagnostic})
                << internalCode;
        else
            EXPECT_TRUE(shown.empty()) << internalCode;
    }
}

TEST(RaiseLoaderError, CodesNotListedAreCommunicationErrors) {
    for (const int32_t internalCode :
         {0,    1,    22,   252,  256,  1999, 2005, 3000, 3001, 3002, 3004,
          3007, 3008, 3011, 4003, 4004, 4098, 4122, 4125, 5003, 6010, -1}) {
        const auto [raised, shown] = Raise(internalCode);
        EXPECT_EQ(raised, LoaderErrorCommunication) << internalCode;
        EXPECT_TRUE(shown.empty()) << internalCode;
    }
}

TEST(RaiseLoaderError, Codes253To255RaiseNothing) {
    for (const int32_t internalCode : {253, 254, 255}) {
        const auto [raised, shown] = Raise(internalCode);
        EXPECT_EQ(raised, 0) << internalCode;
        EXPECT_TRUE(shown.empty()) << internalCode;
    }
}

TEST(ErrorMessage, EveryCodeHasItsFixedText) {
    const std::map<int32_t, std::string> expected = {
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
        {33, "CorvixSys refused connection attempt.  Check that the port setting is correct and "
             "that a console session is not already established."},
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
        {44, "An error occurred while sending the target communication passthrough mode command "
             "to the CorvixSys console."},
        {45, "Did not receive expected target communication passthrough mode confirmation from "
             "the CorvixSys console."},
        {46, "An internal error in the target communication connection has occurred."},
        {47, "An error occurred while sending the app go command to the CorvixSys console."},
        {48, "Did not receive expected app go confirmation from the CorvixSys console."},
        {49, "An error occurred while sending the logout command to the CorvixSys console."},
        {50, "Did not receive expected logout confirmation from the CorvixSys console."},
        {51, "Cold loader file is not formatted correctly."},
        {52, "Pilot BIOS file is too large."},
        {53, "Program (.bin) file is too large for the flash."},
        {54, "Could not read program (.bin) file."},
    };
    for (int32_t code = -2; code <= 60; ++code) {
        const char *message = ErrorMessage(code);
        const auto found = expected.find(code);
        if (found == expected.end()) {
            EXPECT_EQ(message, nullptr) << code;
            continue;
        }
        ASSERT_NE(message, nullptr) << code;
        EXPECT_EQ(message, found->second) << code;
    }
    EXPECT_EQ(ErrorMessage(254), nullptr);
}

TEST(TargetCommException, CarriesItsCodeAndMessage) {
    const TargetCommException timeout(LoaderErrorTimeout);
    EXPECT_EQ(timeout.Code(), 17);
    EXPECT_STREQ(timeout.what(), "Timeout while waiting for response from target.");
    EXPECT_STREQ(TargetCommException(21).what(), "Loader error 21");
}

TEST(ShowError, GoesThroughTheInstalledFunctionWithCaptionError) {
    {
        ShownMessages messages;
        ShowError("Data too long");
        EXPECT_EQ(messages.shown, std::vector<std::string>{"error: Data too long"});
    }
    // An empty function puts the default back: one line on standard error.
    const MessageFunction previous = SetMessageFunction({});
    testing::internal::CaptureStderr();
    ShowError("System Nak - reason: 01 type: 00, subtype: 03");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "error: System Nak - reason: 01 type: 00, subtype: 03\n");
    SetMessageFunction(previous);
}
