// The device model on the simulated host, with its answers to one frame
// reshaped the way a misbehaving box or a noisy line would send them:
// padded past the updater's buffer, repeated in a burst, surrounded by short
// messages. Faults the model has knobs for are set on the model itself.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device_model.h"
#include "platform/sim/sim_host.h"

namespace faults {

using Bytes = std::vector<uint8_t>;

struct Reshaping {
    uint32_t frame = 0;         // the frame (from 1) whose answers are reshaped; 0: none
    size_t padTo = 0;           // each answer padded to this many bytes, F0 .. F7 included
    int copies = 1;             // each answer sent this many times, 1 ms apart
    bool shortsAround = false;  // real-time and channel messages with each answer
};

class FaultPeer : public sim::Peer {
  public:
    FaultPeer(device::Model &model, const Reshaping &reshaping) : model_(model), reshaping_(reshaping) {}
    bool onFrame(const uint8_t *frame, size_t length, uint64_t nowMs) override;
    // Short messages posted so far.
    int shortsPosted() const { return shortsPosted_; }

  private:
    void post(const Bytes &bytes, uint32_t delayMs);

    device::Model &model_;
    Reshaping reshaping_;
    uint32_t frames_ = 0;
    int shortsPosted_ = 0;
};

}  // namespace faults
