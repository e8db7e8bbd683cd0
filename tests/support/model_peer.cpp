#include "support/model_peer.h"

namespace testkit {

bool ModelPeer::onFrame(const uint8_t *frame, size_t length, uint64_t nowMs) {
    device::FrameResult result = model_.onFrame(frame, length, nowMs);
    for (const device::Outgoing &message : result.messages) sim::post(message.bytes, message.delayMs);
    return result.accepted;
}

}  // namespace testkit
