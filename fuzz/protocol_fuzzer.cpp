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
#include <fcntl.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "device_model.h"
#include "midi/reply_mailbox.h"
#include "platform/sim/sim_host.h"
#include "protocol/wire_constants.h"
#include "run/update_run.h"
#include "support/test_kits.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int maxRecords = 4;
constexpr uint16_t maxRecordSize = 70;
// Below the handshake's 100 ms wait: such a reply is taken by its own wait.
constexpr uint32_t inStepLatencyMs = 80;
// A verdict this long after its record's last frame is still seen by the
// record's own wait: 10 ms of pacing, then 50 sleeps of 10 ms and a last look.
constexpr uint32_t ownVerdictWaitMs = 510;
constexpr uint32_t maxHandshakes = 19;

// What the run did, shown with a failure: the output and the wire.
std::string runReport;

void require(bool holds, const char *what) {
    if (holds) return;
    std::fprintf(stderr, "protocol fuzzer: %s\n%s", what, runReport.c_str());
    std::abort();
}

std::string escaped(const std::string &text) {
    std::string out;
    char hex[8];
    for (unsigned char c : text) {
        if (c == '\n') {
            out += "\\n\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c < 0x20 || c >= 0x7F) {
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += char(c);
        }
    }
    return out;
}

std::string describeRun(const std::string &output, const std::vector<sim::SentFrame> &frames,
                        const device::Model &model) {
    std::string report = "output:\n" + escaped(output) + "\nwire:\n";
    char line[64];
    for (const sim::SentFrame &frame : frames) {
        std::snprintf(line, sizeof line, "%6llu ms ", static_cast<unsigned long long>(frame.atMs));
        report += line + std::string(frame.bytes.begin() + 1, frame.bytes.end() - 1) + "\n";
    }
    std::snprintf(line, sizeof line, "device image: %zu bytes\n", model.image().size());
    return report + line;
}

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
    bool inStep = true;
};

// Delays around the waits' edges, or any up to 3 s.
uint32_t pickDelay(FuzzedDataProvider &in) {
    static const uint32_t edges[] = {0, 1, 9, 10, 11, 79, 80, 99, 100, 101, 110, 490, 500, 510, 520, 1990, 2000, 2010};
    if (in.ConsumeBool()) return in.PickValueInArray(edges);
    return in.ConsumeIntegralInRange<uint32_t>(0, 3000);
}

uint8_t pickCode(FuzzedDataProvider &in) {
    static const uint8_t codes[] = {0x1A, 0x1A, 0x20, 0x21, 0x22, 0x24, 0x25, 0x77, 0x15, 0x23};
    if (in.ConsumeIntegralInRange<int>(0, 7) != 0) return in.PickValueInArray(codes);
    return in.ConsumeIntegral<uint8_t>();
}

// Anything the device might put on the wire besides its answers.
Bytes pickMessage(FuzzedDataProvider &in) {
    switch (in.ConsumeIntegralInRange<int>(0, 6)) {
    case 0: return {wire::sysExStart, pickCode(in), wire::sysExEnd};
    case 1: return {wire::sysExStart};  // one byte: not a reply
    case 2: return {};                  // no bytes at all
    case 3: {                           // timing clock, active sensing, a note
        static const Bytes shorts[] = {{0xF8}, {0xFE}, {0x90, 0x3C, 0x40}, {0xB0, 0x07}};
        return in.PickValueInArray(shorts);
    }
    case 4: {  // longer than the updater's 200-byte buffer
        Bytes message = {wire::sysExStart, pickCode(in)};
        size_t length = in.ConsumeIntegralInRange<size_t>(198, 300);
        while (message.size() + 1 < length) message.push_back(static_cast<uint8_t>(message.size() & 0x7F));
        message.push_back(wire::sysExEnd);
        return message;
    }
    case 5: return {wire::sysExStart, pickCode(in)};  // no end byte
    default: {                                        // exactly the buffer's size
        Bytes message(wire::replyBufferSize, 0x11);
        message[0] = wire::sysExStart;
        message[1] = pickCode(in);
        message.back() = wire::sysExEnd;
        return message;
    }
    }
}

