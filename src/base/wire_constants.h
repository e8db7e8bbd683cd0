// What the updater and the device must agree on. The device model includes
// this header and nothing else of the program.
#pragma once

#include <cstdint>

namespace wire {

constexpr uint8_t sysExStart = 0xF0;
constexpr uint8_t sysExEnd = 0xF7;

// Data bytes of one SysEx frame at most, and kit bytes per full frame.
constexpr uint16_t maxFrameData = 46;
constexpr uint16_t kitBytesPerFrame = 23;

// Handshake: six key bytes then the product code, all below 0x80.
constexpr uint8_t handshakeMessage[7] = {0x3C, 0x11, 0x52, 0x07, 0x68, 0x4D, 0x23};
constexpr uint16_t handshakeLength = 7;

constexpr uint8_t productCode = 0x23;
constexpr uint8_t codeRestarting = 0x15;

// Verdicts on a record.
constexpr uint8_t codeAccepted = 0x1A;
constexpr uint8_t codeCrcError = 0x20;
// A damaged record is reported with either of two codes, which mean the same.
constexpr uint8_t codeDamaged = 0x21;
constexpr uint8_t codeDamagedAlternate = 0x22;
constexpr uint8_t codeVerifyError = 0x24;
constexpr uint8_t codeEraseError = 0x25;
constexpr uint8_t codeUpdateComplete = 0x77;

// The reply buffer the updater hands to the platform.
constexpr uint16_t replyBufferSize = 200;

}  // namespace wire
