// The Tarnwick Box as the updater meets it on the wire: it answers the
// handshake, collects hex-encoded records, checks them, keeps the accepted ones
// in order as its flash would, and answers each record with a verdict. Faults
// can be switched on to stand in for a misbehaving box.
//
// The model knows nothing of ports or clocks: it takes one whole frame as the
// updater sent it and gives back the messages to send, each with its delay
// from the frame's arrival. The simulated host and tarnwick-target post them.
//
// What the box does where the updater leaves it open:
// - It answers only the exact seven-byte handshake message, with F0 <code> F7.
//   Answered with the product code, the handshake starts a new update: the
//   image is emptied and record collection starts afresh. Until then, frames
//   other than the handshake are ignored.
// - A transfer frame carries upper- or lower-case ASCII hex digits, an even
//   number of them, at least two and at most 46. Anything else is a damaged
//   frame. A damaged frame spoils the record being collected; the box keeps
//   counting it as half its data bytes so that it still answers once, at the
//   record's end, with 0x21 ("damaged"). When the damage hides the record's
//   length field the end is unknown: the box answers 0x21 at once and starts
//   collecting afresh with the next frame.
// - A record is collected by its length field (N, big-endian; T = N + 2
//   bytes) and is sound when its payload sum plus its little-endian check word
//   is 0 modulo 65,536 (a record with N below 2 is not). Sound: 0x1A; not
//   sound: 0x20; bytes beyond T in the record's last frame spoil it (0x21).
// - A whole record answered 0x1A or 0x77 is written to the image (whatever
//   the faults make the box answer), except a resend: when a late or lost
//   reply made the updater send again the record that was written last, the
//   box recognises it by its bytes, answers it again and does not write it
//   twice. A kit holding the same record twice in a row would thus lose one
//   copy; Faults::writeResends turns the rule off.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace device {

using Bytes = std::vector<uint8_t>;

// How one answer leaves the box.
enum class ReplyForm {
    normal,         // F0 <code> F7
    none,           // nothing: the answer is lost
    startByteOnly,  // F0 alone, a one-byte SysEx message
    shortMessage,   // one status byte (0xFE, active sensing), not SysEx
};

// A change to the answer to one handshake or one record attempt.
struct ReplyTweak {
    ReplyForm form = ReplyForm::normal;
    std::optional<uint8_t> code;        // in place of the box's own code
    std::optional<uint32_t> latencyMs;  // in place of Faults::latencyMs
};

// Every knob off gives a sound, prompt box.
struct Faults {
    // Delay of every answer after the frame that completes what it answers.
    uint32_t latencyMs = 0;
    // The code the handshake is answered with: the product code 0x23
    // (wire::productCode), 0x15 for a box that is restarting, or another
    // product's code for a foreign box.
    uint8_t handshakeCode = 0x23;
    // By handshake number, from 1.
    std::map<uint32_t, ReplyTweak> handshakeReplies;
    // Every handshake answered a second time, this long after the first
    // answer, as by a box or a line that doubles messages.
    std::optional<uint32_t> handshakeAnsweredAgainAfterMs;
    // Verdict codes for record attempts 1, 2, ... in place of the box's own;
    // attempts beyond the script get the box's own verdict.
    Bytes verdictScript;
    // By record attempt (every record received, resends included), from 1.
    // Takes precedence over the script.
    std::map<uint32_t, ReplyTweak> recordReplies;
    // Once the image holds this many bytes, the record that completed it is
    // answered 0x77 (update complete) instead of 0x1A.
    std::optional<uint32_t> finalImageSize;
    // Answers nothing at all.
    bool silent = false;
    // Stops answering once this many records are written (0: right after the
    // first handshake it answers). It ignores every later frame.
    std::optional<uint32_t> silentAfterRecords;
    // The box's input stops working after this many frames: every later frame
    // is refused, as by a vanished device.
    std::optional<uint32_t> failAfterFrames;
    // Messages sent just ahead of every answer, with the same delay: short
    // messages, SysEx longer than the updater's buffer and the like.
    std::vector<Bytes> noiseBeforeReply;
    // Every answer this many bytes long: F0, the code, data bytes of
    // replyFill, F7; more than the updater's 200-byte buffer holds, say. 3 or
    // less: F0 <code> F7.
    uint32_t replyLength = 3;
    uint8_t replyFill = 0;
    // Resends of the record written last are written again (a box without
    // the resend rule above).
    bool writeResends = false;
    // A record whose frames stop for longer than this is abandoned, and the
    // next frame starts a new one, as the updater resends a record only after
    // waiting half a second for its verdict. Without it a frame lost on the
    // line would shift every later record. Needs the frames' arrival times;
    // 0 turns it off.
    uint32_t abandonRecordAfterMs = 100;
};

struct Outgoing {
    Bytes bytes;
    uint32_t delayMs;
};

struct FrameResult {
    bool accepted;  // false: the frame did not reach the box
    std::vector<Outgoing> messages;
    // The bytes of a record dropped on this frame's arrival because its
    // frames had stopped; 0 when none was.
    uint32_t droppedRecordBytes = 0;
};

// What the box has seen, for tests and the target program's report.
struct Counters {
    uint32_t frames = 0;  // every frame offered, refused ones included
    uint32_t handshakes = 0;
    uint32_t recordAttempts = 0;  // complete records received
    uint32_t recordsWritten = 0;
    uint32_t resendsRecognised = 0;
    uint32_t damagedFrames = 0;
    uint32_t ignoredFrames = 0;
};

class Model {
  public:
    explicit Model(Faults faults = Faults());

    // One whole frame, F0 .. F7 included, with its arrival time in ms on any
    // steady clock (always 0 where times are not known).
    FrameResult onFrame(const uint8_t *frame, size_t length, uint64_t arrivalMs = 0);

    // The records written so far, in order, byte for byte.
    const Bytes &image() const { return image_; }
    const Counters &counters() const { return counters_; }
    const Faults &faults() const { return faults_; }

  private:
    void onHandshake(FrameResult &result);
    void onTransferFrame(const uint8_t *data, size_t length, FrameResult &result);
    void finishRecord(FrameResult &result);
    uint8_t ownVerdict() const;
    void writeRecord();
    void answer(uint8_t code, const ReplyTweak &tweak, FrameResult &result);
    Bytes stretched(uint8_t code) const;
    void startRecord();

    Faults faults_;
    Counters counters_;
    Bytes image_;
    Bytes lastWritten_;
    bool greeted_ = false;
    bool mute_ = false;
    uint64_t lastFrameMs_ = 0;

    // The record being collected.
    Bytes record_;
    uint32_t recordReceived_ = 0;  // bytes counted, damaged frames included
    bool recordSpoiled_ = false;
};

}  // namespace device
