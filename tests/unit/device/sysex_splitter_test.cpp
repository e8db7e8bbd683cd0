#include "sysex_splitter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/sysex_bytes.h"

namespace {

using Messages = std::vector<device::Bytes>;

struct SplitCase {
    std::string what;
    device::Bytes stream;
    Messages expected;
};

// Each stream fed in one piece, then byte by byte, as reads may cut it anywhere.
void expectSplit(const SplitCase &c) {
    SysExSplitter whole;
    EXPECT_EQ(c.expected, whole.feed(c.stream.data(), c.stream.size())) << c.what;
    SysExSplitter bytewise;
    Messages got;
    for (uint8_t byte : c.stream)
        for (device::Bytes &message : bytewise.feed(&byte, 1)) got.push_back(message);
    EXPECT_EQ(c.expected, got) << c.what << ", byte by byte";
}

TEST(SysExSplitter, KeepsWholeMessagesOnlyAsADeviceReceives) {
    const SplitCase cases[] = {
        {"two messages back to back",
         {0xF0, 0x30, 0x31, 0xF7, 0xF0, 0x41, 0xF7},
         {{0xF0, 0x30, 0x31, 0xF7}, {0xF0, 0x41, 0xF7}}},
        {"clock and active sensing inside", {0xF0, 0x30, 0xF8, 0x31, 0xFE, 0xF7}, {{0xF0, 0x30, 0x31, 0xF7}}},
        {"channel messages and stray data outside",
         {0x90, 0x40, 0x7F, 0x41, 0xF7, 0xF0, 0x23, 0xF7, 0x12},
         {{0xF0, 0x23, 0xF7}}},
        {"a note-on cuts a message short", {0xF0, 0x30, 0x31, 0x90, 0x40, 0x7F, 0xF7}, {}},
        {"a new start drops the unfinished one", {0xF0, 0x30, 0xF0, 0x41, 0xF7}, {{0xF0, 0x41, 0xF7}}},
        {"an empty message", {0xF0, 0xF7}, {{0xF0, 0xF7}}},
        {"no end yet", {0xF0, 0x30, 0x31}, {}},
    };
    for (const SplitCase &c : cases) expectSplit(c);
}

// The longest message a device takes (1,024 bytes) passes whole; one byte
// more and it is dropped, and the next message is not harmed.
TEST(SysExSplitter, DropsAnOverlongMessageWhole) {
    const device::Bytes reply = {0xF0, 0x1A, 0xF7};
    for (size_t size : {1024, 1025}) {
        device::Bytes stream = testkit::sysEx(size, 0x41);
        const Messages expected = size == 1024 ? Messages{stream, reply} : Messages{reply};
        for (uint8_t byte : reply) stream.push_back(byte);
        expectSplit({"a message of " + std::to_string(size) + " bytes", stream, expected});
    }
}

}  // namespace
