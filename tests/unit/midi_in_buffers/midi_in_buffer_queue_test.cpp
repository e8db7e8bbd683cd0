// The input buffers, kept as winmm keeps them: what a message does to the
// queued buffers, and what the program may do with a buffer when.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <vector>

#include "platform/midi_in_buffer_queue.h"
#include "support/midi_in_buffer.h"

namespace {

typedef std::vector<unsigned char> Bytes;

using Buffer = testkit::MidiInBuffer;

enum class Reception { neverStarted, started, stopped, reset };

struct FillCase {
    const char *label;
    Reception reception;
    bool bufferQueued;
    DWORD bufferLength;
    Bytes message;
    bool delivered;
    Bytes recorded;
};

const Bytes reply = {0xF0, 0x23, 0xF7};

const FillCase fillCases[] = {
    {"a reply fills the queued buffer", Reception::started, true, 200, reply, true, reply},
    {"a message that fills the buffer exactly", Reception::started, true, 3, reply, true, reply},
    {"an overlong message is cut at the buffer's length", Reception::started, true, 2, reply, true, {0xF0, 0x23}},
    {"before midiInStart nothing is delivered", Reception::neverStarted, true, 200, reply, false, {}},
    {"once stopped nothing is delivered", Reception::stopped, true, 200, reply, false, {}},
    {"after midiInReset nothing is delivered", Reception::reset, false, 200, reply, false, {}},
    {"without a queued buffer the message is dropped", Reception::started, false, 200, reply, false, {}},
    {"a short message never arrives", Reception::started, true, 200, {0x90, 0x40, 0x7F}, false, {}},
    {"a real-time message never arrives", Reception::started, true, 200, {0xF8}, false, {}},
    {"an empty message never arrives", Reception::started, true, 200, {}, false, {}},
};

void PrintTo(const FillCase &c, std::ostream *out) { *out << c.label; }

class FillTest : public testing::TestWithParam<FillCase> {};

TEST_P(FillTest, DeliversOnlyWholeSysExIntoAQueuedBuffer) {
    const FillCase &c = GetParam();
    MidiInBufferQueue queue;
    Buffer buffer(c.bufferLength);
    ASSERT_EQ(queue.prepare(&buffer.header, sizeof buffer.header), MMSYSERR_NOERROR);
    if (c.bufferQueued) {
        ASSERT_EQ(queue.add(&buffer.header, sizeof buffer.header), MMSYSERR_NOERROR);
    }
    if (c.reception != Reception::neverStarted) queue.start();
    if (c.reception == Reception::stopped) queue.stop();
    if (c.reception == Reception::reset) queue.reset();
    EXPECT_EQ(queue.receiving(), c.reception == Reception::started);

    MIDIHDR *done = queue.fill(c.message.data(), c.message.size());

    EXPECT_TRUE(buffer.guardIntact());
    if (!c.delivered) {
        EXPECT_EQ(done, nullptr);
        EXPECT_EQ(queue.holdsBuffers(), c.bufferQueued && c.reception != Reception::reset);
        return;
    }
    ASSERT_EQ(done, &buffer.header);
    EXPECT_EQ(buffer.recorded(), c.recorded);
    EXPECT_EQ(buffer.header.dwFlags, static_cast<DWORD>(MHDR_PREPARED | MHDR_DONE));
    EXPECT_FALSE(queue.holdsBuffers());
}

INSTANTIATE_TEST_SUITE_P(Messages, FillTest, testing::ValuesIn(fillCases));

TEST(InputQueueTest, BuffersFillInTheOrderTheyWereQueuedAndCanBeQueuedAgainAtOnce) {
    MidiInBufferQueue queue;
    Buffer first(200), second(200);
    for (Buffer *b : {&first, &second}) {
        queue.prepare(&b->header, sizeof b->header);
        ASSERT_EQ(queue.add(&b->header, sizeof b->header), MMSYSERR_NOERROR);
    }
    queue.start();
    const Bytes one = {0xF0, 0x01, 0xF7}, two = {0xF0, 0x02, 0xF7}, three = {0xF0, 0x03, 0xF7};
    EXPECT_EQ(queue.fill(one.data(), one.size()), &first.header);
    // The program's callback hands the buffer straight back, still prepared.
    EXPECT_EQ(queue.add(&first.header, sizeof first.header), MMSYSERR_NOERROR);
    EXPECT_EQ(queue.fill(two.data(), two.size()), &second.header);
    EXPECT_EQ(queue.fill(three.data(), three.size()), &first.header);
    EXPECT_EQ(first.recorded(), three);
    EXPECT_EQ(second.recorded(), two);
}

TEST(InputQueueTest, ResetHandsBackEveryQueuedBufferEmptyAndDone) {
    MidiInBufferQueue queue;
    Buffer first(200), second(200);
    for (Buffer *b : {&first, &second}) {
        queue.prepare(&b->header, sizeof b->header);
        queue.add(&b->header, sizeof b->header);
        b->header.dwBytesRecorded = 7;
    }
    queue.start();
    ASSERT_EQ(queue.reset(), (std::vector<MIDIHDR *>{&first.header, &second.header}));
    for (Buffer *b : {&first, &second}) {
        EXPECT_EQ(b->header.dwBytesRecorded, 0u);
        EXPECT_EQ(b->header.dwFlags, static_cast<DWORD>(MHDR_PREPARED | MHDR_DONE));
    }
    EXPECT_FALSE(queue.holdsBuffers());
    EXPECT_TRUE(queue.reset().empty());
}

struct HeaderCallCase {
    const char *label;
    bool prepared;
    bool queued;
    bool addLengthZero;
    MMRESULT addResult;
    MMRESULT unprepareResult;
};

const HeaderCallCase headerCallCases[] = {
    {"a prepared buffer is queued and then unprepared", true, false, false, MMSYSERR_NOERROR, MMSYSERR_NOERROR},
    {"an unprepared buffer is refused", false, false, false, MIDIERR_UNPREPARED, MMSYSERR_NOERROR},
    {"a buffer already queued is refused and stays queued", true, true, false, MIDIERR_STILLPLAYING,
     MIDIERR_STILLPLAYING},
    {"a buffer without room is refused", true, false, true, MMSYSERR_INVALPARAM, MMSYSERR_NOERROR},
};

void PrintTo(const HeaderCallCase &c, std::ostream *out) { *out << c.label; }

class HeaderCallTest : public testing::TestWithParam<HeaderCallCase> {};

// Adds the buffer (once more, for a queued one), then tries to unprepare it.
TEST_P(HeaderCallTest, AnswersAsWinmmDoes) {
    const HeaderCallCase &c = GetParam();
    MidiInBufferQueue queue;
    Buffer buffer(200);
    if (c.prepared) {
        ASSERT_EQ(queue.prepare(&buffer.header, sizeof buffer.header), MMSYSERR_NOERROR);
    }
    if (c.queued) {
        ASSERT_EQ(queue.add(&buffer.header, sizeof buffer.header), MMSYSERR_NOERROR);
    }
    if (c.addLengthZero) buffer.header.dwBufferLength = 0;
    buffer.header.dwBytesRecorded = 5;  // left from the buffer's last message
    EXPECT_EQ(queue.add(&buffer.header, sizeof buffer.header), c.addResult);
    if (c.addResult == MMSYSERR_NOERROR) {
        EXPECT_EQ(buffer.header.dwBytesRecorded, 0u);
        EXPECT_EQ(queue.reset().size(), 1u);
    }
    EXPECT_EQ(queue.unprepare(&buffer.header, sizeof buffer.header), c.unprepareResult);
    bool stillPrepared = (buffer.header.dwFlags & MHDR_PREPARED) != 0;
    EXPECT_EQ(stillPrepared, c.unprepareResult != MMSYSERR_NOERROR);
}

INSTANTIATE_TEST_SUITE_P(Calls, HeaderCallTest, testing::ValuesIn(headerCallCases));

}  // namespace
