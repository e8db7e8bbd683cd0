// Common ground of the port layer scenarios: every test starts on a fresh
// simulated host with the program's ports closed and an empty mailbox.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "midi/midi_ports.h"
#include "midi/reply_mailbox.h"
#include "platform/sim/sim_host.h"

class PortsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Closed before the reset, while the host still knows the handles.
        closeMidiIn();
        closeMidiOut();
        sim::reset();
        mailbox.replyLength = 0;
    }
    void TearDown() override {
        closeMidiIn();
        closeMidiOut();
    }
};

// What the program printed while f ran, byte for byte.
template <class F>
std::string capturedStdout(F f) {
    std::fflush(stdout);
    ::testing::internal::CaptureStdout();
    f();
    return ::testing::internal::GetCapturedStdout();
}

// A message from the device, delivered at the next sleep.
inline void deliverNow(const std::vector<uint8_t> &bytes) {
    sim::post(bytes);
    Sleep(1);
}

inline std::vector<uint8_t> mailboxBytes(uint16_t length) {
    return std::vector<uint8_t>(mailbox.replyBuffer, mailbox.replyBuffer + length);
}
