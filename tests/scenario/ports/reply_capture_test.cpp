// What the input handler puts into the mailbox, and what it keeps out.
#include <vector>

#include "ports_fixture.h"

namespace {

using ReplyCapture = Ports<Start::inputOpen>;
using testkit::sysEx;

struct CaptureCase {
    const char *name;
    std::vector<uint8_t> message;
    uint16_t length;  // what the mailbox records
    bool isReply;
};

void PrintTo(const CaptureCase &row, std::ostream *out) { *out << row.name; }

const CaptureCase captureCases[] = {
    {"handshake answer", {0xF0, 0x23, 0xF7}, 3, true},
    {"record verdict", {0xF0, 0x1A, 0xF7}, 3, true},
    {"start byte only", {0xF0}, 1, false},
    {"start and code, no end", {0xF0, 0x20}, 2, true},
    {"fills the buffer", sysEx(200, 0x1A), 200, true},
    {"one past the buffer", sysEx(201, 0x1A), 200, true},
    {"overlong", sysEx(300, 0x24), 200, true},
};

using Captured = Rows<ReplyCapture, CaptureCase>;

TEST_P(Captured, SysExMessageLandsInTheMailbox) {
    const CaptureCase &c = GetParam();
    deliverNow(c.message);
    EXPECT_EQ(1, sim::longDataDelivered());
    ASSERT_EQ(c.length, mailbox.replyLength.load());
    const std::vector<uint8_t> kept(c.message.begin(), c.message.begin() + c.length);
    EXPECT_EQ(kept, std::vector<uint8_t>(mailbox.replyBuffer, mailbox.replyBuffer + c.length));
    EXPECT_TRUE(messageWaiting());
    EXPECT_EQ(c.isReply, replyPresent());
    if (c.isReply) {
        EXPECT_EQ(c.message[1], takeReplyCode());
        EXPECT_EQ(0, mailbox.replyLength.load());
    }
}

INSTANTIATE_TEST_SUITE_P(Ports, Captured, ::testing::ValuesIn(captureCases), caseName<CaptureCase>);

struct ShortCase {
    const char *name;
    std::vector<uint8_t> message;
};

void PrintTo(const ShortCase &row, std::ostream *out) { *out << row.name; }

const ShortCase shortCases[] = {
    {"clock", {0xF8}},
    {"active sensing", {0xFE}},
    {"note on", {0x90, 0x40, 0x7F}},
    {"note off", {0x80, 0x40, 0x00}},
    {"controller", {0xB0, 0x07, 0x64}},
    {"program change", {0xC0, 0x05}},
};

using ShortMessage = Rows<ReplyCapture, ShortCase>;

TEST_P(ShortMessage, NeverReachesTheMailbox) {
    deliverNow(GetParam().message);
    EXPECT_EQ(1, sim::shortDataDelivered());
    EXPECT_EQ(0, mailbox.replyLength.load());
    EXPECT_FALSE(messageWaiting());
    // The buffer is still queued for the next SysEx message.
    deliverNow({0xF0, 0x1A, 0xF7});
    EXPECT_EQ(3, mailbox.replyLength.load());
}

INSTANTIATE_TEST_SUITE_P(Ports, ShortMessage, ::testing::ValuesIn(shortCases), caseName<ShortCase>);

// The buffer goes back to the platform after every message, so each one
// arrives, and each overwrites the last whether or not it was taken.
TEST_F(ReplyCapture, EveryMessageArrivesInTurn) {
    deliverNow({0xF0, 0x23, 0xF7});
    EXPECT_EQ(3, mailbox.replyLength.load());
    deliverNow({0xF0, 0x20, 0x01, 0x02, 0xF7});
    EXPECT_EQ(5, mailbox.replyLength.load());
    EXPECT_EQ(0x20, takeReplyCode());

    // Two at the same moment: the second is delivered right after the first.
    sim::post({0xF0, 0x21, 0xF7});
    sim::post({0xF0, 0x1A, 0x00, 0xF7});
    Sleep(1);
    EXPECT_EQ(4, sim::longDataDelivered());
    EXPECT_EQ(0, sim::messagesDropped());
    EXPECT_EQ(4, mailbox.replyLength.load());
    EXPECT_EQ(0x1A, takeReplyCode());
}

TEST_F(ReplyCapture, NothingArrivesAfterClose) {
    deliverNow({0xF0, 0x23, 0xF7});
    mailbox.replyLength = 0;
    ASSERT_EQ(1, closeMidiIn());
    deliverNow({0xF0, 0x1A, 0xF7});
    deliverNow({0xF8});
    EXPECT_EQ(2, sim::messagesDropped());
    EXPECT_EQ(1, sim::longDataDelivered());
    EXPECT_EQ(0, sim::shortDataDelivered());
    EXPECT_EQ(0, mailbox.replyLength.load());
    const std::vector<std::string> log = {"midiInOpen 0", "midiInReset 0", "midiInClose 0"};
    EXPECT_EQ(log, sim::portLog());
}

// The handler hands the buffer back only for a message while the port is
// open. A message in flight once the close began must not queue it again (a
// queued buffer keeps the port from closing), nor may an empty one, which is
// how midiInReset returns them: Windows 11's MIDI service calls back until no
// buffer is queued, so either would keep the reset going for ever.
struct HandBackCase {
    const char *name;
    bool closing;  // the program's port is being closed
    bool reset;    // the buffer comes back from midiInReset, empty; else with a message
    bool queuedAgain;
};

void PrintTo(const HandBackCase &row, std::ostream *out) { *out << row.name; }

const HandBackCase handBackCases[] = {
    {"message while open", false, false, true},
    {"message after the close began", true, false, false},
    {"reset while open", false, true, false},
    {"reset after the close began", true, true, false},
};

using HandBack = Rows<Ports<Start::bareHost>, HandBackCase>;

// The program holds port 0; the buffer is on port 1, opened with the
// program's handler, on the MIDI Services stack.
TEST_P(HandBack, QueuesTheBufferAgainOnlyForAMessageWhileOpen) {
    const HandBackCase &c = GetParam();
    sim::setInputPorts({{"USB Device", false}, {"USB Device", false}});
    sim::setMidiStack(sim::MidiStack::midiServices);
    midiInGetNumDevs();
    capturedStdout([] { ASSERT_EQ(0, openMidiIn(0)); });
    if (c.closing) {
        ASSERT_EQ(1, closeMidiIn());
    }
    HMIDIIN handle = nullptr;
    ASSERT_EQ(MMSYSERR_NOERROR,
              midiInOpen(&handle, 1, reinterpret_cast<DWORD_PTR>(&midiInHandler), 0, CALLBACK_FUNCTION));
    uint8_t buffer[8] = {0xF0, 0x23, 0xF7};
    MIDIHDR header = {};
    header.lpData = reinterpret_cast<LPSTR>(buffer);
    header.dwBufferLength = sizeof buffer;
    ASSERT_EQ(MMSYSERR_NOERROR, midiInPrepareHeader(handle, &header, sizeof header));
    if (c.reset) {
        ASSERT_EQ(MMSYSERR_NOERROR, midiInAddBuffer(handle, &header, sizeof header));
        midiInStart(handle);
        EXPECT_EQ(MMSYSERR_NOERROR, midiInReset(handle));
    } else {
        header.dwBytesRecorded = 3;
        header.dwFlags |= MHDR_DONE;
        midiInHandler(handle, MIM_LONGDATA, 0, reinterpret_cast<DWORD_PTR>(&header), 0);
    }
    EXPECT_EQ(c.queuedAgain, (header.dwFlags & MHDR_INQUEUE) != 0);
    if (c.queuedAgain) midiInReset(handle);
    EXPECT_EQ(MMSYSERR_NOERROR, midiInClose(handle));
}

INSTANTIATE_TEST_SUITE_P(Ports, HandBack, ::testing::ValuesIn(handBackCases), caseName<HandBackCase>);

}  // namespace
