// The built updater against the built tarnwick-target, the two meeting only
// over a real MIDI system, one row per case: the target's options, the kit,
// the updater's whole output byte for byte, the image the target kept, and
// how the target ended. TARNWICK_REALMIDI_BACKEND says where they meet:
//   jack     a private JACK server with the dummy backend, started per case
//            (the default);
//   alsa     the ALSA sequencer, the target's ports being user clients;
//   rawmidi  the ALSA sequencer, the target speaking through the kernel raw
//            MIDI device of snd-virmidi whose client the updater takes first,
//            as it takes a USB MIDI device's;
//   usb      the ALSA sequencer, the target a USB MIDI gadget on dummy_hcd's
//            controller, bound by the kernel's USB MIDI driver as a plugged-in
//            Tarnwick Box is, and unpluggable.
// The last three need a kernel with those modules: scripts/test-alsa.sh runs
// this program in a VM for them.
// With TARNWICK_WEB_SESSION set, the updater is the web build's page in
// Chromium over Web MIDI instead, driven through the browser session whose
// socket it names (tests/web/browser_session.py, at TARNWICK_WEB_DRIVER):
// scripts/test-web.sh runs the cases so, in a VM, over alsa and rawmidi.
//
// The updater numbers the ALSA sequencer's ports before JACK's: over JACK its
// ALSA library gets an empty configuration, so that only the server's ports
// are there. On the sequencer, "Midi Through" ports are the system's own: the
// updater opens each, prints its port line and passes over it, so the
// expected output gets one more line per such port in each direction. Any
// other ALSA client could hold a port that comes before the target's; the
// case is skipped then, which scripts/test-alsa.sh counts as a failure.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <numeric>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "private_jack_server.h"
#include "support/child_process.h"
#include "support/expected_output.h"
#include "support/scenario_case.h"
#include "support/temp_folder.h"
#include "support/test_kits.h"