bool looksLikeReply(const Bytes &message) { return message.size() >= 2 && message[0] == wire::sysExStart; }

device::ReplyTweak pickTweak(FuzzedDataProvider &in) {
    device::ReplyTweak tweak;
    static const device::ReplyForm forms[] = {device::ReplyForm::normal, device::ReplyForm::none,
                                              device::ReplyForm::startByteOnly, device::ReplyForm::shortMessage};
    tweak.form = in.PickValueInArray(forms);
    if (in.ConsumeBool()) tweak.code = pickCode(in);
    if (in.ConsumeBool()) tweak.latencyMs = pickDelay(in);
    return tweak;
}

device::ReplyTweak tweakOf(const std::map<uint32_t, device::ReplyTweak> &tweaks, uint32_t number) {
    auto found = tweaks.find(number);
    return found == tweaks.end() ? device::ReplyTweak() : found->second;
}

// Whether the answers to the greetings can reach the transfer only as the
// product code, which it passes over: either every answer that is a reply
// carries it, or each is taken by its own greeting's wait.
bool greetingAnswersInStep(const device::Faults &faults) {
    bool allProductCode = true, allPrompt = !faults.handshakeAnsweredAgainAfterMs;
    for (uint32_t number = 1; number <= maxHandshakes; ++number) {
        device::ReplyTweak tweak = tweakOf(faults.handshakeReplies, number);
        if (tweak.form == device::ReplyForm::normal && tweak.code.value_or(faults.handshakeCode) != wire::productCode)
            allProductCode = false;
        if (tweak.latencyMs.value_or(faults.latencyMs) > inStepLatencyMs) allPrompt = false;
    }
    return allProductCode || allPrompt;
}

// Whether every record's verdict comes inside the record's own wait.
bool verdictsInTime(const device::Faults &faults) {
    if (faults.latencyMs > ownVerdictWaitMs) return false;
    for (const auto &entry : faults.recordReplies)
        if (entry.second.latencyMs.value_or(0) > ownVerdictWaitMs) return false;
    return true;
}

