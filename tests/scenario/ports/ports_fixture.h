// Common ground of the port layer scenarios: every test, and every row of a
// table, starts on a fresh simulated host with the program's ports closed and
// an empty mailbox.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "midi/midi_ports.h"
#include "midi/reply_mailbox.h"
#include "platform/sim/sim_host.h"
#include "support/scenario_case.h"
#include "support/stdout_capture.h"

using testkit::caseName;

// What the program printed while f ran, byte for byte.
template <class F>
std::string capturedStdout(F f) {
    testkit::StdoutCapture capture;
    f();
    return capture.finish();
}

// What a test starts with: a bare host, or the usual machine (one USB device
// as port 0 on both sides) with none or one of the program's ports open.
enum class Start { bareHost, deviceOnly, inputOpen, outputOpen };

template <Start start>
class Ports : public ::testing::Test {
  protected:
    void SetUp() override {
        // Closed before the reset, while the host still knows the handles.
        closeMidiIn();
        closeMidiOut();
        sim::reset();
        mailbox.replyLength = 0;
        if (start != Start::bareHost) sim::setSingleDevice();
        if (start == Start::inputOpen) capturedStdout([] { ASSERT_EQ(0, openMidiIn(0)); });
        if (start == Start::outputOpen) capturedStdout([] { ASSERT_EQ(0, openMidiOut(0)); });
    }
    void TearDown() override {
        closeMidiIn();
        closeMidiOut();
    }
};

// A table over fixture F: each row runs as a test of its own.
template <class F, class Row>
class Rows : public F, public ::testing::WithParamInterface<Row> {};

// A message from the device, delivered at the next sleep.
inline void deliverNow(const std::vector<uint8_t> &bytes) {
    sim::post(bytes);
    Sleep(1);
}
