// RFC 2217 (Telnet Com Port Control Option) codes shared by our client and corvix-sim's server.
// A server answers client command c with c + ServerOffset and the value it applied.
#pragma once

#include <cstdint>

namespace platform::rfc2217 {

constexpr uint8_t ServerOffset = 100;

constexpr uint8_t Signature = 0;
constexpr uint8_t SetBaudRate = 1; // 4 bytes, network order; 0 asks
constexpr uint8_t SetDataSize = 2; // 5-8; 0 asks
constexpr uint8_t SetParity = 3;   // values below; 0 asks
constexpr uint8_t SetStopSize = 4; // values below; 0 asks
constexpr uint8_t SetControl = 5;  // values below
constexpr uint8_t NotifyLineState = 6;
constexpr uint8_t NotifyModemState = 7;
constexpr uint8_t FlowControlSuspend = 8;
constexpr uint8_t FlowControlResume = 9;
constexpr uint8_t SetLineStateMask = 10;
constexpr uint8_t SetModemStateMask = 11;
constexpr uint8_t PurgeData = 12;

constexpr uint8_t ParityNone = 1, ParityOdd = 2, ParityEven = 3, ParityMark = 4, ParitySpace = 5;
constexpr uint8_t StopOne = 1, StopTwo = 2, StopOneAndHalf = 3;

constexpr uint8_t ControlAskFlow = 0, ControlFlowNone = 1, ControlFlowXonXoff = 2,
                  ControlFlowHardware = 3, ControlAskBreak = 4, ControlBreakOn = 5,
                  ControlBreakOff = 6, ControlAskDtr = 7, ControlDtrOn = 8, ControlDtrOff = 9,
                  ControlAskRts = 10, ControlRtsOn = 11, ControlRtsOff = 12;

constexpr uint8_t PurgeReceive = 1, PurgeTransmit = 2, PurgeBoth = 3;

// Modem-state bits: the same values as the Windows MS_* bits, with the change flags below them.
constexpr uint8_t ModemCd = 0x80, ModemRi = 0x40, ModemDsr = 0x20, ModemCts = 0x10;
constexpr uint8_t ModemDeltaCd = 0x08, ModemTrailingRi = 0x04, ModemDeltaDsr = 0x02,
                  ModemDeltaCts = 0x01;

} // namespace platform::rfc2217
