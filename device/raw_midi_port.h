// The box behind a kernel raw MIDI device (/dev/snd/midiC*D*), the way a
// USB MIDI device's firmware sees its cable: plain reads and writes of MIDI
// bytes. On the other side of an snd-virmidi device the updater finds a
// kernel sequencer client, as it finds a real Tarnwick Box.
//
// A thread of its own reads the device, cuts SysEx messages out of the byte
// stream and puts them into the inbox; answers are written from the main
// thread.
#pragma once

#include <mutex>
#include <string>
#include <thread>

#include "box_ports.h"
#include "frame_inbox.h"

class RawMidiPort : public BoxPorts {
  public:
    // Throws std::runtime_error with a message for the user when the device
    // cannot be opened.
    RawMidiPort(const std::string &device, FrameInbox &inbox);
    ~RawMidiPort() override;
    RawMidiPort(const RawMidiPort &) = delete;
    RawMidiPort &operator=(const RawMidiPort &) = delete;

    bool send(const device::Bytes &message) override;
    std::string failure() const override;

  private:
    void readUntilStopped(FrameInbox &inbox);
    void fail(const std::string &why, FrameInbox &inbox);

    int device_ = -1;
    int stopPipe_[2] = {-1, -1};
    mutable std::mutex failureMutex_;
    std::string failure_;
    std::thread reader_;
};
