// The box as a USB MIDI device: a gadget in configfs with one MIDI function,
// bound to a USB device controller (a board's device port, or dummy_hcd's
// for a host on the same machine). The host's USB MIDI driver binds it as it
// binds a plugged-in Tarnwick Box; on this side the function is a sound card
// with a raw MIDI device that carries the cable's bytes.
//
// Made through libusbgx; removed whenever the object goes, so a box that
// ends in any way but SIGKILL leaves no gadget behind.
#pragma once

#include <string>

struct usbg_state;
struct usbg_gadget;
struct usbg_udc;

class UsbGadget {
  public:
    // Makes the gadget and attaches it to the bus of the controller named
    // udcName, or of the first one when it is empty. Throws
    // std::runtime_error with a message for the user when it cannot, having
    // removed whatever it had made.
    UsbGadget(const std::string &productName, const std::string &udcName);
    ~UsbGadget();
    UsbGadget(const UsbGadget &) = delete;
    UsbGadget &operator=(const UsbGadget &) = delete;

    // Off the bus and on again, as a pulled and replugged cable. The raw MIDI
    // device goes with the function while detached. attach() throws as the
    // constructor does.
    void detach();
    void attach();

    const std::string &udcName() const { return udcName_; }
    // This side's raw MIDI device, /dev/snd/midiC<N>D0, once attached.
    const std::string &rawMidiDevice() const { return rawMidiDevice_; }

  private:
    void make(const std::string &productName, const std::string &udcName);
    void remove();

    usbg_state *state_ = nullptr;
    usbg_gadget *gadget_ = nullptr;
    usbg_udc *udc_ = nullptr;
    bool attached_ = false;
    std::string udcName_;
    std::string rawMidiDevice_;
};
