// A stand-in for the device on the private JACK server: a virtual output port
// and a virtual input port that record every message and, when asked to,
// answer the handshake and accept every record.
#pragma once

#include <RtMidi.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

typedef std::vector<unsigned char> Bytes;

class VirtualBox {
  public:
    explicit VirtualBox(bool answers);
    // Sends one message from the box's output port.
    void send(const Bytes &message);
    // Waits until `count` messages have come in, for at most `limit`.
    bool waitForMessages(size_t count, std::chrono::milliseconds limit);
    std::vector<Bytes> received();

  private:
    static void onMessage(double, std::vector<unsigned char> *message, void *box);
    bool answers;
    std::mutex lock;
    std::condition_variable arrived;
    std::vector<Bytes> messages;
    RtMidiOut out;
    RtMidiIn in;
};
