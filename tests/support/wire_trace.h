// Frames as a reviewer reads them: one line per frame, its virtual time, its
// bytes in hex.
#pragma once

#include <string>
#include <vector>

#include "platform/sim/sim_host.h"

namespace testkit {

// "   120 ms  F0 30 30 ... F7\n" for each frame.
std::string wireTrace(const std::vector<sim::SentFrame> &frames);

// The data bytes of a frame, without F0 and F7, as text.
std::string frameData(const sim::SentFrame &frame);

}  // namespace testkit
