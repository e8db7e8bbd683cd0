#include "device_model.h"

#include <algorithm>
#include <cstring>

#include "base/wire_constants.h"

namespace device {

namespace {

// Active sensing: a one-byte message that is not SysEx.
constexpr uint8_t activeSensing = 0xFE;

int hexValue(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The frame's bytes, or nothing when it is damaged.
std::optional<Bytes> decodeHex(const uint8_t *data, size_t length) {
    if (length < 2 || length > wire::maxFrameData || length % 2 != 0) return std::nullopt;
    Bytes bytes;
    bytes.reserve(length / 2);
    for (size_t i = 0; i < length; i += 2) {
        int hi = hexValue(data[i]), lo = hexValue(data[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        bytes.push_back(static_cast<uint8_t>(hi * 16 + lo));
    }
    return bytes;
}

bool isHandshake(const uint8_t *data, size_t length) {
    return length == wire::handshakeLength && std::memcmp(data, wire::handshakeMessage, length) == 0;
}

ReplyTweak tweakFor(const std::map<uint32_t, ReplyTweak> &tweaks, uint32_t number) {
    auto found = tweaks.find(number);
    return found == tweaks.end() ? ReplyTweak() : found->second;
}

}  // namespace

Model::Model(Faults faults) : faults_(std::move(faults)) {}

FrameResult Model::onFrame(const uint8_t *frame, size_t length, uint64_t arrivalMs) {
    FrameResult result{true, {}};
    counters_.frames++;
    bool stalled = faults_.abandonRecordAfterMs != 0 && arrivalMs > lastFrameMs_ + faults_.abandonRecordAfterMs;
    lastFrameMs_ = arrivalMs;
    if (stalled && recordReceived_ != 0) {
        result.droppedRecordBytes = recordReceived_;
        startRecord();
    }
    if (faults_.failAfterFrames && counters_.frames > *faults_.failAfterFrames) {
        result.accepted = false;
        return result;
    }
    if (faults_.silent || mute_) {
        counters_.ignoredFrames++;
        return result;
    }
    bool framed = length >= 2 && frame[0] == wire::sysExStart && frame[length - 1] == wire::sysExEnd;
    const uint8_t *data = framed ? frame + 1 : frame;
    size_t dataLength = framed ? length - 2 : length;
    if (framed && isHandshake(data, dataLength)) {
        onHandshake(result);
    } else if (!greeted_) {
        counters_.ignoredFrames++;
    } else {
        // An unframed message is damaged like a frame of bad characters.
        onTransferFrame(data, framed ? dataLength : 0, result);
    }
    return result;
}

void Model::onHandshake(FrameResult &result) {
    uint32_t number = ++counters_.handshakes;
    ReplyTweak tweak = tweakFor(faults_.handshakeReplies, number);
    uint8_t code = tweak.code.value_or(faults_.handshakeCode);
    if (code == wire::productCode) {
        // A new update begins: whatever an earlier one left is dropped.
        greeted_ = true;
        image_.clear();
        lastWritten_.clear();
        startRecord();
    }
    answer(code, tweak, result);
    if (faults_.handshakeAnsweredAgainAfterMs) {
        ReplyTweak again = tweak;
        again.latencyMs = tweak.latencyMs.value_or(faults_.latencyMs) + *faults_.handshakeAnsweredAgainAfterMs;
        answer(code, again, result);
    }
    if (greeted_ && faults_.silentAfterRecords == 0u) mute_ = true;
}

void Model::onTransferFrame(const uint8_t *data, size_t length, FrameResult &result) {
    std::optional<Bytes> bytes = decodeHex(data, length);
    bool sizeKnown = record_.size() >= 2;
    if (!bytes) {
        counters_.damagedFrames++;
        if (!sizeKnown) {
            // Where this record ends cannot be known: answer now, start afresh.
            recordSpoiled_ = true;
            finishRecord(result);
            return;
        }
        recordSpoiled_ = true;
        recordReceived_ += uint32_t(length / 2);
    } else {
        if (!recordSpoiled_) record_.insert(record_.end(), bytes->begin(), bytes->end());
        recordReceived_ += uint32_t(bytes->size());
    }
    if (record_.size() < 2) return;
    uint32_t size = uint32_t(record_[0]) * 256 + record_[1] + 2;
    if (recordReceived_ < size) return;
    // Bytes beyond the record's end in its last frame.
    if (recordReceived_ > size) recordSpoiled_ = true;
    finishRecord(result);
}

uint8_t Model::ownVerdict() const {
    if (recordSpoiled_) return wire::codeDamaged;
    uint32_t n = uint32_t(record_[0]) * 256 + record_[1];
    if (n < 2) return wire::codeCrcError;
    uint16_t sum = 0;
    for (uint32_t i = 2; i < n; ++i) sum = static_cast<uint16_t>(sum + record_[i]);
    sum = static_cast<uint16_t>(sum + record_[n] + 256 * record_[n + 1]);
    return sum == 0 ? wire::codeAccepted : wire::codeCrcError;
}

void Model::finishRecord(FrameResult &result) {
    uint32_t attempt = ++counters_.recordAttempts;
    ReplyTweak tweak = tweakFor(faults_.recordReplies, attempt);
    uint8_t code = ownVerdict();
    if (attempt <= faults_.verdictScript.size()) code = faults_.verdictScript[attempt - 1];
    if (tweak.code) code = *tweak.code;
    // Only a whole record can be written, whatever the box claims.
    if ((code == wire::codeAccepted || code == wire::codeUpdateComplete) && !recordSpoiled_) writeRecord();
    if (code == wire::codeAccepted && faults_.finalImageSize && image_.size() >= *faults_.finalImageSize)
        code = wire::codeUpdateComplete;
    answer(code, tweak, result);
    if (faults_.silentAfterRecords && counters_.recordsWritten >= *faults_.silentAfterRecords) mute_ = true;
    startRecord();
}

void Model::writeRecord() {
    if (!faults_.writeResends && record_ == lastWritten_) {
        counters_.resendsRecognised++;
        return;
    }
    image_.insert(image_.end(), record_.begin(), record_.end());
    lastWritten_ = record_;
    counters_.recordsWritten++;
}

Bytes Model::stretched(uint8_t code) const {
    Bytes reply(std::max<uint32_t>(faults_.replyLength, 3), faults_.replyFill);
    reply.front() = wire::sysExStart;
    reply[1] = code;
    reply.back() = wire::sysExEnd;
    return reply;
}

void Model::answer(uint8_t code, const ReplyTweak &tweak, FrameResult &result) {
    if (tweak.form == ReplyForm::none) return;
    uint32_t delay = tweak.latencyMs.value_or(faults_.latencyMs);
    for (const Bytes &noise : faults_.noiseBeforeReply) result.messages.push_back({noise, delay});
    switch (tweak.form) {
    case ReplyForm::normal: result.messages.push_back({stretched(code), delay}); break;
    case ReplyForm::startByteOnly: result.messages.push_back({{wire::sysExStart}, delay}); break;
    case ReplyForm::shortMessage: result.messages.push_back({{activeSensing}, delay}); break;
    case ReplyForm::none: break;
    }
}

void Model::startRecord() {
    record_.clear();
    recordReceived_ = 0;
    recordSpoiled_ = false;
}

}  // namespace device