namespace {

using expected::linesFor;
using testkit::ChildResult;
using testkit::ChildRun;
using testkit::TempFolder;

const std::string kitName = "Tarnwick_Box_realmidi.kit";
const std::string success = expected::done + expected::success;

std::string environment(const char *name) {
    const char *value = std::getenv(name);
    return value != nullptr ? value : "";
}

bool throughPage() { return !environment("TARNWICK_WEB_SESSION").empty(); }

std::string backend() {
    const char *name = std::getenv("TARNWICK_REALMIDI_BACKEND");
    return name != nullptr && *name != '\0' ? name : "jack";
}

// The lines of the ALSA sequencer's client list; none without a sequencer.
std::vector<std::string> alsaClientList() {
    std::vector<std::string> lines;
    if (access("/dev/snd/seq", F_OK) != 0) return lines;
    std::ifstream list("/proc/asound/seq/clients");
    for (std::string line; std::getline(list, line);) lines.push_back(line);
    return lines;
}

// The sequencer's clients besides its own ("System", "Midi Through"), in
// order: their ports come before the target's. The browser's own clients
// are the page's side.
std::vector<std::string> otherAlsaClients() {
    static const std::regex own("^Client +[0-9].*\"(System|Midi Through)\"");
    static const std::regex browser("^Client +[0-9].*\"(Chromium|Chrome)[^\"]*\"");
    std::vector<std::string> clients;
    for (const std::string &line : alsaClientList())
        if (std::regex_search(line, std::regex("^Client +[0-9]")) && !std::regex_search(line, own) &&
            !(throughPage() && std::regex_search(line, browser)))
            clients.push_back(line);
    return clients;
}

// The raw MIDI device behind the first client that is not the system's own,
// when it is one of snd-virmidi's: the one whose ports the updater takes.
std::string firstVirmidiDevice() {
    std::vector<std::string> clients = otherAlsaClients();
    std::smatch number;
    if (clients.empty() || !std::regex_search(clients[0], number, std::regex("\"Virtual Raw MIDI ([0-9]+)-([0-9]+)\"")))
        return "";
    return "/dev/snd/midiC" + number[1].str() + "D" + number[2].str();
}

// What the updater prints before the handshake, a port line each way for the
// target's port and for every "Midi Through" port on the sequencer.
std::string opening() {
    std::vector<std::string> list = backend() == "jack" ? std::vector<std::string>{} : alsaClientList();
    int ports = 1 + int(std::count_if(list.begin(), list.end(), [](const std::string &line) {
                    return std::regex_search(line, std::regex("Port .*\"Midi Through"));
                }));
    return expected::banner + expected::opened(kitName) + expected::repeat(expected::inLine, ports) +
           expected::repeat(expected::outLine, ports);
}

ChildRun childRun(std::vector<std::string> argv, std::vector<std::string> env, std::string folder = "") {
    ChildRun run;
    run.argv = std::move(argv);
    run.env = std::move(env);
    run.folder = std::move(folder);
    return run;
}

// The environment of both programs. In a ThreadSanitizer build they run
// under it too, with the same suppressions as this program.
std::vector<std::string> childEnv(const TempFolder &work) {
    work.write("tsan.supp", midiLibrarySuppressions);
    const char *options = std::getenv("TSAN_OPTIONS");
    return {std::string("TSAN_OPTIONS=") + (options != nullptr ? options : "") +
            " suppressions=" + work.file("tsan.supp")};
}

// The target ends with status 0 keeping the whole kit, or with 1 keeping
// nothing, or the first keptRecords records.
struct UpdateCase {
    std::string name;
    std::vector<std::string> targetArgs;
    std::vector<uint16_t> sizes;
    std::string transfer;  // the updater's output between its port lines and its pause
    int targetStatus = 0;
    std::string targetErr = {};              // what the target writes to standard error
    std::vector<std::string> backends = {};  // where the case runs; empty: everywhere
    std::optional<size_t> keptRecords = {};
};
// A failing case is named, not dumped byte by byte.
void PrintTo(const UpdateCase &row, std::ostream *out) { *out << row.name; }

std::vector<UpdateCase> updateCases() {
    // Records of 4 (one frame of 8 characters), 23 (one full frame), 24 (a
    // full frame and one of 2 characters), 46 and 47 bytes, a longer one, and
    // enough of them for the spinner to come round again.
    const std::vector<uint16_t> mixed = {4, 23, 24, 46, 47, 130, 9, 64, 23, 30};
    const std::vector<uint16_t> three = {24, 47, 12}, four = {24, 47, 12, 30};
    // The largest kit tarnwick-kit builds with its default 256-byte payloads:
    // 252 whole records and one of the 15 bytes left, 65,535 bytes in all.
    std::vector<uint16_t> largest(252, 260);
    largest.push_back(15);
    const std::string mixedTotal = std::to_string(std::accumulate(mixed.begin(), mixed.end(), 0));
    std::string twentyRefusals = "20";
    for (int i = 1; i < 20; ++i) twentyRefusals += ",20";
    return {
        {"clean", {}, mixed, linesFor(mixed) + success},
        // The second record is refused twice with 0x20 (CRC error), then accepted.
        {"crc_retry",
         {"--verdicts", "1A,20,20"},
         three,
         linesFor(three, {{1, {expected::crcError, expected::crcError}}}) + success},
        // Every answer comes 10 ms late, and the second record's is lost: the
        // updater waits out its half second and sends the record again,
        // silently; the box knows the resend and keeps the record once.
        {"late_and_lost_reply", {"--latency", "10", "--no-reply", "2"}, three, linesFor(three, {{1, {""}}}) + success},
        // Every answer comes 150 ms late, after the updater's 100 ms wait for
        // the greeting's answer: greeted again, the box answers both
        // greetings, and the second answer comes while the first record waits
        // for its verdict. The last record is refused once, which must show.
        {"slow_greeting",
         {"--latency", "150", "--verdicts", "1A,1A,1A,20"},
         four,
         linesFor(four, {{3, {expected::crcError}}}) + success,
         0,
         "tarnwick-target: warning: answers 150 ms late come after the updater's 100 ms wait for an answer to its "
         "greeting: it greets again, and passes over the answers that come late\n"},
        // Another product answers the handshake: nothing is sent.
        {"foreign_product", {"--handshake-code", "42"}, {24}, expected::notMatched, 1},
        // The box answers the handshake with 0x15: it is restarting.
        {"restarting", {"--handshake-code", "15"}, {24}, expected::resetting, 1},
        // The box answers the handshake, then nothing: each of the 20 attempts
        // at the first record waits out its half second, the last one gives up.
        {"silent_device",
         {"--silent-after", "0"},
         {24},
         expected::repeat(expected::line('-', 0), 20) + expected::notResponding,
         1},
        // The box answers, then stops after three records: the fourth is sent
        // 20 times, each attempt waiting out its half second.
        {"silent_after_three",
         {"--silent-after", "3"},
         four,
         linesFor(four, {{3, std::vector<std::string>(19, "")}}) + expected::notResponding,
         1,
         "",
         {},
         3},
        // The first record refused with 0x20 (CRC error) at every attempt: the
        // twentieth refusal ends the update.
        {"twenty_failures",
         {"--verdicts", twentyRefusals},
         three,
         expected::repeat(expected::line('-', 0) + expected::crcError, 19) + expected::line('-', 0) +
             expected::updateError,
         1},
        // The last record is answered 0x77: the box has all of it and restarts.
        {"update_complete", {"--final-size", mixedTotal}, mixed, linesFor(mixed) + expected::restarted},
        {"largest_kit", {}, largest, linesFor(largest) + success},
        // The cable is pulled: at the greeting, which the updater repeats 19
        // times in vain, and right after the second record was written, whose
        // verdict never comes: the updater sends it 20 times.
        {"unplugged_before_greeting", {"--unplug-after", "0"}, {24}, expected::notResponding, 1, "", {"usb"}},
        {"unplugged_in_transfer",
         {"--unplug-after", "2"},
         three,
         expected::line('-', 0) + expected::repeat(expected::line('-', 28), 20) + expected::notResponding,
         1,
         "",
         {"usb"},
         2},
    };
}

// Where the expected output first differs, with the text around it: a whole
// large kit's output would bury the difference.
std::string firstDifference(const std::string &want, const std::string &got) {
    size_t at = std::mismatch(want.begin(), want.end(), got.begin(), got.end()).first - want.begin();
    size_t from = at > 160 ? at - 160 : 0;
    return "the output differs at byte " + std::to_string(at) + "; expected, then got, from byte " +
           std::to_string(from) + ":\n" + testing::PrintToString(want.substr(from, 320)) + "\n" +
           testing::PrintToString(got.substr(std::min(from, got.size()), 320));
}

// The USB device as the host's driver shows it: a sequencer client named
// after the product, the first one the updater meets.
bool usbDeviceListed() {
    std::vector<std::string> clients = otherAlsaClients();
    return !clients.empty() && clients[0].find("\"Tarnwick Box\"") != std::string::npos;
}

class UpdateOverMidi : public testing::TestWithParam<UpdateCase> {};

TEST_P(UpdateOverMidi, Runs) {
    const UpdateCase &row = GetParam();
    ASSERT_FALSE(throughPage() && environment("TARNWICK_WEB_DRIVER").empty())
        << "TARNWICK_WEB_SESSION is set, but TARNWICK_WEB_DRIVER names no browser_session.py";
    std::vector<std::string> where;  // the target's options that put its ports there
    if (backend() == "jack") {
        if (PrivateJackServer::jackdPath().empty()) GTEST_SKIP() << "jackd is not installed (Debian package jackd2)";
        where = {"--api", "jack"};
    } else if (backend() == "alsa") {
        if (access("/dev/snd/seq", W_OK) != 0)
            GTEST_SKIP() << "no ALSA sequencer here (/dev/snd/seq); scripts/test-alsa.sh runs these cases in a VM";
        where = {"--api", "alsa"};
    } else if (backend() == "rawmidi") {
        where = {"--rawmidi", firstVirmidiDevice()};
        if (where[1].empty()) GTEST_SKIP() << "the updater's first port here is not an snd-virmidi client's";
    } else if (backend() == "usb") {
        if (access("/sys/class/udc/dummy_udc.0", F_OK) != 0)
            GTEST_SKIP() << "no dummy_hcd USB device controller here; scripts/test-alsa.sh runs these cases in a VM";
        where = {"--usb-gadget", "dummy_udc.0"};
    } else {
        FAIL() << "unknown backend '" << backend() << "' in TARNWICK_REALMIDI_BACKEND";
    }
    if (!row.backends.empty() && std::find(row.backends.begin(), row.backends.end(), backend()) == row.backends.end())
        GTEST_SKIP() << "this case does not run over " << backend();
    if ((backend() == "alsa" || backend() == "usb") && !otherAlsaClients().empty())
        GTEST_SKIP() << "the ALSA sequencer has clients of its own, whose ports the updater would take first";

    TempFolder work("tarnwick-realmidi");
    ASSERT_EQ(mkdir(work.file("run").c_str(), 0700), 0);
    testkit::Bytes kit = testkit::makeKit(row.sizes);
    work.write("run/" + kitName, testkit::kitText(kit));
    PrivateJackServer server;
    std::string why;
    if (backend() == "jack") {
        ASSERT_TRUE(server.start(why)) << why;
    }

    // No frame is lost on these paths, but a busy machine, or a VM without
    // acceleration, can hold one back for most of a second: the box waits
    // for the rest of a record however long it takes.
    ChildRun target = childRun({TARNWICK_TARGET_PATH}, childEnv(work));
    for (const std::vector<std::string> &args :
         {where,
          {"--abandon-after", "0", "--kit", work.file("run/" + kitName), "--save", work.file("image.bin")},
          {"--timeout", "300"},
          row.targetArgs})
        target.argv.insert(target.argv.end(), args.begin(), args.end());
    // Its standard error apart from its report on standard output.
    const std::string errPath = work.file("target.err");
    target.inChild = [&errPath] {
        int errors = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        return errors >= 0 && dup2(errors, STDERR_FILENO) >= 0;
    };
    testkit::BackgroundChild box;
    ASSERT_TRUE(box.start(target, work.file("target.out")));
    // target_start in scripts/lib/common.sh waits so for the scripts' box.
    ASSERT_TRUE(box.waitUntil([&work] { return work.read("target.out").find(" ready: ") != std::string::npos; }, 30000))
        << "tarnwick-target did not get ready: " << work.read("target.err") << work.read("target.out");
    ASSERT_TRUE(backend() != "usb" || box.waitUntil(usbDeviceListed, 30000))
        << "the host did not list the USB device first";

    ChildRun updater = childRun({TARNWICK_UPDATE_PATH}, childEnv(work), work.file("run"));
    // The page chooses the kit as a user does: by its path.
    if (throughPage())
        updater = childRun({environment("TARNWICK_WEB_DRIVER"), "run", "--socket", environment("TARNWICK_WEB_SESSION"),
                            "--kit", work.file("run/" + kitName)},
                           {});
    // The session's own limits (a page load, 240 s for the run, the pause)
    // end a page run first.
    updater.timeoutMs = throughPage() ? 600000 : 240000;
    ChildResult run = testkit::runChild(updater);
    int targetStatus = box.stop();

    EXPECT_TRUE(run.finished && run.status == 0) << "tarnwick-update ended with status " << run.status;
    std::string want = opening() + row.transfer + expected::pause;
    EXPECT_TRUE(run.out == want) << firstDifference(want, run.out);
    EXPECT_EQ(run.err, "");
    testkit::Bytes keptKit =
        row.keptRecords ? testkit::makeKit({row.sizes.begin(), row.sizes.begin() + *row.keptRecords}) : kit;
    std::string kept = row.targetStatus == 0 || row.keptRecords ? std::string(keptKit.begin(), keptKit.end()) : "";
    EXPECT_TRUE(access(work.file("image.bin").c_str(), F_OK) == 0 && work.read("image.bin") == kept)
        << "the target kept " << work.read("image.bin").size() << " bytes, not the " << kept.size() << " expected";
    EXPECT_EQ(targetStatus, row.targetStatus);
    EXPECT_EQ(work.read("target.err"), row.targetErr);
    // A USB device that answered 77 restarts: off the bus and on it again.
    if (backend() == "usb" && row.transfer.find(expected::restarted) != std::string::npos) {
        EXPECT_NE(work.read("target.out").find("restarted: on the USB bus again"), std::string::npos);
    }
    if (HasFailure()) std::cout << "--- tarnwick-target's report:\n" << work.read("target.out");
    if (HasFailure() && backend() == "jack") std::cout << "--- jackd's log:\n" << server.log();
}

INSTANTIATE_TEST_SUITE_P(Case, UpdateOverMidi, testing::ValuesIn(updateCases()), testkit::caseName<UpdateCase>);
// One record of three bytes, the smallest update: apart from the other cases,
// as the thread-sanitizer build runs this one only.
INSTANTIATE_TEST_SUITE_P(Smallest, UpdateOverMidi,
                         testing::Values(UpdateCase{"one_record", {}, {7}, linesFor({7}) + success}),
                         testkit::caseName<UpdateCase>);

const std::string targetError = "tarnwick-target: error: ";

// Runs the target with no JACK server under its name, which it must not need.
void expectRefusal(const std::vector<std::string> &args, int status, const std::string &outPattern,
                   const std::string &err) {
    ChildRun target = childRun({TARNWICK_TARGET_PATH}, {"JACK_DEFAULT_SERVER=" + unusedJackServerName()});
    target.argv.insert(target.argv.end(), args.begin(), args.end());
    ChildResult run = testkit::runChild(target);
    EXPECT_TRUE(run.finished && run.status == status) << args.back() << ": status " << run.status;
    EXPECT_TRUE(std::regex_match(run.out, std::regex(outPattern))) << run.out;
    EXPECT_EQ(run.err, err);
}

// Without a server under its name the target fails in words and starts none:
// a JACK client must never start a server as a side effect. The --save file
// it made at its start is not left behind.
TEST(TargetOverJack, FailsWithoutServerAndStartsNone) {
    TempFolder work("tarnwick-realmidi");
    expectRefusal({"--api", "jack", "--save", work.file("image.bin")}, 1, "",
                  targetError + "no JACK server is running under the name '" + unusedJackServerName() +
                      "' (JACK_DEFAULT_SERVER); start one first\n");
    EXPECT_FALSE(jackServerAnswers(unusedJackServerName()));
    EXPECT_NE(access(work.file("image.bin").c_str(), F_OK), 0) << "tarnwick-target left its --save file behind";
}

// What the target refuses before it opens any port, so before it needs a
// server: a --save file it cannot write and a reference kit the updater would
// not send. --version needs no port either.
TEST(TargetOverJack, RefusesBeforeOpeningPorts) {
    TempFolder work("tarnwick-realmidi");
    work.write("bad.kit", "00 05 01 02 03 FA FF 00 04 7F 81 01 FF");
    const std::string image = work.file("image.bin"), cannotWrite = work.file("none/image.bin");
    expectRefusal({"--api", "jack", "--save", cannotWrite}, 1, "",
                  targetError + "cannot write '" + cannotWrite + "': No such file or directory\n");
    expectRefusal({"--api", "jack", "--kit", work.file("bad.kit"), "--save", image}, 1, "",
                  targetError + "'" + work.file("bad.kit") +
                      "' is not a kit the updater would send: the record at offset 7 is not sound\n");
    expectRefusal({"--version"}, 0, "tarnwick-target [0-9]+\\.[0-9]+\\.[0-9]+\n", "");
    EXPECT_NE(access(image.c_str(), F_OK), 0) << "tarnwick-target made its --save file though it refused the kit";
}

// With no MIDI system at all the updater finds no input port and says so.
TEST(UpdaterWithoutMidi, FindsNoInputPortAndSaysSo) {
    TempFolder work("tarnwick-realmidi");
    work.write("Tarnwick_Box.kit", "00 05 01 02 03 FA FF");
    std::vector<std::string> env = childEnv(work);
    env.insert(env.end(), {testkit::noAlsaPorts, "JACK_DEFAULT_SERVER=" + unusedJackServerName()});
    ChildResult run = testkit::runChild(childRun({TARNWICK_UPDATE_PATH}, env, work.path()));
    EXPECT_TRUE(run.finished && run.status == 0) << "status " << run.status;
    EXPECT_EQ(run.out, expected::banner + expected::opened("Tarnwick_Box.kit") + expected::inMissing + expected::pause);
    EXPECT_EQ(run.err, "");
}

}  // namespace
