// The CorvixSys console dialogue against a console that says anything: the Telnet offers, the
// login texts, the answers to "targetmd" or to "app go" and "logout", read from a peer on
// 127.0.0.1 that plays the input and then closes; after a login to passthrough, the packets
// behind it go to the reader thread and through the hooked window to their handlers. Every way
// out is a console code or the end of the reader when the console closes, never a wait that
// outlasts the console.
//
// Input: one byte (bit 0: start the program instead of entering passthrough; bits 1-2: which
// console texts), then what the console sends.
#include "FuzzSupport.h"

#include "settings/SettingsTable.h"
#include "targetos/TCorvixSysConnection.h"

using namespace platform;

namespace {

// No login wait has to outlast a console that has said all it will; this bounds a stuck one.
constexpr uint32_t LoginWaitMs = 1000;
// The reader must see the console close long before this.
constexpr int64_t ReaderEndWaitMs = 5000;

// The console texts as the settings give them by default, and variants that take the other
// branch of the login reply or sit at the edges of the buffers.
CommOptions OptionsFor(uint8_t profile, uint16_t port) {
    Environment env;
    for (const Setting &setting : CommunicationsSettings())
        if (setting.Kind == SettingKind::Text && setting.DefaultText != nullptr &&
            setting.StoreText)
            setting.StoreText(env, setting.DefaultText);
    CommOptions options = env.Comm;
    SetField(options.CorvixSysAddress, "127.0.0.1");
    options.CorvixSysTcpPort = port;
    SetField(options.CorvixSysUserName, "user");
    SetField(options.CorvixSysPassword, "secret");
    switch (profile) {
    case 1: // a refusal shorter than the welcome
        SetField(options.ConsoleBadUserNameMessage, "530 No");
        break;
    case 2: // texts as long as the receive buffer takes, an empty password
        SetField(options.ConsoleGreetingMessage,
                 std::string(TCorvixSysConnection::ReceiveBufferSize - 3, 'G'));
        SetField(options.ConsoleLoggedInMessage,
                 std::string(TCorvixSysConnection::ReceiveBufferSize - 3, 'L'));
        SetField(options.CorvixSysPassword, "");
        break;
    case 3: // no newline at all
        SetField(options.ConsoleNewline, "");
        break;
    default: break;
    }
    return options;
}

bool IsConsoleEnd(int32_t code) {
    return (code >= ConsoleCode::Receive && code <= ConsoleCode::Logout) ||
           code == ConnCode::PeerClosed || code == ConnCode::UnregisteredEntry;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    static fuzz::Window window;
    static fuzz::LoopbackPeer peer;
    const bool runProgram = (data[0] & 1) != 0;
    const uint8_t profile = static_cast<uint8_t>((data[0] >> 1) & 3);
    peer.Play(data + 1, size - 1);
    {
        auto console = std::make_unique<TCorvixSysConnection>(window.Handle());
        console->SetSettings(OptionsFor(profile, peer.Port()));
        console->SetConnectWait(LoginWaitMs);
        fuzz::HandlerSetup handlers;
        handlers.Apply(*console, 0x03, 0); // every code, handed to a callback
        try {
            if (runProgram) {
                console->RunProgram();
            } else {
                console->Connect(ConnMode::Packet);
                WaitSpec spec;
                spec.timeoutMs = ReaderEndWaitMs;
                console->Wait(spec);
                fuzz::Fail("the reader went on after the console closed");
            }
        } catch (const xConnectionErr &error) {
            fuzz::Check(IsConsoleEnd(error.Code()), "the dialogue ended with an unexpected code");
        }
        console->Close();
    }
    peer.Finish();
    return 0;
}
