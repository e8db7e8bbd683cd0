#include "fault_peer.h"

namespace faults {

namespace {

const Bytes timingClock = {0xF8};
const Bytes activeSensing = {0xFE};
const Bytes noteOn = {0x90, 0x3C, 0x40};

}  // namespace

bool FaultPeer::onFrame(const uint8_t *frame, size_t length, uint64_t nowMs) {
    ++frames_;
    device::FrameResult result = model_.onFrame(frame, length, nowMs);
    bool reshaped = frames_ == reshaping_.frame;
    for (const device::Outgoing &message : result.messages) {
        if (!reshaped) {
            post(message.bytes, message.delayMs);
            continue;
        }
        Bytes bytes = message.bytes;
        if (reshaping_.padTo > bytes.size() && bytes.size() >= 2) {
            // Data bytes after the code, below 0x80 as SysEx data must be.
            bytes.pop_back();
            while (bytes.size() + 1 < reshaping_.padTo) bytes.push_back(static_cast<uint8_t>(bytes.size() & 0x7F));
            bytes.push_back(0xF7);
        }
        // Real-time bytes that interrupt a SysEx message reach the program as
        // messages of their own, at the same instant, before and after it.
        if (reshaping_.shortsAround) {
            post(timingClock, message.delayMs);
            post(activeSensing, message.delayMs);
        }
        for (int copy = 0; copy < reshaping_.copies; ++copy) post(bytes, message.delayMs + uint32_t(copy));
        if (reshaping_.shortsAround) {
            post(timingClock, message.delayMs);
            post(noteOn, message.delayMs + 1);
        }
    }
    return result.accepted;
}

void FaultPeer::post(const Bytes &bytes, uint32_t delayMs) {
    if (!bytes.empty() && bytes[0] != 0xF0) ++shortsPosted_;
    sim::post(bytes, delayMs);
}

}  // namespace faults
