// The box's two MIDI ports, made with RtMidi as virtual ports on the ALSA
// sequencer or on a running JACK server (never one started for the purpose).
// On JACK the output is the updater's own (jack_midi_out.h says why).
// Frames that arrive go to the inbox; answers go out from the main thread.
#pragma once

#include <RtMidi.h>

#include <memory>
#include <string>

#include "box_ports.h"
#include "device_model.h"
#include "frame_inbox.h"
#include "target_options.h"

struct LibraryErrors;
struct JackMidiOut;

class VirtualPorts : public BoxPorts {
  public:
    // Opens both ports; throws std::runtime_error with a message for the
    // user when it cannot. automatic takes ALSA where its sequencer opens.
    VirtualPorts(MidiSystem system, const std::string &name, FrameInbox &inbox);
    ~VirtualPorts() override;
    VirtualPorts(const VirtualPorts &) = delete;
    VirtualPorts &operator=(const VirtualPorts &) = delete;

    // False when the library refused the message.
    bool send(const device::Bytes &message) override;

  private:
    void open(MidiSystem system, const std::string &name, FrameInbox &inbox);
    // One try at both ports; the library's complaint, or empty when both opened.
    std::string openPorts(RtMidi::Api api, const std::string &inClient, const std::string &outClient,
                          FrameInbox &inbox);

    // One record per direction, so that a report about one never fails the other.
    std::unique_ptr<LibraryErrors> inErrors_;
    std::unique_ptr<LibraryErrors> outErrors_;
    std::unique_ptr<RtMidiIn> in_;
    std::unique_ptr<RtMidiOut> out_;
    JackMidiOut *jackOut_ = nullptr;
};
