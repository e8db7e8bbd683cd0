// The protocol fuzzer's input read as a script for one run: a small kit
// (sound or damaged), the faults of the device model, the device's messages
// of its own, and whether every verdict stays in step with its record.
#pragma once

#include <cstdint>
#include <vector>

#include "device_model.h"
#include "base/wire_constants.h"

class FuzzedDataProvider;

using Bytes = std::vector<uint8_t>;

// A message of the device's own, posted delayMs after frame afterFrame.
struct Injection {
    uint32_t afterFrame;
    uint32_t delayMs;
    Bytes bytes;
};

struct Script {
    Bytes kit;
    device::Faults faults;
    std::vector<Injection> injections;
    int stillPlaying = 0;
    // Every verdict arrives inside its own record's wait, and nothing else
    // that could be taken for a verdict comes while records go out.
    bool inStep = true;
};

constexpr int maxRecords = 4;

inline bool looksLikeReply(const Bytes &message) { return message.size() >= 2 && message[0] == wire::sysExStart; }

// Reads the whole script; the corpus depends on the order of what is read.
Script readScript(FuzzedDataProvider &in);
