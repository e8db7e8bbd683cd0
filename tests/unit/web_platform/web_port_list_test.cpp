// The web platform's devices, from the names Web MIDI gives its ports.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "platform/web/web_port_list.h"

namespace {

struct ListCase {
    const char *label;
    std::vector<std::string> browserNames;
    std::vector<std::string> productNames;
};

const ListCase listCases[] = {
    {"no ports", {}, {}},
    {"Linux: the loopback port is the system's and keeps its place, the device keeps its name",
     {"Midi Through Port-0", "Tarnwick Box MIDI 1", "MIDI 1"},
     {"Microsoft Midi Through Port-0", "Tarnwick Box MIDI 1", "MIDI 1"}},
    {"Windows: the system's own ports already carry the prefix",
     {"Microsoft GS Wavetable Synth", "Tarnwick Box"},
     {"Microsoft GS Wavetable Synth", "Tarnwick Box"}},
    {"the tag elsewhere than at the start, or in other letter case, is a device",
     {"USB Midi Through Box", "midi through port-0"},
     {"USB Midi Through Box", "midi through port-0"}},
    {"an unnamed port is still a device, so the numbers stay the browser's", {"", "MIDI 1"}, {"", "MIDI 1"}},
    {"a long loopback name is cut after the prefix, never inside a UTF-8 character",
     {"Midi Through Port-0 of a long name", std::string(30, 'c') + "\xC3\xA9"},
     {"Microsoft Midi Through Port-0 o", std::string(30, 'c')}},
};

void PrintTo(const ListCase &c, std::ostream *out) { *out << c.label; }

class WebPortListTest : public testing::TestWithParam<ListCase> {};

TEST_P(WebPortListTest, GivesTheDevicesInTheBrowsersOrder) {
    EXPECT_EQ(webPortList(GetParam().browserNames), GetParam().productNames);
}

INSTANTIATE_TEST_SUITE_P(Names, WebPortListTest, testing::ValuesIn(listCases));

}  // namespace
