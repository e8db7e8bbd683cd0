// Fuzzes whole update runs: the input chooses a small kit (sound or damaged)
// and how the device misbehaves — its reply codes and their forms, delays,
// silences, a failing input, frames still playing, messages of its own at
// chosen times (replies of one byte, of exactly 200 and over 200 bytes, short
// messages, empty messages, bursts) — and runUpdate() runs through the
// simulated platform on its virtual clock. (A SysEx delivery of no bytes
// happens only when the port is reset at its close, which every run does.)
//
// The invariant, for every input:
// - the run ends, within the waits' bounds on the virtual clock, with exit
//   status 0, one pause, and one of the program's closing messages; both
//   ports are closed when they were opened;
// - a kit that fails its check, or holds no records, opens no port and
//   sends nothing;
// - the wire holds at most 19 handshakes, then whole records of the kit, each
//   attempt the record just sent again or the next one; only the last attempt
//   may be cut short, and only by an output that failed;
// - `sent` stays within `count`: every progress line shows sent × 100 / count
//   and is printed right before the record at offset `sent` goes out, so each
//   line must show the offset of the record that follows it on the wire;
// - the image the device wrote is made of whole records of the kit, in kit
//   order, each once; when every verdict is in step (it arrives inside its
//   own record's wait, and nothing else that could be taken for a verdict
//   comes while records go out) it is a prefix of the kit;
// - success is printed only after every record went out whole and the device
//   posted at least as many acceptances as there are records, or after the
//   device posted 0x77 (update complete); with the verdicts in step, success
//   means the device holds the kit byte for byte. Answers to the greeting
//   that carry the product code do not put verdicts out of step, however
//   late and however many they are.
//
// The kit's records are found with the program's own record walk, which the
// kit fuzzer checks against the record format.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "kit/kit_records.h"
#include "midi/hex_encoding.h"
#include "protocol_script.h"
#include "support/expected_output.h"
#include "support/test_kits.h"
#include "support/updater_run.h"
#include "support/wire_trace.h"

namespace {

// The output with its line ends and control bytes made visible.
std::string escaped(const std::string &text) {
    std::string out;
    char hex[8];
    for (unsigned char c : text) {
        if (c == '\n')
            out += "\\n\n";
        else if (c == '\r')
            out += "\\r";
        else if (c >= 0x20 && c < 0x7F)
            out += char(c);
        else
            out.append(hex, size_t(std::snprintf(hex, sizeof hex, "\\x%02X", c)));
    }
    return out;
}

// The run under test and the device's image, shown with a failure.
const testkit::RunResult *shownRun = nullptr;
const device::Model *shownModel = nullptr;

void require(bool holds, const char *what) {
    if (holds) return;
    std::fprintf(stderr, "protocol fuzzer: %s\n", what);
    if (shownRun != nullptr)
        std::fprintf(stderr, "output:\n%s\nwire:\n%sdevice image: %zu bytes\n", escaped(shownRun->output).c_str(),
                     testkit::wireTrace(shownRun->frames).c_str(), shownModel->image().size());
    std::abort();
}

// The device model with the script's own messages added; the replies posted
// are counted, so that what the program claims can be checked against what it
// was told. Arrival times are not passed on: a record whose frames stop is
// never abandoned.
class ScriptedPeer : public sim::Peer {
  public:
    ScriptedPeer(device::Model &model, const Script &script) : model_(model), script_(script) {}

    bool onFrame(const uint8_t *frame, size_t length, uint64_t) override {
        // The run starts the host afresh; the first send's release is the
        // first to be told that the frame is still playing.
        if (++frames_ == 1) sim::setStillPlayingReplies(script_.stillPlaying);
        device::FrameResult result = model_.onFrame(frame, length);
        for (const device::Outgoing &message : result.messages) postKept(message.bytes, message.delayMs);
        for (const Injection &injection : script_.injections)
            if (injection.afterFrame == frames_) postKept(injection.bytes, injection.delayMs);
        return result.accepted;
    }

    int postedWithCode(uint8_t code) const { return posted_[code]; }

  private:
    void postKept(const Bytes &bytes, uint32_t delayMs) {
        if (looksLikeReply(bytes)) ++posted_[bytes[1]];
        sim::post(bytes, delayMs);
    }

