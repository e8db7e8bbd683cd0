// The Windows MIDI calls of the posix layer against a virtual device on a
// private JACK server: what the program relies on, on a real MIDI system.
#include <RtMidi.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "held_up_jack_cycles.h"
#include "platform/platform.h"
#include "private_jack_server.h"
#include "support/midi_in_buffer.h"

namespace {

using std::chrono::milliseconds;
typedef std::vector<unsigned char> Bytes;

const milliseconds deliveryLimit(5000);

// What another thread hands over, in order, and a wait for it.
template <class Item>
class Inbox {
  public:
    void add(const Item &item) {
        {
            std::lock_guard<std::mutex> guard(lock);
            items.push_back(item);
        }
        arrived.notify_all();
    }
    // Waits until `count` items have come in, for at most `limit`.
    bool waitFor(size_t count, milliseconds limit = deliveryLimit) {
        return waitUntil([count](const std::vector<Item> &all) { return all.size() >= count; }, limit);
    }
    bool waitUntil(const std::function<bool(const std::vector<Item> &)> &done, milliseconds limit = deliveryLimit) {
        std::unique_lock<std::mutex> guard(lock);
        return arrived.wait_for(guard, limit, [&] { return done(items); });
    }
    std::vector<Item> all() {
        std::lock_guard<std::mutex> guard(lock);
        return items;
    }

  private:
    std::mutex lock;
    std::condition_variable arrived;
    std::vector<Item> items;
};

// A stand-in for the device: a virtual output port, and a virtual input port
// that records every message.
class VirtualBox {
  public:
    VirtualBox() : out(RtMidi::UNIX_JACK, "tw-smoke-box"), in(RtMidi::UNIX_JACK, "tw-smoke-box") {
        out.openVirtualPort("out");
        in.ignoreTypes(false, true, true);
        in.setCallback([](double, Bytes *message, void *inbox) { static_cast<Inbox<Bytes> *>(inbox)->add(*message); },
                       &received);
        in.openVirtualPort("in");
    }
    void send(const Bytes &message) { out.sendMessage(message.data(), message.size()); }
    Inbox<Bytes> received;

  private:
    RtMidiOut out;
    RtMidiIn in;
};

// What the layer passed to the input callback, in order: every message, and
// the long data with its header and bytes.
struct LongData {
    MIDIHDR *header;
    Bytes bytes;
};

// The box's last word before a check: once it has come through, nothing the
// box sent earlier is still on its way.
const Bytes fence = {0xF0, 0x7D, 0xF7};

struct CallbackLog {
    Inbox<UINT> messages;
    Inbox<LongData> longData;
    // Goes back into the queue after every message but the fence.
    std::atomic<MIDIHDR *> drain{nullptr};
};

void CALLBACK logNotice(HMIDIIN in, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR) {
    CallbackLog *log = reinterpret_cast<CallbackLog *>(instance);
    MIDIHDR *header = reinterpret_cast<MIDIHDR *>(param1);
    log->messages.add(message);
    if (message != MIM_LONGDATA) return;
    Bytes bytes(header->lpData, header->lpData + header->dwBytesRecorded);
    log->longData.add({header, bytes});
    if (header == log->drain && !bytes.empty() && bytes != fence) midiInAddBuffer(in, header, sizeof *header);
}

// Closes what a test opened even when an assertion ends it early, so that no
// client of ours is left on the server when it stops.
struct OpenIn {
    HMIDIIN handle = nullptr;
    ~OpenIn() {
        if (handle == nullptr) return;
        midiInReset(handle);
        midiInClose(handle);
    }
    HMIDIIN release() { return std::exchange(handle, nullptr); }
};

struct OpenOut {
    HMIDIOUT handle = nullptr;
    ~OpenOut() {
        if (handle != nullptr) midiOutClose(handle);
    }
    HMIDIOUT release() { return std::exchange(handle, nullptr); }
};

// JACK names the box's second client "tw-smoke-box-01", whichever comes
// second.
bool isBoxPort(const std::string &name, const std::string &port) {
    return name.rfind("tw-smoke-box", 0) == 0 && name.size() > port.size() &&
           name.compare(name.size() - port.size(), port.size(), port) == 0;
}

using Buffer = testkit::MidiInBuffer;

class LayerOverJack : public testing::Test {
  protected:
    void SetUp() override {
        std::string why;
        if (PrivateJackServer::jackdPath().empty()) GTEST_SKIP() << "jackd is not installed";
        ASSERT_TRUE(server.start(why)) << why;
        box.reset(new VirtualBox);
    }
    void TearDown() override {
        if (HasFailure()) std::cout << "--- jackd's log:\n" << server.log();
    }

