// The device model on the simulated host: frames from the program go to the
// model, and what it answers is posted back with the model's delays.
#pragma once

#include "device_model.h"
#include "platform/sim/sim_host.h"

namespace testkit {

class ModelPeer : public sim::Peer {
  public:
    explicit ModelPeer(device::Model &model) : model_(model) {}
    bool onFrame(const uint8_t *frame, size_t length, uint64_t nowMs) override {
        device::FrameResult result = model_.onFrame(frame, length, nowMs);
        for (const device::Outgoing &message : result.messages) sim::post(message.bytes, message.delayMs);
        return result.accepted;
    }

  private:
    device::Model &model_;
};

}  // namespace testkit