    device::Model &model_;
    const Script &script_;
    uint32_t frames_ = 0;
    int posted_[256] = {};  // replies by code
};

// The kit's records by the program's own walk; none when a record is bad.
std::vector<Bytes> splitKit(const Bytes &kit) {
    static KitImage image;
    image.count = static_cast<uint16_t>(kit.size());
    std::copy(kit.begin(), kit.end(), image.bytes);
    std::vector<Bytes> records;
    if (firstBadRecord(image) >= 0) return records;
    for (uint16_t at = 0; at < image.count; at = static_cast<uint16_t>(at + records.back().size()))
        records.emplace_back(image.bytes + at, image.bytes + at + recordSize(image, at));
    return records;
}

bool endsWith(const std::string &text, const std::string &tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The hex text of each frame a record goes out in.
std::vector<std::string> recordFrames(const Bytes &record) {
    std::vector<std::string> frames;
    char hex[2];
    for (size_t i = 0; i < record.size(); ++i) {
        if (i % wire::kitBytesPerFrame == 0) frames.emplace_back();
        byteToHex(record[i], hex);
        frames.back().append(hex, 2);
    }
    return frames;
}

// The percentages of the progress lines, in order.
std::vector<int> progressPercents(const std::string &output) {
    const std::string line = "\r                        \rTransferring.. ";
    std::vector<int> percents;
    for (size_t at = output.find(line); at != std::string::npos; at = output.find(line, at + 1)) {
        size_t number = at + line.size() + 2;
        require(number < output.size(), "a progress line cut short");
        percents.push_back(std::atoi(output.c_str() + number));
        require(output.compare(output.find('%', number), 6, "% done") == 0, "a progress line without its ending");
    }
    return percents;
}

struct Attempt {
    size_t record;
    bool whole;
};

// Cuts the transfer frames into attempts, each the record just sent or the
// next one, in whole frames from the record's first.
std::vector<Attempt> readAttempts(const std::vector<Bytes> &records, const std::vector<std::string> &frames) {
    std::vector<std::vector<std::string>> expected;
    for (const Bytes &record : records) expected.push_back(recordFrames(record));
    std::vector<Attempt> attempts;
    size_t at = 0;
    while (at < frames.size()) {
        size_t last = attempts.empty() ? 0 : attempts.back().record;
        size_t record = frames[at] == expected[last][0] ? last : last + 1;
        require(record < expected.size() && frames[at] == expected[record][0],
                "a frame that is not the start of the record sent or of the next one");
        require(!attempts.empty() || record == 0, "the first record sent is not the kit's first");
        size_t sent = 0;
        for (; sent < expected[record].size() && at < frames.size(); ++sent, ++at)
            require(frames[at] == expected[record][sent], "a record's frames out of order or altered");
        attempts.push_back({record, sent == expected[record].size()});
        require(attempts.back().whole || at == frames.size(), "a record cut short before the last attempt");
    }
    return attempts;
}

bool holdsAt(const Bytes &image, size_t at, const Bytes &record) {
    return at + record.size() <= image.size() && std::equal(record.begin(), record.end(), image.begin() + long(at));
}

// Whole records of the kit, in order, each once; with mustBePrefix, none left
// out before the last.
void checkImage(const std::vector<Bytes> &records, const Bytes &image, bool mustBePrefix) {
    size_t at = 0;
    size_t record = 0;
    while (at < image.size()) {
        while (record < records.size() && !holdsAt(image, at, records[record])) {
            require(!mustBePrefix, "the device's image leaves out a record of the kit");
            ++record;
        }
        require(record < records.size(), "the device's image holds what is not the kit's next records");
        at += records[record].size();
        ++record;
    }
}

const std::string closings[] = {expected::badKit,    expected::outMissing, expected::notResponding,
                                expected::resetting, expected::notMatched, expected::updateError,
                                expected::success,   expected::restarted};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    shownRun = nullptr;
    FuzzedDataProvider in(data, size);
    Script script = readScript(in);
    std::vector<Bytes> records = splitKit(script.kit);

    device::Model model(script.faults);
    ScriptedPeer peer(model, script);
    testkit::Setup setup;
    setup.kitText = testkit::kitText(script.kit);
    testkit::RunResult run = testkit::runUpdateWith(setup, peer);
    const std::string &output = run.output;
    const std::vector<sim::SentFrame> &frames = run.frames;
    shownRun = &run;
    shownModel = &model;

    // How every run begins and ends.
    const std::string opening = expected::banner + expected::opened("Tarnwick_Box.kit");
    require(run.exitStatus == 0, "exit status is not 0");
    require(output.compare(0, opening.size(), opening) == 0, "the run does not begin with the banner and the kit");
    require(run.pauses == 1 && endsWith(output, expected::pause), "the run does not end with one pause");
    std::string beforePause = output.substr(0, output.size() - expected::pause.size());
    require(std::any_of(std::begin(closings), std::end(closings),
                        [&beforePause](const std::string &closing) { return endsWith(beforePause, closing); }),
            "the run ends without a closing message");

    if (records.empty()) {
        require(output == opening + expected::badKit + expected::pause, "a bad kit reported otherwise");
        require(frames.empty() && run.portLog.empty(), "a kit that failed its check reached the ports");
        return 0;
    }
    auto logged = [&run](const char *entry) {
        return std::find(run.portLog.begin(), run.portLog.end(), entry) != run.portLog.end();
    };
    require(logged("midiInOpen 0") && logged("midiOutOpen 0"), "the ports were not opened");
    require(logged("midiInClose 0") && logged("midiOutClose 0") && !logged("midiInClose 0 refused"),
            "a port was left open");

    // Bounded by the waits: 19 handshake waits of 100 ms; per record at most
    // 20 attempts of 10 ms a frame and a 2 s verdict wait; 100 ms a frame
    // still playing.
    uint64_t boundMs = 19 * 100 + 100 * uint64_t(script.stillPlaying);
    size_t boundFrames = 19;
    for (const Bytes &record : records) {
        size_t framesOfRecord = (record.size() + wire::kitBytesPerFrame - 1) / wire::kitBytesPerFrame;
        boundMs += 20 * (10 * framesOfRecord + 2000);
        boundFrames += 20 * framesOfRecord;
    }
    require(run.endMs <= boundMs, "the run took longer than its waits allow");
    require(frames.size() <= boundFrames, "more frames than the retries allow");

    // Records made alike can be told apart neither on the wire nor by the
    // device (a kit's records differ: each has a payload byte from its seed,
    // but a damaged kit can still check and be cut differently).
    for (size_t i = 1; i < records.size(); ++i)
        if (records[i] == records[i - 1]) return 0;

    // Handshakes first, at most 19, then the kit's records.
    for (const sim::SentFrame &frame : frames)
        require(
            frame.bytes.size() >= 2 && frame.bytes.front() == wire::sysExStart && frame.bytes.back() == wire::sysExEnd,
            "a frame without its start and end bytes");
    const std::string handshake(std::begin(wire::handshakeMessage), std::end(wire::handshakeMessage));
    size_t handshakes = 0;
    while (handshakes < frames.size() && testkit::frameData(frames[handshakes]) == handshake) ++handshakes;
    require(handshakes >= 1 && handshakes <= 19, "not 1 to 19 handshakes");
    std::vector<std::string> transferFrames;
    for (size_t i = handshakes; i < frames.size(); ++i) transferFrames.push_back(testkit::frameData(frames[i]));
    std::vector<Attempt> attempts = readAttempts(records, transferFrames);
    bool outputFailed = endsWith(beforePause, expected::outMissing);
    require(attempts.empty() || attempts.back().whole || outputFailed, "a record cut short with the output working");

    // Each progress line shows the offset of the record that follows it.
    std::vector<int> percents = progressPercents(output);
    std::vector<size_t> offsets(1, 0);
    for (const Bytes &record : records) offsets.push_back(offsets.back() + record.size());
    require(percents.size() == attempts.size() || (percents.size() == attempts.size() + 1 && outputFailed),
            "progress lines and records sent do not pair up");
    for (size_t i = 0; i < attempts.size(); ++i)
        require(size_t(percents[i]) == offsets[attempts[i].record] * 100 / script.kit.size(),
                "a progress line that does not show the offset of its record");

    checkImage(records, model.image(), script.inStep);
    bool fullSuccess = endsWith(beforePause, expected::done + expected::success);
    bool completeSuccess = endsWith(beforePause, expected::restarted);
    require(output.find("Target update successfully!") == std::string::npos || fullSuccess || completeSuccess,
            "success printed out of place");
    if (fullSuccess) {
        require(!attempts.empty() && attempts.back().record + 1 == records.size(),
                "success without the last record sent");
        require(peer.postedWithCode(wire::codeAccepted) >= int(records.size()),
                "success with fewer acceptances than records");
        if (script.inStep)
            require(model.image() == script.kit, "success, verdicts in step, but the image is not the kit");
    }
    if (completeSuccess) require(peer.postedWithCode(wire::codeUpdateComplete) >= 1, "update complete never posted");
    return 0;
}
