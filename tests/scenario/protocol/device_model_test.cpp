// The device model fed frame by frame: what it answers to each frame, and
// what it holds in its image afterwards.
#include "device_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

template <class Case>
std::string nameOf(const ::testing::TestParamInfo<Case> &param) {
    return param.param.name;
}

using device::Bytes;
using device::Faults;

Bytes frame(const std::string &data) {
    Bytes bytes(data.size() + 2);
    bytes.front() = 0xF0;
    std::copy(data.begin(), data.end(), bytes.begin() + 1);
    bytes.back() = 0xF7;
    return bytes;
}

const Bytes handshake = frame(std::string("\x3C\x11\x52\x07\x68\x4D\x23", 7));

std::string hexOf(const Bytes &bytes) {
    std::string text;
    char pair[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(pair, sizeof pair, i == 0 ? "%02X" : " %02X", bytes[i]);
        text += pair;
    }
    return text;
}

// Each frame's answer on its own line: the messages with their delays,
// "refused" for a frame that did not get through, "-" for silence; "dropped
// N; " first when the frame's arrival dropped a record of N bytes.
std::string transcript(device::Model &model, const std::vector<Bytes> &frames,
                       const std::vector<uint64_t> &arrivalMs = {}) {
    std::string text;
    for (size_t f = 0; f < frames.size(); ++f) {
        const Bytes &bytes = frames[f];
        device::FrameResult result = model.onFrame(bytes.data(), bytes.size(), f < arrivalMs.size() ? arrivalMs[f] : 0);
        if (result.droppedRecordBytes != 0) text += "dropped " + std::to_string(result.droppedRecordBytes) + "; ";
        if (!result.accepted) text += "refused";
        for (size_t i = 0; i < result.messages.size(); ++i) {
            if (i != 0) text += ", ";
            text += hexOf(result.messages[i].bytes) + " @" + std::to_string(result.messages[i].delayMs);
        }
        if (result.accepted && result.messages.empty()) text += "-";
        text += "\n";
    }
    return text;
}

struct ModelCase {
    const char *name;
    std::function<void(Faults &)> faults;
    std::vector<Bytes> frames;
    std::string answers;
    std::string image;  // hex
};

std::ostream &operator<<(std::ostream &out, const ModelCase &row) { return out << row.name; }

class DeviceModel : public ::testing::TestWithParam<ModelCase> {};

// 00 05 01 02 03 FA FF: payload 01 02 03, check word 0xFFFA.
const std::string sound =
    "00050102"
    "03FAFF";
const std::string sound2 =
    "0002"
    "0000";