Script readScript(FuzzedDataProvider &in) {
    Script script;
    // Five bytes at least: the one payload byte tells the records apart.
    int records = in.ConsumeIntegralInRange<int>(0, maxRecords);
    for (int i = 0; i < records; ++i) {
        uint16_t size = in.ConsumeIntegralInRange<uint16_t>(5, maxRecordSize);
        Bytes record = testkit::makeRecord(size, static_cast<uint32_t>(i + 1));
        script.kit.insert(script.kit.end(), record.begin(), record.end());
    }
    // A damaged kit: a byte changed, or the text cut short.
    int damage = in.ConsumeIntegralInRange<int>(0, 7);
    if (damage == 0 && !script.kit.empty()) {
        size_t at = in.ConsumeIntegral<uint16_t>() % script.kit.size();
        script.kit[at] ^= in.ConsumeIntegralInRange<uint8_t>(1, 255);
    } else if (damage == 1 && !script.kit.empty()) {
        script.kit.resize(in.ConsumeIntegral<uint16_t>() % script.kit.size());
    }

    device::Faults &faults = script.faults;
    faults.latencyMs = in.ConsumeBool() ? 0 : pickDelay(in);
    if (in.ConsumeIntegralInRange<int>(0, 7) == 0) faults.handshakeCode = pickCode(in);
    bool oddForms = false;
    for (int i = in.ConsumeIntegralInRange<int>(0, 3); i > 0; --i) {
        uint32_t number = in.ConsumeIntegralInRange<uint32_t>(1, 20);
        faults.handshakeReplies[number] = pickTweak(in);
        oddForms |= faults.handshakeReplies[number].form != device::ReplyForm::normal;
    }
    for (int i = in.ConsumeIntegralInRange<int>(0, 8); i > 0; --i) faults.verdictScript.push_back(pickCode(in));
    for (int i = in.ConsumeIntegralInRange<int>(0, 4); i > 0; --i) {
        uint32_t attempt = in.ConsumeIntegralInRange<uint32_t>(1, 40);
        faults.recordReplies[attempt] = pickTweak(in);
        oddForms |= faults.recordReplies[attempt].form != device::ReplyForm::normal;
    }
    if (in.ConsumeIntegralInRange<int>(0, 3) == 0)
        faults.finalImageSize = in.ConsumeIntegralInRange<uint32_t>(0, uint32_t(script.kit.size()));
    faults.silent = in.ConsumeIntegralInRange<int>(0, 15) == 0;
    if (in.ConsumeIntegralInRange<int>(0, 3) == 0)
        faults.silentAfterRecords = in.ConsumeIntegralInRange<uint32_t>(0, maxRecords);
    if (in.ConsumeIntegralInRange<int>(0, 3) == 0) faults.failAfterFrames = in.ConsumeIntegralInRange<uint32_t>(0, 30);
    if (in.ConsumeIntegralInRange<int>(0, 3) == 0) faults.handshakeAnsweredAgainAfterMs = pickDelay(in);
    if (!greetingAnswersInStep(faults) || !verdictsInTime(faults)) script.inStep = false;
    // Noise goes out just ahead of an answer and is overwritten by it, unless
    // the answer takes an odd form and leaves the noise as the last message.
    for (int i = in.ConsumeIntegralInRange<int>(0, 2); i > 0; --i) {
        faults.noiseBeforeReply.push_back(pickMessage(in));
        if (oddForms && looksLikeReply(faults.noiseBeforeReply.back())) script.inStep = false;
    }

    script.stillPlaying = in.ConsumeIntegralInRange<int>(0, 3);
    for (int i = in.ConsumeIntegralInRange<int>(0, 4); i > 0; --i) {
        Injection injection;
        injection.afterFrame = in.ConsumeIntegralInRange<uint32_t>(1, 40);
        injection.delayMs = pickDelay(in);
        injection.bytes = pickMessage(in);
        // A burst: the same message several times, a millisecond apart.
        int copies = in.ConsumeIntegralInRange<int>(1, 4);
        for (int c = 0; c < copies; ++c) {
            script.injections.push_back(injection);
            injection.delayMs++;
        }
        if (looksLikeReply(injection.bytes)) script.inStep = false;
    }
    return script;
}

// The device model on the simulated host, with the script's own messages
// added; everything posted is kept, so that what the program claims can be
// checked against what it was told.
class ScriptedPeer : public sim::Peer {
  public:
    ScriptedPeer(device::Model &model, const std::vector<Injection> &injections)
        : model_(model), injections_(injections) {}

    bool onFrame(const uint8_t *frame, size_t length, uint64_t) override {
        ++frames_;
        device::FrameResult result = model_.onFrame(frame, length);
        for (const device::Outgoing &message : result.messages) postKept(message.bytes, message.delayMs);
        for (const Injection &injection : injections_)
            if (injection.afterFrame == frames_) postKept(injection.bytes, injection.delayMs);
        return result.accepted;
    }

    int postedWithCode(uint8_t code) const {
        int count = 0;
        for (const Bytes &message : posted_)
            if (looksLikeReply(message) && message[1] == code) ++count;
        return count;
    }

  private:
    void postKept(const Bytes &bytes, uint32_t delayMs) {
        posted_.push_back(bytes);
        sim::post(bytes, delayMs);
    }

    device::Model &model_;
    const std::vector<Injection> &injections_;
    uint32_t frames_ = 0;
    std::vector<Bytes> posted_;
};

// Standard output into a file for one run.
std::string runCaptured() {
    std::fflush(stdout);
    std::FILE *file = std::tmpfile();
    int saved = dup(STDOUT_FILENO);
    require(file != nullptr && saved >= 0, "cannot capture standard output");
    dup2(fileno(file), STDOUT_FILENO);
    int status = runUpdate();
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    require(status == 0, "exit status is not 0");
    std::string text;
    std::rewind(file);
    char block[4096];
    size_t got;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0) text.append(block, got);
    std::fclose(file);
    return text;
}

