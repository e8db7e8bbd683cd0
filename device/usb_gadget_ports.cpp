#include "usb_gadget_ports.h"

UsbGadgetPorts::UsbGadgetPorts(const std::string &productName, const std::string &udcName, FrameInbox &inbox)
    : inbox_(inbox), gadget_(productName, udcName), port_(new RawMidiPort(gadget_.rawMidiDevice(), inbox)) {
    systemName_ = "USB (" + gadget_.udcName() + ")";
    inPortName_ = gadget_.rawMidiDevice();
    outPortName_ = gadget_.rawMidiDevice();
}

bool UsbGadgetPorts::send(const device::Bytes &message) { return port_ && port_->send(message); }

std::string UsbGadgetPorts::failure() const { return port_ ? port_->failure() : ""; }

// The device is closed first: with the function gone under it, its reader
// would take the detach for a failure.
void UsbGadgetPorts::unplug() {
    port_.reset();
    gadget_.detach();
}

void UsbGadgetPorts::plugIn() {
    gadget_.attach();
    port_.reset(new RawMidiPort(gadget_.rawMidiDevice(), inbox_));
}
