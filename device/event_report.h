// The lines tarnwick-target prints: what the box made of each frame, each
// answer as it leaves, and the summary at the end. Text only; the caller
// prints.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device_model.h"

// Up to a dozen bytes in hex, "F0 1A F7"; longer messages end in "...".
std::string hexBytes(const device::Bytes &bytes);

// What one frame did: a line for a record dropped on its arrival, the frame
// line, then a handshake or record line when the frame completed one. before
// and after are the box's counters around it.
std::vector<std::string> describeFrame(uint32_t frameNumber, const device::Bytes &frame,
                                       const device::FrameResult &result, const device::Counters &before,
                                       const device::Counters &after, size_t imageSize);

// What the image should be: its size, or the kit's very bytes.
struct ImageExpectation {
    std::optional<uint32_t> size;
    std::optional<device::Bytes> kit;
};

// "complete", or what is missing or wrong; nothing when nothing was expected.
std::optional<std::string> imageVerdict(const device::Bytes &image, const ImageExpectation &expected);

bool imageAsExpected(const device::Bytes &image, const ImageExpectation &expected);

std::string summaryLine(const device::Counters &counters, const device::Bytes &image, const ImageExpectation &expected);
