// How the names the libraries report become the numbered device list.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "platform/posix/rtmidi_port_list.h"

namespace {

struct Expected {
    MidiBackend backend;
    unsigned backendIndex;
    std::string productName;
};

struct ListCase {
    const char *label;
    std::vector<std::string> systemNames;
    std::vector<std::string> jackNames;
    std::vector<Expected> devices;
};

const std::string through = "Midi Through:Midi Through Port-0 14:0";
const std::string box = "Tarnwick Box:Tarnwick Box MIDI 1 20:0";
const std::string jackBox = "tw-box:in";
const std::string boxCut = box.substr(0, 31);  // the box as the list names it, cut to 31 bytes

const ListCase listCases[] = {
    {"no MIDI system at all", {}, {}, {}},
    {"ALSA's own port is marked as the system's, the device keeps its name",
     {through, box},
     {},
     {{MidiBackend::system, 0, "Microsoft Midi Through:Midi Thr"}, {MidiBackend::system, 1, boxCut}}},
    {"system ports are numbered before JACK's",
     {box},
     {jackBox},
     {{MidiBackend::system, 0, boxCut}, {MidiBackend::jack, 0, jackBox}}},
    {"our own clients never count, renamed ones neither, and the library index stays",
     {"tarnwick-update-in:replies 129:0", "tarnwick-update-out:frames 130:0", box},
     {"tarnwick-update-in:replies", "tarnwick-update-in-01:replies", "tarnwick-update-out-02:frames", jackBox},
     {{MidiBackend::system, 2, boxCut}, {MidiBackend::jack, 3, jackBox}}},
    {"a client whose name merely begins like ours counts",
     {},
     {"tarnwick-target:in", "tarnwick-updater:in", "tarnwick-update-inbox:in", "tarnwick-update-in-x:in"},
     {{MidiBackend::jack, 0, "tarnwick-target:in"},
      {MidiBackend::jack, 1, "tarnwick-updater:in"},
      {MidiBackend::jack, 2, "tarnwick-update-inbox:in"},
      {MidiBackend::jack, 3, "tarnwick-update-in-x:in"}}},
    {"Midi Through seen through the a2j bridge is the system's too",
     {},
     {"a2j:Midi Through [14] (capture): Midi Through Port-0", "system:midi_capture_1"},
     {{MidiBackend::jack, 0, "Microsoft a2j:Midi Through [14]"}, {MidiBackend::jack, 1, "system:midi_capture_1"}}},
    {"a device named after Midi Through elsewhere than at the start of an ALSA name keeps its name",
     {"USB Midi Through Box:Port 1 24:0"},
     {},
     {{MidiBackend::system, 0, "USB Midi Through Box:Port 1 24:"}}},
    {"a port gone between counting and naming is left out", {"", box}, {""}, {{MidiBackend::system, 1, boxCut}}},
    {"names of exactly 31 bytes stay whole, longer ones are cut",
     {std::string(31, 'a'), std::string(32, 'b')},
     {},
     {{MidiBackend::system, 0, std::string(31, 'a')}, {MidiBackend::system, 1, std::string(31, 'b')}}},
    {"a cut never splits a UTF-8 character",
     {std::string(30, 'c') + "\xC3\xA9"},
     {std::string(29, 'd') + "\xE2\x82\xAC"},
     {{MidiBackend::system, 0, std::string(30, 'c')}, {MidiBackend::jack, 0, std::string(29, 'd')}}},
};

void PrintTo(const ListCase &c, std::ostream *out) { *out << c.label; }

class PortListTest : public testing::TestWithParam<ListCase> {};

TEST_P(PortListTest, GivesTheDevices) {
    const ListCase &c = GetParam();
    std::vector<MidiPortEntry> entries = combinePortLists(c.systemNames, c.jackNames);
    ASSERT_EQ(entries.size(), c.devices.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        SCOPED_TRACE("device " + std::to_string(i));
        EXPECT_EQ(entries[i].backend, c.devices[i].backend);
        EXPECT_EQ(entries[i].backendIndex, c.devices[i].backendIndex);
        EXPECT_EQ(entries[i].productName, c.devices[i].productName);
        EXPECT_LE(entries[i].productName.size(), 31u);
    }
}

INSTANTIATE_TEST_SUITE_P(Names, PortListTest, testing::ValuesIn(listCases));

}  // namespace