// The kit's records, walked here independently of the program; false when
// the kit is not a chain of sound records.
bool splitKit(const Bytes &kit, std::vector<Bytes> &records) {
    records.clear();
    size_t offset = 0;
    while (offset < kit.size()) {
        if (offset + 2 > kit.size()) return false;
        size_t n = size_t(kit[offset]) * 256 + kit[offset + 1];
        if (n < 2 || offset + n + 2 > kit.size()) return false;
        uint16_t sum = 0;
        for (size_t i = offset + 2; i < offset + n; ++i) sum = static_cast<uint16_t>(sum + kit[i]);
        sum = static_cast<uint16_t>(sum + kit[offset + n] + 256 * kit[offset + n + 1]);
        if (sum != 0) return false;
        records.emplace_back(kit.begin() + long(offset), kit.begin() + long(offset + n + 2));
        offset += n + 2;
    }
    return true;
}

bool endsWith(const std::string &text, const std::string &tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::string frameData(const sim::SentFrame &frame) {
    require(frame.bytes.size() >= 2 && frame.bytes.front() == wire::sysExStart && frame.bytes.back() == wire::sysExEnd,
            "a frame without its start and end bytes");
    return std::string(frame.bytes.begin() + 1, frame.bytes.end() - 1);
}

std::vector<std::string> recordFrames(const Bytes &record) {
    static const char digits[] = "0123456789ABCDEF";
    std::vector<std::string> frames;
    for (size_t at = 0; at < record.size(); at += wire::kitBytesPerFrame) {
        std::string text;
        for (size_t i = at; i < record.size() && i < at + wire::kitBytesPerFrame; ++i) {
            text += digits[record[i] >> 4];
            text += digits[record[i] & 0x0F];
        }
        frames.push_back(text);
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
        size_t record = expected.size();
        for (size_t candidate = last; candidate <= last + 1 && candidate < expected.size(); ++candidate) {
            if (frames[at] == expected[candidate][0]) {
                record = candidate;
                break;
            }
        }
        require(record < expected.size(), "a frame that is not the start of the record sent or of the next one");
        require(!attempts.empty() || record == 0, "the first record sent is not the kit's first");
        size_t sent = 0;
        while (sent < expected[record].size() && at < frames.size()) {
            require(frames[at] == expected[record][sent], "a record's frames out of order or altered");
            ++sent;
            ++at;
        }
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

const char *const closings[] = {
    "Error: The upgrade file is error!\n\n",
    "Error: The MIDI Out of device is missing!\n\n",
    "\nFailed: Target is not responding.\n\n",
    "Please wait the system reset and retry again!\n\n",
    "Error: The device and the upgrade file is not matched!\n\n",
    "\nError in updating.\n",
    "Target update successfully!\n\n",
    "Target update successfully!\n\nThe System is restart, please wait!\n\n",
};

// The run's working folder, holding only the kit; the fuzzer's own folder is
// current between runs, where it writes its corpus and crashes.
std::string folder;
int fuzzerFolder = -1;

void removeFolder() {
    std::remove((folder + "/Tarnwick_Box.kit").c_str());
    rmdir(folder.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    char pattern[] = "/tmp/tarnwick-protocol-fuzz-XXXXXX";
    require(mkdtemp(pattern) != nullptr, "mkdtemp failed");
    folder = pattern;
    fuzzerFolder = open(".", O_RDONLY | O_DIRECTORY);
    require(fuzzerFolder >= 0, "cannot open the current folder");
    std::atexit(removeFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    runReport.clear();
    FuzzedDataProvider in(data, size);
    Script script = readScript(in);
    {
        std::ofstream kit(folder + "/Tarnwick_Box.kit", std::ios::binary | std::ios::trunc);
        kit << testkit::kitText(script.kit);
    }
    std::vector<Bytes> records;
    bool sound = splitKit(script.kit, records) && !records.empty();

    device::Model model(script.faults);
    ScriptedPeer peer(model, script.injections);
    sim::reset();
    mailbox.replyLength = 0;
    sim::setSingleDevice();
    sim::setStillPlayingReplies(script.stillPlaying);
    sim::attachPeer(&peer);
    require(chdir(folder.c_str()) == 0, "cannot enter the run's folder");
    std::string output = runCaptured();
    require(fchdir(fuzzerFolder) == 0, "cannot return to the fuzzer's folder");
    sim::attachPeer(nullptr);
    std::vector<sim::SentFrame> frames = sim::sentFrames();
    std::vector<std::string> ports = sim::portLog();
    uint64_t endMs = sim::nowMs();
    runReport = describeRun(output, frames, model);

    // How every run begins and ends.
    const std::string pause = "Press any key to continue . . . \n";
    const std::string opening = "Quorlane Update V0.3 -> Tarnwick Box System\nOK: File 'Tarnwick_Box.kit' is open.\n";
    require(output.compare(0, opening.size(), opening) == 0, "the run does not begin with the banner and the kit");
    require(sim::pauseCount() == 1 && endsWith(output, pause), "the run does not end with one pause");
    std::string beforePause = output.substr(0, output.size() - pause.size());
    bool closed = false;
    for (const char *closing : closings) closed |= endsWith(beforePause, closing);
    require(closed, "the run ends without a closing message");

    if (!sound) {
        require(output == opening + "Error: The upgrade file is error!\n\n" + pause, "a bad kit reported otherwise");
        require(frames.empty() && ports.empty(), "a kit that failed its check reached the ports");
        return 0;
    }
    auto logged = [&ports](const char *entry) { return std::find(ports.begin(), ports.end(), entry) != ports.end(); };
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
    require(endMs <= boundMs, "the run took longer than its waits allow");
    require(frames.size() <= boundFrames, "more frames than the retries allow");

    // Records made alike can be told apart neither on the wire nor by the
    // device (a kit's records differ: each has a payload byte from its seed,
    // but a damaged kit can still check and be cut differently).
    for (size_t i = 1; i < records.size(); ++i)
        if (records[i] == records[i - 1]) return 0;

    // Handshakes first, at most 19, then the kit's records.
    const std::string handshake(std::begin(wire::handshakeMessage), std::end(wire::handshakeMessage));
    size_t handshakes = 0;
    while (handshakes < frames.size() && frameData(frames[handshakes]) == handshake) ++handshakes;
    require(handshakes >= 1 && handshakes <= 19, "not 1 to 19 handshakes");
    std::vector<std::string> transferFrames;
    for (size_t i = handshakes; i < frames.size(); ++i) transferFrames.push_back(frameData(frames[i]));
    std::vector<Attempt> attempts = readAttempts(records, transferFrames);
    bool outputFailed = endsWith(beforePause, "Error: The MIDI Out of device is missing!\n\n");
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
    bool fullSuccess = endsWith(beforePause, "\rTransferring.. 100% done.  \nTarget update successfully!\n\n");
    bool completeSuccess = endsWith(beforePause,
                                    "\rTransferring.. 100% done.  \nTarget update successfully!\n\n"
                                    "The System is restart, please wait!\n\n");
    require(output.find("Target update successfully!") == std::string::npos || fullSuccess || completeSuccess,
            "success printed out of place");
    if (fullSuccess) {
        require(attempts.empty() ? records.empty() : attempts.back().record + 1 == records.size(),
                "success without the last record sent");
        require(peer.postedWithCode(wire::codeAccepted) >= int(records.size()),
                "success with fewer acceptances than records");
        if (script.inStep)
            require(model.image() == script.kit, "success, verdicts in step, but the image is not the kit");
    }
    if (completeSuccess) require(peer.postedWithCode(wire::codeUpdateComplete) >= 1, "update complete never posted");
    return 0;
}