    PrivateJackServer server;
    std::unique_ptr<VirtualBox> box;
};

TEST_F(LayerOverJack, ListsTheDeviceButNeverItsOwnPorts) {
    MIDIINCAPSA inCaps;
    MIDIOUTCAPSA outCaps;
    ASSERT_EQ(midiInGetDevCapsA(0, &inCaps, sizeof inCaps), MMSYSERR_NOERROR);
    ASSERT_EQ(midiOutGetDevCapsA(0, &outCaps, sizeof outCaps), MMSYSERR_NOERROR);
    EXPECT_TRUE(isBoxPort(inCaps.szPname, ":out")) << inCaps.szPname;
    EXPECT_TRUE(isBoxPort(outCaps.szPname, ":in")) << outCaps.szPname;
    // One port each way: the next number is beyond the last.
    EXPECT_EQ(1u, midiInGetNumDevs());
    EXPECT_EQ(1u, midiOutGetNumDevs());
    ASSERT_EQ(midiInGetDevCapsA(1, &inCaps, sizeof inCaps), MMSYSERR_BADDEVICEID);
    ASSERT_EQ(midiOutGetDevCapsA(1, &outCaps, sizeof outCaps), MMSYSERR_BADDEVICEID);

    OpenIn in;
    OpenOut out;
    ASSERT_EQ(midiInOpen(&in.handle, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    ASSERT_EQ(midiOutOpen(&out.handle, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    // Our own input and output ports are on the server now, and still only
    // the device counts, under the same numbers.
    EXPECT_EQ(1u, midiInGetNumDevs());
    EXPECT_EQ(1u, midiOutGetNumDevs());
    EXPECT_EQ(midiInGetDevCapsA(1, &inCaps, sizeof inCaps), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(midiOutGetDevCapsA(1, &outCaps, sizeof outCaps), MMSYSERR_BADDEVICEID);
    ASSERT_EQ(midiOutGetDevCapsA(0, &outCaps, sizeof outCaps), MMSYSERR_NOERROR);
    EXPECT_TRUE(isBoxPort(outCaps.szPname, ":in")) << outCaps.szPname;
    HMIDIIN beyond = nullptr;
    EXPECT_EQ(midiInOpen(&beyond, 1, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(midiInClose(in.release()), MMSYSERR_NOERROR);
    EXPECT_EQ(midiOutClose(out.release()), MMSYSERR_NOERROR);
}

TEST_F(LayerOverJack, DeliversWholeSysExIntoQueuedBuffersOnly) {
    // Declared before the port: whatever is still queued when the test ends
    // comes back through the callback as the port closes.
    CallbackLog log;
    Buffer ping(8), small(4), large(8), drain(8);
    OpenIn opened;
    ASSERT_EQ(midiInOpen(&opened.handle, 0, reinterpret_cast<DWORD_PTR>(&logNotice), reinterpret_cast<DWORD_PTR>(&log),
                         CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    HMIDIIN in = opened.handle;
    for (Buffer *b : {&ping, &small, &large, &drain})
        ASSERT_EQ(midiInPrepareHeader(in, &b->header, sizeof b->header), MMSYSERR_NOERROR);
    ASSERT_EQ(midiInAddBuffer(in, &ping.header, sizeof ping.header), MMSYSERR_NOERROR);
    ASSERT_EQ(midiInStart(in), MMSYSERR_NOERROR);
    log.drain = &drain.header;
    // Waits until everything the box sent so far has come through: the drain
    // buffer takes it, then the fence. How many messages came before the fence.
    auto settle = [&] {
        size_t from = log.longData.all().size();
        EXPECT_EQ(midiInAddBuffer(in, &drain.header, sizeof drain.header), MMSYSERR_NOERROR);
        box->send(fence);
        EXPECT_TRUE(log.longData.waitUntil([from](const std::vector<LongData> &all) {
            return all.size() > from && all.back().bytes == fence;
        })) << "the fence never came through";
        return log.longData.all().size() - from - 1;
    };

    // The first messages the box sends can be lost on their way (seen in
    // sanitizer builds, whatever the wait before them): ping until one
    // arrives. Those still under way are dropped, or taken by the drain.
    for (int attempt = 0; attempt < 50 && !log.longData.waitFor(1, milliseconds(100)); ++attempt)
        box->send({0xF0, 0x7E, 0xF7});
    ASSERT_EQ(log.longData.all().size(), 1u);
    EXPECT_EQ(log.longData.all()[0].header, &ping.header);
    settle();
    size_t seen = log.longData.all().size();

    // A note, then an overlong SysEx message: only the SysEx arrives, cut.
    ASSERT_EQ(midiInAddBuffer(in, &small.header, sizeof small.header), MMSYSERR_NOERROR);
    box->send({0x90, 0x40, 0x7F});
    box->send({0xF0, 0x01, 0x02, 0x03, 0x04, 0x05, 0xF7});
    ASSERT_TRUE(log.longData.waitFor(seen + 1));
    EXPECT_EQ(log.longData.all()[seen].header, &small.header);
    EXPECT_EQ(small.recorded(), (Bytes{0xF0, 0x01, 0x02, 0x03}));
    EXPECT_TRUE(small.guardIntact());

    // With no buffer queued a message is dropped, not kept for the next
    // buffer. One still under way when the drain is queued lands there
    // instead and proves nothing: the next try leaves it longer.
    bool dropped = false;
    for (int attempt = 0; attempt < 6 && !dropped; ++attempt) {
        box->send({0xF0, 0x09, 0xF7});
        std::this_thread::sleep_for(milliseconds(50 << attempt));
        dropped = settle() == 0;
    }
    EXPECT_TRUE(dropped) << "F0 09 F7, sent with no buffer queued, still reached a buffer queued 1.6 s later";
    seen = log.longData.all().size();
    ASSERT_EQ(midiInAddBuffer(in, &large.header, sizeof large.header), MMSYSERR_NOERROR);
    box->send({0xF8});
    box->send({0xF0, 0x0A, 0xF7});
    ASSERT_TRUE(log.longData.waitFor(seen + 1));
    EXPECT_EQ(log.longData.all()[seen].header, &large.header);
    EXPECT_EQ(large.recorded(), (Bytes{0xF0, 0x0A, 0xF7}));
    EXPECT_EQ(large.header.dwFlags, static_cast<DWORD>(MHDR_PREPARED | MHDR_DONE));

    // A queued buffer keeps the port open; the reset hands it back empty.
    ASSERT_EQ(midiInAddBuffer(in, &small.header, sizeof small.header), MMSYSERR_NOERROR);
    EXPECT_EQ(midiInClose(in), MIDIERR_STILLPLAYING);
    EXPECT_EQ(midiInUnprepareHeader(in, &small.header, sizeof small.header), MIDIERR_STILLPLAYING);
    ASSERT_EQ(midiInReset(in), MMSYSERR_NOERROR);
    std::vector<LongData> data = log.longData.all();
    ASSERT_EQ(data.size(), seen + 2);
    EXPECT_EQ(data.back().header, &small.header);
    EXPECT_EQ(small.header.dwBytesRecorded, 0u);
    EXPECT_EQ(midiInUnprepareHeader(in, &small.header, sizeof small.header), MMSYSERR_NOERROR);
    EXPECT_EQ(midiInClose(opened.release()), MMSYSERR_NOERROR);

    std::vector<UINT> messages = log.messages.all();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.front(), static_cast<UINT>(MIM_OPEN));
    EXPECT_EQ(messages.back(), static_cast<UINT>(MIM_CLOSE));
}

TEST_F(LayerOverJack, SendsEachFrameWhole) {
    OpenOut opened;
    ASSERT_EQ(midiOutOpen(&opened.handle, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    HMIDIOUT out = opened.handle;
    unsigned char frame[] = {0xF0, 0x3C, 0x11, 0x52, 0x07, 0x68, 0x4D, 0x23, 0xF7};
    MIDIHDR header = {};
    header.lpData = reinterpret_cast<LPSTR>(frame);
    header.dwBufferLength = sizeof frame;
    EXPECT_EQ(midiOutLongMsg(out, &header, sizeof header), MIDIERR_UNPREPARED);
    // Sent again while nothing has arrived: the first messages on a new
    // connection can be lost (seen in sanitizer builds).
    for (int attempt = 0; attempt < 50 && !box->received.waitFor(1, milliseconds(100)); ++attempt) {
        ASSERT_EQ(midiOutPrepareHeader(out, &header, sizeof header), MMSYSERR_NOERROR);
        ASSERT_EQ(midiOutLongMsg(out, &header, sizeof header), MMSYSERR_NOERROR);
        EXPECT_EQ(header.dwFlags, static_cast<DWORD>(MHDR_PREPARED | MHDR_DONE));
        EXPECT_EQ(midiOutUnprepareHeader(out, &header, sizeof header), MMSYSERR_NOERROR);
    }
    std::vector<Bytes> received = box->received.all();
    ASSERT_FALSE(received.empty());
    for (const Bytes &message : received) EXPECT_EQ(message, Bytes(frame, frame + sizeof frame));
    EXPECT_EQ(midiOutClose(opened.release()), MMSYSERR_NOERROR);
}

// The end of every run that opened the ports, with the machine holding up
// JACK's process cycle and the closing thread: the close must not free what
// a cycle still under way reads (which ends the program with a signal).
TEST_F(LayerOverJack, ClosesTheOutputWhileACycleIsUnderWay) {
    unsigned char frame[] = {0xF0, 0x3C, 0x11, 0x52, 0x07, 0x68, 0x4D, 0x23, 0xF7};
    MIDIHDR header = {};
    header.lpData = reinterpret_cast<LPSTR>(frame);
    header.dwBufferLength = sizeof frame;
    for (int round = 0; round < 20; ++round) {
        OpenOut opened;
        ASSERT_EQ(midiOutOpen(&opened.handle, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
        ASSERT_EQ(midiOutPrepareHeader(opened.handle, &header, sizeof header), MMSYSERR_NOERROR);
        ASSERT_EQ(midiOutLongMsg(opened.handle, &header, sizeof header), MMSYSERR_NOERROR);
        ASSERT_EQ(midiOutUnprepareHeader(opened.handle, &header, sizeof header), MMSYSERR_NOERROR);
        // Only the close is held up: a client that opens while every cycle
        // is slow can miss the server's time limit, and then finds no port.
        HeldUpJackCycles busyMachine;
        ASSERT_EQ(midiOutClose(opened.release()), MMSYSERR_NOERROR);
    }
}

}  // namespace