const ModelCase modelCases[] = {
    {"handshakeAnswered", nullptr, {handshake}, "F0 23 F7 @0\n", ""},
    {"restartingBox", [](Faults &f) { f.handshakeCode = 0x15; }, {handshake, frame(sound)}, "F0 15 F7 @0\n-\n", ""},
    {"foreignBox", [](Faults &f) { f.handshakeCode = 0x42; }, {handshake}, "F0 42 F7 @0\n", ""},
    {"recordsBeforeHandshakeIgnored", nullptr, {frame(sound), handshake}, "-\nF0 23 F7 @0\n", ""},
    {"handshakeWithAnotherProductIgnored", nullptr, {frame(std::string("\x3C\x11\x52\x07\x68\x4D\x24", 7))}, "-\n", ""},
    {"handshakeLongerIgnored", nullptr, {frame(std::string("\x3C\x11\x52\x07\x68\x4D\x23\x00", 8))}, "-\n", ""},
    {"soundRecord", nullptr, {handshake, frame(sound)}, "F0 23 F7 @0\nF0 1A F7 @0\n", "00 05 01 02 03 FA FF"},
    {"lowerCaseDigits",
     nullptr,
     {handshake, frame("00050102"
                       "03faff")},
     "F0 23 F7 @0\nF0 1A F7 @0\n",
     "00 05 01 02 03 FA FF"},
    {"badCheckWord",
     nullptr,
     {handshake, frame("00050102"
                       "03FBFF")},
     "F0 23 F7 @0\nF0 20 F7 @0\n",
     ""},
    {"noRoomForCheckWord", nullptr, {handshake, frame("0001AB")}, "F0 23 F7 @0\nF0 20 F7 @0\n", ""},
    {"recordOverFrames",
     nullptr,
     {handshake, frame("0005"), frame("010203"), frame("FAFF")},
     "F0 23 F7 @0\n-\n-\nF0 1A F7 @0\n",
     "00 05 01 02 03 FA FF"},
    // A damaged frame inside the record: answered at the record's end.
    {"damagedFrameMidRecord",
     nullptr,
     {handshake, frame("0005"), frame("01x203"), frame("FAFF"), frame(sound2)},
     "F0 23 F7 @0\n-\n-\nF0 21 F7 @0\nF0 1A F7 @0\n",
     "00 02 00 00"},
    // The length field is lost: answered at once, the next frame starts afresh.
    {"damagedLengthField",
     nullptr,
     {handshake, frame("0G050102"), frame(sound)},
     "F0 23 F7 @0\nF0 21 F7 @0\nF0 1A F7 @0\n",
     "00 05 01 02 03 FA FF"},
    {"oddDigitCount", nullptr, {handshake, frame("00050")}, "F0 23 F7 @0\nF0 21 F7 @0\n", ""},
    {"emptyFrame", nullptr, {handshake, frame("")}, "F0 23 F7 @0\nF0 21 F7 @0\n", ""},
    {"frameOverFortySixCharacters",
     nullptr,
     {handshake, frame(std::string(48, '0'))},
     "F0 23 F7 @0\nF0 21 F7 @0\n",
     ""},
    {"bytesBeyondTheRecord", nullptr, {handshake, frame(sound + "00")}, "F0 23 F7 @0\nF0 21 F7 @0\n", ""},
    // A resend of the record written last is acknowledged, not written again;
    // the same record after another one is written again.
    {"resendWrittenOnce",
     nullptr,
     {handshake, frame(sound), frame(sound), frame(sound2), frame(sound)},
     "F0 23 F7 @0\nF0 1A F7 @0\nF0 1A F7 @0\nF0 1A F7 @0\nF0 1A F7 @0\n",
     "00 05 01 02 03 FA FF 00 02 00 00 00 05 01 02 03 FA FF"},
    {"resendWrittenTwiceWhenAsked",
     [](Faults &f) { f.writeResends = true; },
     {handshake, frame(sound), frame(sound)},
     "F0 23 F7 @0\nF0 1A F7 @0\nF0 1A F7 @0\n",
     "00 05 01 02 03 FA FF 00 05 01 02 03 FA FF"},
    {"newHandshakeStartsAfresh",
     nullptr,
     {handshake, frame(sound), handshake, frame(sound2)},
     "F0 23 F7 @0\nF0 1A F7 @0\nF0 23 F7 @0\nF0 1A F7 @0\n",
     "00 02 00 00"},
    {"latency",
     [](Faults &f) { f.latencyMs = 42; },
     {handshake, frame(sound)},
     "F0 23 F7 @42\nF0 1A F7 @42\n",
     "00 05 01 02 03 FA FF"},
    // A scripted rejection leaves the record unwritten; beyond the script the
    // box's own verdict counts.
    {"script",
     [](Faults &f) { f.verdictScript = {0x25}; },
     {handshake, frame(sound), frame(sound)},
     "F0 23 F7 @0\nF0 25 F7 @0\nF0 1A F7 @0\n",
     "00 05 01 02 03 FA FF"},
    {"tweaksOverScript",
     [](Faults &f) {
         f.verdictScript = {0x25, 0x25};
         f.recordReplies[2] = {device::ReplyForm::normal, 0x1A, 7};
     },
     {handshake, frame(sound), frame(sound)},
     "F0 23 F7 @0\nF0 25 F7 @0\nF0 1A F7 @7\n",
     "00 05 01 02 03 FA FF"},
    {"handshakeAnsweredTwice",
     [](Faults &f) {
         f.latencyMs = 5;
         f.handshakeAnsweredAgainAfterMs = 20;
     },
     {handshake, frame(sound)},
     "F0 23 F7 @5, F0 23 F7 @25\nF0 1A F7 @5\n",
     "00 05 01 02 03 FA FF"},
    {"brokenReplies",
     [](Faults &f) {
         f.handshakeReplies[1].form = device::ReplyForm::startByteOnly;
         f.handshakeReplies[2].form = device::ReplyForm::shortMessage;
         f.handshakeReplies[3].form = device::ReplyForm::none;
     },
     {handshake, handshake, handshake, handshake},
     "F0 @0\nFE @0\n-\nF0 23 F7 @0\n",
     ""},
    {"completionAtFinalSize",
     [](Faults &f) { f.finalImageSize = 11; },
     {handshake, frame(sound), frame(sound2)},
     "F0 23 F7 @0\nF0 1A F7 @0\nF0 77 F7 @0\n",
     "00 05 01 02 03 FA FF 00 02 00 00"},
    {"silentAfterOneRecord",
     [](Faults &f) { f.silentAfterRecords = 1; },
     {handshake,
      frame("00050102"
            "03FBFF"),
      frame(sound), frame(sound2), handshake},
     "F0 23 F7 @0\nF0 20 F7 @0\nF0 1A F7 @0\n-\n-\n",
     "00 05 01 02 03 FA FF"},
    {"silentAfterHandshake",
     [](Faults &f) { f.silentAfterRecords = 0; },
     {handshake, frame(sound), handshake},
     "F0 23 F7 @0\n-\n-\n",
     ""},
    {"silent", [](Faults &f) { f.silent = true; }, {handshake, frame(sound)}, "-\n-\n", ""},
    {"inputFailsAfterTwoFrames",
     [](Faults &f) { f.failAfterFrames = 2; },
     {handshake, frame("0005"), frame("010203")},
     "F0 23 F7 @0\n-\nrefused\n",
     ""},
    {"noiseAheadOfEveryAnswer",
     [](Faults &f) {
         f.noiseBeforeReply = {{0xFE}, {0xF0, 0x7D, 0xF7}};
     },
     {handshake, frame("0005")},
     "FE @0, F0 7D F7 @0, F0 23 F7 @0\n-\n",
     ""},
};

