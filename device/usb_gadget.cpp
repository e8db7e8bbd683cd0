#include "usb_gadget.h"

#include <unistd.h>
#include <usbg/function/midi.h>
#include <usbg/usbg.h>

#include <cctype>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace {

const char configfsPath[] = "/sys/kernel/config";
const char gadgetFolder[] = "/sys/kernel/config/usb_gadget";
// The Linux Foundation's IDs for a composite gadget, as Linux's own example
// gadgets use them: this box is a test device, not a product with IDs of its own.
const uint16_t vendorId = 0x1d6b;
const uint16_t productId = 0x0104;
// ALSA numbers at most 32 cards. The function's card takes the highest free
// number, so that the host's card for the device, on the same machine, comes
// first, as a plugged-in device's does on a desktop.
const int highestCardIndex = 31;
const int deviceNodeWaitMs = 5000;

std::string gadgetNameFor(const std::string &productName) {
    std::string name = productName;
    for (char &c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

int freeCardIndex() {
    for (int index = highestCardIndex; index > 0; --index)
        if (access(("/proc/asound/card" + std::to_string(index)).c_str(), F_OK) != 0) return index;
    return -1;
}

std::string libraryError(const std::string &what, int error) {
    return what + ": " + usbg_strerror(static_cast<usbg_error>(error));
}

bool waitForNode(const std::string &path) {
    for (int waited = 0; waited < deviceNodeWaitMs; waited += 10) {
        if (access(path.c_str(), R_OK | W_OK) == 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

}  // namespace

UsbGadget::UsbGadget(const std::string &productName, const std::string &udcName) {
    try {
        make(productName, udcName);
    } catch (...) {
        remove();
        throw;
    }
}

UsbGadget::~UsbGadget() { remove(); }

void UsbGadget::make(const std::string &productName, const std::string &udcName) {
    if (geteuid() != 0) throw std::runtime_error("only root can make a USB gadget (it is made in configfs)");
    if (access(gadgetFolder, F_OK) != 0)
        throw std::runtime_error(std::string("no USB gadget support at ") + gadgetFolder +
                                 ": load libcomposite (modprobe libcomposite) and mount configfs on " + configfsPath);
    int error = usbg_init(configfsPath, &state_);
    if (error != USBG_SUCCESS) throw std::runtime_error(libraryError(std::string("cannot use ") + gadgetFolder, error));

    std::string name = gadgetNameFor(productName);
    if (usbg_get_gadget(state_, name.c_str()) != nullptr)
        throw std::runtime_error("a USB gadget named '" + name + "' is already there (" + gadgetFolder + "/" + name +
                                 "): another tarnwick-target has it, or one that was killed left it behind");

    udc_ = udcName.empty() ? usbg_get_first_udc(state_) : usbg_get_udc(state_, udcName.c_str());
    if (udc_ == nullptr) {
        if (!udcName.empty())
            throw std::runtime_error("no USB device controller named '" + udcName + "' in /sys/class/udc");
        throw std::runtime_error(
            "no USB device controller (/sys/class/udc is empty): use a board with a USB device port, or load "
            "dummy_hcd for a host on this machine");
    }
    udcName_ = usbg_get_udc_name(udc_);
    if (usbg_gadget *holder = usbg_get_udc_gadget(udc_))
        throw std::runtime_error("the USB device controller '" + udcName_ + "' is in use by the gadget '" +
                                 usbg_get_gadget_name(holder) + "'");

    usbg_gadget_attrs attributes = {};
    attributes.bcdUSB = 0x0200;
    attributes.idVendor = vendorId;
    attributes.idProduct = productId;
    attributes.bcdDevice = 0x0100;
    std::string manufacturer = "tarnwick-target", serial = "0";
    usbg_gadget_strs strings = {&manufacturer[0], const_cast<char *>(productName.c_str()), &serial[0]};
    error = usbg_create_gadget(state_, name.c_str(), &attributes, &strings, &gadget_);
    if (error != USBG_SUCCESS)
        throw std::runtime_error(libraryError("cannot make the USB gadget '" + name + "'", error));

    int cardIndex = freeCardIndex();
    if (cardIndex < 0) throw std::runtime_error("no free sound card number for the USB MIDI function");
    usbg_f_midi_attrs midiAttributes = {cardIndex, productName.c_str(), 1, 1, 512, 32};
    usbg_function *function = nullptr;
    error = usbg_create_function(gadget_, USBG_F_MIDI, "usb0", &midiAttributes, &function);
    if (error != USBG_SUCCESS)
        throw std::runtime_error(libraryError("cannot make the USB MIDI function (modprobe usb_f_midi)", error));
    usbg_config_strs configStrings = {const_cast<char *>(productName.c_str())};
    usbg_config *config = nullptr;
    error = usbg_create_config(gadget_, 1, "c", nullptr, &configStrings, &config);
    if (error == USBG_SUCCESS) error = usbg_add_config_function(config, "midi.usb0", function);
    if (error != USBG_SUCCESS) throw std::runtime_error(libraryError("cannot configure the USB gadget", error));
    rawMidiDevice_ = "/dev/snd/midiC" + std::to_string(cardIndex) + "D0";
    attach();
}

void UsbGadget::attach() {
    int error = usbg_enable_gadget(gadget_, udc_);
    if (error != USBG_SUCCESS)
        throw std::runtime_error(libraryError("cannot attach the USB gadget to '" + udcName_ + "'", error));
    attached_ = true;
    if (!waitForNode(rawMidiDevice_))
        throw std::runtime_error("the USB MIDI function's raw MIDI device " + rawMidiDevice_ + " did not appear");
}

void UsbGadget::detach() {
    if (attached_) usbg_disable_gadget(gadget_);
    attached_ = false;
}

void UsbGadget::remove() {
    detach();
    if (gadget_ != nullptr) usbg_rm_gadget(gadget_, USBG_RM_RECURSE);
    gadget_ = nullptr;
    if (state_ != nullptr) usbg_cleanup(state_);
    state_ = nullptr;
}
