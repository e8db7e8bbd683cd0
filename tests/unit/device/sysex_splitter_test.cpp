#include "sysex_splitter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

// The longest message passes whole; one byte more and it is dropped, and the
// next message is not harmed.
TEST(SysExSplitter, DropsAnOverlongMessageWhole) {
    for (size_t size : {SysExSplitter::maxMessageBytes, SysExSplitter::maxMessageBytes + 1}) {
        device::Bytes message(size, 0x41);
        message.front() = 0xF0;
        message.back() = 0xF7;
        const device::Bytes reply = {0xF0, 0x1A, 0xF7};
        device::Bytes stream = message;
        for (uint8_t byte : reply) stream.push_back(byte);
        Messages expected = size <= SysExSplitter::maxMessageBytes ? Messages{message, reply} : Messages{reply};
        expectSplit({"a message of " + std::to_string(size) + " bytes", stream, expected});
    }
}

}  // namespace