TEST_P(DeviceModel, answersAndImage) {
    Faults faults;
    if (GetParam().faults) GetParam().faults(faults);
    device::Model model(faults);
    EXPECT_EQ(transcript(model, GetParam().frames), GetParam().answers);
    EXPECT_EQ(hexOf(model.image()), GetParam().image);
}

INSTANTIATE_TEST_SUITE_P(Frames, DeviceModel, ::testing::ValuesIn(modelCases), nameOf<ModelCase>);

// The first frame of a record arrives alone (the rest lost on the line), and
// the whole record is sent again later, as the updater does after waiting
// for a verdict in vain.
struct StallCase {
    const char *name;
    uint32_t abandonAfterMs;
    uint64_t resendAtMs;
    std::string answers;
    std::string image;
};

class StalledRecord : public ::testing::TestWithParam<StallCase> {};

const StallCase stallCases[] = {
    {"abandonedAfterTheLimit", 100, 611, "F0 23 F7 @0\n-\ndropped 2; F0 1A F7 @0\n", "00 05 01 02 03 FA FF"},
    {"keptWithinTheLimit", 100, 110, "F0 23 F7 @0\n-\nF0 21 F7 @0\n", ""},
    {"keptWhenTheRuleIsOff", 0, 611, "F0 23 F7 @0\n-\nF0 21 F7 @0\n", ""},
};

TEST_P(StalledRecord, answersAndImage) {
    Faults faults;
    faults.abandonRecordAfterMs = GetParam().abandonAfterMs;
    device::Model model(faults);
    EXPECT_EQ(transcript(model, {handshake, frame("0005"), frame(sound)}, {1, 10, GetParam().resendAtMs}),
              GetParam().answers);
    EXPECT_EQ(hexOf(model.image()), GetParam().image);
}

INSTANTIATE_TEST_SUITE_P(Frames, StalledRecord, ::testing::ValuesIn(stallCases), nameOf<StallCase>);

}  // namespace
