// Fault texts as tarnwick-target, the Windows stand-in and the test tables
// write them, and the faults they come to.
#include "fault_text.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <string>

namespace {

using device::Faults;

// What differs from a sound box, field by field.
std::string describe(const Faults &f) {
    const Faults sound;
    std::ostringstream out;
    auto optional = [&out](const char *name, const std::optional<uint32_t> &value) {
        if (value) out << name << *value << " ";
    };
    if (f.silent) out << "silent ";
    if (f.writeResends) out << "writeResends ";
    if (f.latencyMs != sound.latencyMs) out << "latency " << f.latencyMs << " ";
    if (f.abandonRecordAfterMs != sound.abandonRecordAfterMs) out << "abandon " << f.abandonRecordAfterMs << " ";
    if (f.handshakeCode != sound.handshakeCode)
        out << "handshake " << std::hex << int(f.handshakeCode) << std::dec << " ";
    optional("again ", f.handshakeAnsweredAgainAfterMs);
    for (uint8_t code : f.verdictScript) out << "verdict " << std::hex << int(code) << std::dec << " ";
    optional("final ", f.finalImageSize);
    optional("silentAfter ", f.silentAfterRecords);
    optional("failAfter ", f.failAfterFrames);
    if (f.replyLength != sound.replyLength)
        out << "long " << f.replyLength << ":" << std::hex << int(f.replyFill) << std::dec << " ";
    for (const auto *tweaks : {&f.handshakeReplies, &f.recordReplies}) {
        for (const auto &tweak : *tweaks) {
            out << (tweaks == &f.recordReplies ? "record " : "greeting ") << tweak.first << ":";
            if (tweak.second.form == device::ReplyForm::none) out << "none";
            if (tweak.second.latencyMs) out << *tweak.second.latencyMs << "ms";
            out << " ";
        }
    }
    return out.str();
}

TEST(FaultText, ReadsEveryKeyAndRefusesWhatItCannotRead) {
    const struct {
        const char *text;
        const char *faults;  // or the error, for a text refused
    } cases[] = {
        {"", ""},
        // The Wine cases' texts, all at once.
        {"silent,latency=20,handshake=31,verdicts=20,final-size=51,silent-after=1,fail-after=7,long-replies=260:1A",
         "silent latency 20 handshake 31 verdict 20 final 51 silentAfter 1 failAfter 7 long 260:1a "},
        // Numbers as tarnwick-target's command line reads them; zero counts.
        {"handshake=0x7f,latency=0x10,abandon-after=0,silent-after=0",
         "latency 16 abandon 0 handshake 7f silentAfter 0 "},
        {"verdicts=1A/15*3/20,write-resends,handshake-again=20",
         "writeResends again 20 verdict 1a verdict 15 verdict 15 verdict 15 verdict 20 "},
        {"no-reply=2/4,late-reply=4:511,no-handshake-reply=3,late-handshake=1-2:550",
         "greeting 1:550ms greeting 2:550ms greeting 3:none record 2:none record 4:none511ms "},
        {"latency=x", "'x' is not a number"},
        {"final-size=4294967296", "'4294967296' is not a number"},
        {"latency", "'' is not a number"},
        {"silent=1", "'silent' takes no value"},
        {"verdicts=1A/80", "reply code '80' is not a SysEx data byte (00 to 7F)"},
        {"handshake=123", "'123' is not a reply code (hexadecimal, such as 1A or 0x1A)"},
        {"no-reply=0", "'0' is not a number from 1"},
        {"late-reply=2", "'2' is not N:MS"},
        {"long-replies=260", "'260' is not N:HH"},
        {"latency=1,,silent", "'' is not a fault"},
        {"slow", "'slow' is not a fault"},
    };
    for (const auto &c : cases) {
        std::string got;
        try {
            got = describe(device::parseFaults(c.text));
        } catch (const std::invalid_argument &e) {
            got = e.what();
        }
        EXPECT_EQ(got, c.faults) << c.text;
    }
}

}  // namespace
