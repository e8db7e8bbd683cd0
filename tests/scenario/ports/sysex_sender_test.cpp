// Frames on the wire from sendSysEx, and how long it holds the caller.
#include <vector>

#include "base/wire_constants.h"
#include "midi/sysex_sender.h"
#include "ports_fixture.h"

namespace {

using Sender = Ports<Start::outputOpen>;

// Data bytes below 0x80, as the callers supply them.
std::vector<uint8_t> dataBytes(size_t count) {
    std::vector<uint8_t> data(count);
    for (size_t i = 0; i < count; ++i) data[i] = static_cast<uint8_t>((i * 5 + 0x30) & 0x7F);
    return data;
}

std::vector<uint8_t> framed(const std::vector<uint8_t> &data) {
    std::vector<uint8_t> frame{wire::sysExStart};
    frame.insert(frame.end(), data.begin(), data.end());
    frame.push_back(wire::sysExEnd);
    return frame;
}

using SentLength = Rows<Sender, uint16_t>;

TEST_P(SentLength, FramesUpTo46DataBytesAndRefusesMore) {
    const uint16_t length = GetParam();
    const std::vector<uint8_t> data = dataBytes(length);
    // One "still playing" answer: a frame sent costs exactly its 100 ms wait.
    sim::setStillPlayingReplies(1);
    EXPECT_EQ(0, sendSysEx(data.data(), length));
    std::vector<sim::SentFrame> frames = sim::sentFrames();
    if (length <= wire::maxFrameData) {
        ASSERT_EQ(1u, frames.size());
        EXPECT_EQ(framed(data), frames[0].bytes);
        EXPECT_EQ(100u, sim::nowMs());
    } else {
        EXPECT_TRUE(frames.empty());
        EXPECT_EQ(0u, sim::nowMs());
    }
}

INSTANTIATE_TEST_SUITE_P(Ports, SentLength, ::testing::Values(0, 1, 7, 45, 46, 47, 48, 300),
                         ::testing::PrintToStringParamName());

// Synchronous: the send returns only once the platform has let go of the
// frame, and each "still playing" answer costs one 100 ms sleep before the
// next try.
using StillPlaying = Rows<Sender, int>;

TEST_P(StillPlaying, WaitsUntilThePlatformLetsGo) {
    sim::setStillPlayingReplies(GetParam());
    EXPECT_EQ(0, sendSysEx(wire::handshakeMessage, wire::handshakeLength));
    EXPECT_EQ(uint64_t(GetParam()) * 100, sim::nowMs());
    ASSERT_EQ(1u, sim::sentFrames().size());
    EXPECT_EQ(0u, sim::sentFrames()[0].atMs);
}

INSTANTIATE_TEST_SUITE_P(Ports, StillPlaying, ::testing::Values(0, 1, 2, 5), ::testing::PrintToStringParamName());

class VanishingDevice : public sim::Peer {
  public:
    bool accept = false;
    bool onFrame(const uint8_t *, size_t, uint64_t) override { return accept; }
};

TEST_F(Sender, FailedSendIsReportedAndTheNextSendWorksAgain) {
    VanishingDevice device;
    sim::attachPeer(&device);
    EXPECT_NE(0, sendSysEx(wire::handshakeMessage, wire::handshakeLength));
    EXPECT_EQ(1u, sim::sentFrames().size());
    // The header was left prepared; the next send prepares it again.
    device.accept = true;
    EXPECT_EQ(0, sendSysEx(wire::handshakeMessage, wire::handshakeLength));
    EXPECT_EQ(2u, sim::sentFrames().size());
    sim::attachPeer(nullptr);
}

TEST_F(Sender, SendOnAClosedPortFails) {
    ASSERT_EQ(1, closeMidiOut());
    EXPECT_NE(0, sendSysEx(wire::handshakeMessage, wire::handshakeLength));
    EXPECT_TRUE(sim::sentFrames().empty());
}

}  // namespace
