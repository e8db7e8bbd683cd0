// Frames on the wire from sendSysEx, and how long it holds the caller.
#include <vector>

#include "base/wire_constants.h"
#include "midi/sysex_sender.h"
#include "ports_fixture.h"
#include "support/sysex_bytes.h"

namespace {

using Sender = Ports<Start::outputOpen>;

// Data bytes below 0x80, as the callers supply them.
std::vector<uint8_t> dataBytes(size_t count) {
    std::vector<uint8_t> data(count);
    for (size_t i = 0; i < count; ++i) data[i] = static_cast<uint8_t>((i * 5 + 0x30) & 0x7F);
    return data;
}

// A frame sent waits for the platform to let go of it: each "still playing"
// answer costs one 100 ms sleep before the next try. More than 46 data bytes
// are refused at once.
struct SendCase {
    uint16_t length;
    int stillPlaying;
    bool refused = false;
};

void PrintTo(const SendCase &row, std::ostream *out) {
    *out << row.length << "Bytes" << row.stillPlaying << "StillPlaying";
}

const SendCase sendCases[] = {{0, 1},  {1, 1},  {7, 0},        {7, 1},        {7, 2},        {7, 5},
                              {45, 1}, {46, 1}, {47, 1, true}, {48, 1, true}, {300, 1, true}};

using Send = Rows<Sender, SendCase>;

TEST_P(Send, FramesUpTo46DataBytesAndReturnsOnceThePlatformLetsGo) {
    const SendCase &c = GetParam();
    const std::vector<uint8_t> data = dataBytes(c.length);
    sim::setStillPlayingReplies(c.stillPlaying);
    EXPECT_EQ(0, sendSysEx(data.data(), c.length));
    const std::vector<sim::SentFrame> frames = sim::sentFrames();
    if (c.refused) {
        EXPECT_TRUE(frames.empty());
        EXPECT_EQ(0u, sim::nowMs());
        return;
    }
    ASSERT_EQ(1u, frames.size());
    EXPECT_EQ(testkit::frame(data), frames[0].bytes);
    EXPECT_EQ(0u, frames[0].atMs);
    EXPECT_EQ(uint64_t(c.stillPlaying) * 100, sim::nowMs());
}

INSTANTIATE_TEST_SUITE_P(Ports, Send, ::testing::ValuesIn(sendCases), ::testing::PrintToStringParamName());

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
