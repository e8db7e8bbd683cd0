// The box on a USB device port (usb_gadget.h): it speaks through the MIDI
// function's raw MIDI device as through any other (raw_midi_port.h), and can
// leave the bus and come back as a device whose cable is pulled or that
// restarts.
#pragma once

#include <memory>
#include <string>

#include "box_ports.h"
#include "frame_inbox.h"
#include "raw_midi_port.h"
#include "usb_gadget.h"

class UsbGadgetPorts : public BoxPorts {
  public:
    // Throws std::runtime_error with a message for the user when the gadget
    // cannot be made or its device opened; nothing is left behind then.
    UsbGadgetPorts(const std::string &productName, const std::string &udcName, FrameInbox &inbox);

    bool send(const device::Bytes &message) override;
    std::string failure() const override;
    bool canUnplug() const override { return true; }
    void unplug() override;
    void plugIn() override;

  private:
    FrameInbox &inbox_;
    UsbGadget gadget_;
    std::unique_ptr<RawMidiPort> port_;  // none while off the bus
};
