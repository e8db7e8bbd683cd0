// Cuts a raw MIDI byte stream into SysEx messages, as a device's receiver
// does: a message runs from F0 to F7; real-time bytes (F8 to FF) may fall
// anywhere and are passed over; any other status byte ends a message that
// has no F7 yet, which is then dropped, as is everything outside a message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "device_model.h"

class SysExSplitter {
  public:
    // Longer messages are dropped whole: no frame of the updater comes near.
    static constexpr size_t maxMessageBytes = 1024;

    // The messages that the bytes complete, F0 and F7 included, in order.
    std::vector<device::Bytes> feed(const uint8_t *bytes, size_t count);

  private:
    device::Bytes message_;
    bool inMessage_ = false;
    bool tooLong_ = false;
};
