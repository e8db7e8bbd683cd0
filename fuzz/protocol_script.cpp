#include "protocol_script.h"

#include <fuzzer/FuzzedDataProvider.h>

#include "support/test_kits.h"

namespace {

constexpr uint16_t maxRecordSize = 70;
// Below the handshake's 100 ms wait: such a reply is taken by its own wait.
constexpr uint32_t inStepLatencyMs = 80;
// A verdict this long after its record's last frame is still seen by the
// record's own wait: 10 ms of pacing, then 50 sleeps of 10 ms and a last look.
constexpr uint32_t ownVerdictWaitMs = 510;
constexpr uint32_t maxHandshakes = 19;

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

device::ReplyTweak pickTweak(FuzzedDataProvider &in) {
    device::ReplyTweak tweak;
    static const device::ReplyForm forms[] = {device::ReplyForm::normal, device::ReplyForm::none,
                                              device::ReplyForm::startByteOnly, device::ReplyForm::shortMessage};
    tweak.form = in.PickValueInArray(forms);
    if (in.ConsumeBool()) tweak.code = pickCode(in);
    if (in.ConsumeBool()) tweak.latencyMs = pickDelay(in);
    return tweak;
}

// Whether the answers to the greetings can reach the transfer only as the
// product code, which it passes over: either every answer that is a reply
// carries it, or each is taken by its own greeting's wait.
bool greetingAnswersInStep(const device::Faults &faults) {
    bool allProductCode = true, allPrompt = !faults.handshakeAnsweredAgainAfterMs;
    for (uint32_t number = 1; number <= maxHandshakes; ++number) {
        auto found = faults.handshakeReplies.find(number);
        device::ReplyTweak tweak = found == faults.handshakeReplies.end() ? device::ReplyTweak() : found->second;
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

}  // namespace

Script readScript(FuzzedDataProvider &in) {
    Script script;
    // Five bytes at least: the one payload byte tells the records apart.
    std::vector<uint16_t> sizes(size_t(in.ConsumeIntegralInRange<int>(0, maxRecords)));
    for (uint16_t &size : sizes) size = in.ConsumeIntegralInRange<uint16_t>(5, maxRecordSize);
    script.kit = testkit::makeKit(sizes);
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
        // A braced list is read left to right, as the corpus needs.
        Injection injection{in.ConsumeIntegralInRange<uint32_t>(1, 40), pickDelay(in), pickMessage(in)};
        // A burst: the same message several times, a millisecond apart.
        for (int copies = in.ConsumeIntegralInRange<int>(1, 4); copies > 0; --copies) {
            script.injections.push_back(injection);
            ++injection.delayMs;
        }
        if (looksLikeReply(injection.bytes)) script.inStep = false;
    }
    return script;
}
