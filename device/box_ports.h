// Where the box meets the updater: two virtual ports on a MIDI system, a
// kernel raw MIDI device, or a USB device port. Frames that arrive go to the
// inbox the ports were opened with; answers go out from the main thread.
#pragma once

#include <string>

#include "device_model.h"

class BoxPorts {
  public:
    virtual ~BoxPorts() = default;

    // False when the message could not be sent.
    virtual bool send(const device::Bytes &message) = 0;

    // Why no frame can arrive any more; empty while frames can.
    virtual std::string failure() const { return ""; }

    // Off the bus, as a pulled cable, and on it again: a USB device only.
    // plugIn() throws std::runtime_error when the device cannot come back.
    virtual bool canUnplug() const { return false; }
    virtual void unplug() {}
    virtual void plugIn() {}

    // "ALSA", "JACK", "raw MIDI" or "USB (controller)", and the names other
    // programs see the ports by.
    const std::string &systemName() const { return systemName_; }
    const std::string &inPortName() const { return inPortName_; }
    const std::string &outPortName() const { return outPortName_; }

  protected:
    std::string systemName_;
    std::string inPortName_;
    std::string outPortName_;
};
