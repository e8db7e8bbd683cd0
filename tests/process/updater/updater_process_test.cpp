// The built updater, run in a fresh folder of its own: its whole console
// output, byte for byte, for each kind of kit it may find. No MIDI port is
// there to be found, so a kit that passes every check ends at the port stage.
//
// Nor may one be found on a desktop with a MIDI device plugged in: the updater
// would greet that device. Its ALSA library is given an empty configuration,
// and its JACK server name is one that no server has.
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/case_name.h"
#include "support/child_process.h"
#include "support/expected_output.h"
#include "support/temp_folder.h"
#include "support/test_kits.h"

namespace {

namespace fs = std::filesystem;

using expected::inMissing;
using expected::noFitFile;
using expected::notFound;
using expected::opened;

// Two sound records, as a kit is usually laid out.
const std::string soundKit = "00 05 01 02 03 FA FF\r\n00 04 7F 81 00 FF\r\n";
// The usual kit's name, and what follows it being opened: a kit that passes
// every check finds no MIDI port; one that fails is refused.
const std::string kitName = "Tarnwick_Box.kit";
const std::string passes = opened(kitName) + inMissing;
const std::string refused = opened(kitName) + expected::badKit;

using testkit::TempFolder;

// The first "*.kit" entry in the directory's own order, as the updater's
// search sees it.
std::string firstKitListed(const std::string &folder) {
    for (const fs::directory_entry &entry : fs::directory_iterator(folder)) {
        std::string name = entry.path().filename().string();
        if (name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".kit") == 0) return name;
    }
    return "";
}

// Puts the usual kit and another one in the folder, the other listed before
// it (or after it), trying fresh names until the order comes out so; false if
// none did.
bool kitBesideAnother(const TempFolder &folder, bool otherFirst) {
    folder.write(kitName, soundKit);
    for (int i = 0; i < 200; ++i) {
        std::string name = "other" + std::to_string(i) + ".kit";
        folder.write(name, soundKit);
        if (firstKitListed(folder.path()) == (otherFirst ? name : kitName)) return true;
        fs::remove(folder.file(name));
    }
    return false;
}

enum class Input {
    devNull,
    closed,
    pipeOneByte,   // one byte waiting, the pipe left open
    pipeKeyLater,  // nothing until the prompt has stood a while, then one byte
    terminalKey,   // a terminal, one key and no Enter
};

// Standard output: a pipe the test reads, or one whose reader has gone.
enum class Output { pipe, closedPipe };

struct RunCase {
    const char *name;
    // Puts files into the folder; returns false when it could not arrange them.
    std::function<bool(const TempFolder &)> arrange;
    std::string expected;  // after the banner, before the pause
    Input input = Input::devNull;
    std::vector<std::string> args = {};
    Output output = Output::pipe;
};

const std::string longName = "Tarnwick_Box_" + std::string(110, 'x') + ".kit";

std::function<bool(const TempFolder &)> kit(const std::string &name, const std::string &text) {
    return [name, text](const TempFolder &f) {
        f.write(name, text);
        return true;
    };
}
bool none(const TempFolder &) { return true; }

const RunCase runCases[] = {
    {"noKit", none, notFound("*.kit")},
    {"argumentsIgnored", none, notFound("*.kit"), Input::devNull, {"--help", "Tarnwick_Box.kit"}},
    {"onlyOtherExtensions",
     [](const TempFolder &f) {
         f.write("Tarnwick_Box.kit.txt", soundKit);
         f.write("Tarnwick_Box.ki", soundKit);
         f.write("Tarnwick_Box", soundKit);
         return true;
     },
     notFound("*.kit")},
    {"nameWithoutTag", kit("firmware.kit", soundKit), noFitFile},
    {"nameShorterThanTag", kit("Tarnwick.kit", soundKit), noFitFile},
    {"tagFurtherIn", kit("new_Tarnwick_Box.kit", soundKit), noFitFile},
    {"firstListedLacksTag", [](const TempFolder &f) { return kitBesideAnother(f, true); }, noFitFile},
    {"firstListedHasTag", [](const TempFolder &f) { return kitBesideAnother(f, false); }, passes},
    {"danglingLink", [](const TempFolder &f) { return symlink("missing.txt", f.file(kitName).c_str()) == 0; },
     notFound(kitName)},
    // Found by the search, but no file to open, on Linux as on Windows.
    {"folderNamedAsKit", [](const TempFolder &f) { return mkdir(f.file(kitName).c_str(), 0700) == 0; },
     notFound(kitName)},
    {"linkToFolderNamedAsKit",
     [](const TempFolder &f) {
         return mkdir(f.file("firmware").c_str(), 0700) == 0 && symlink("firmware", f.file(kitName).c_str()) == 0;
     },
     notFound(kitName)},
    {"nameTooLongToHold", kit(longName, soundKit), notFound(longName.substr(0, 99))},
    {"soundKit", kit(kitName, soundKit), passes},
    {"lowerCaseNameAndDigits", kit("tarnwick_box_v2.kit", "00 05 01 02 03 fa ff"),
     opened("tarnwick_box_v2.kit") + inMissing},
    {"upperCaseName", kit("TARNWICK_BOX.KIT", soundKit), opened("TARNWICK_BOX.KIT") + inMissing},
    {"badCheckWord", kit(kitName, "00 05 01 02 03 FA FE"), refused},
    {"badSecondRecord", kit(kitName, "00 05 01 02 03 FA FF 00 04 7F 81 01 FF"), refused},
    {"recordRunsPastEnd", kit(kitName, "00 05 01 02 03 FA"), refused},
    // No records: nothing to send, so no success to report.
    {"emptyKit", kit(kitName, ""), refused},
    {"textNotHex", kit(kitName, "<!DOCTYPE html>\n<title>404 Not Found</title>\n"), refused},
    {"readingStopsAtCtrlZ", kit(kitName, soundKit + "\x1A" + "garbage 01"), passes},
    {"largestKit", kit(kitName, testkit::largestZeroKitText()), passes},
    {"oversizedKit", kit(kitName, testkit::largestZeroKitText() + " 00"), refused},
    {"inputClosed", kit(kitName, soundKit), passes, Input::closed},
    {"inputClosedNoKit", none, notFound("*.kit"), Input::closed},
    {"inputPipeOneByte", kit(kitName, soundKit), passes, Input::pipeOneByte},
    {"pauseWaitsForKey", none, notFound("*.kit"), Input::pipeKeyLater},
    {"terminalKeyWithoutEnter", none, notFound("*.kit"), Input::terminalKey},
    // Nobody reads the output: the run still ends by itself, with status 0.
    {"outputReaderGone", none, notFound("*.kit"), Input::devNull, {}, Output::closedPipe},
};

void PrintTo(const RunCase &c, std::ostream *os) { *os << c.name; }

// Runs the updater in folder with the case's standard input and output,
// away from every MIDI port of this machine; the sanitizers' settings of a
// sanitized build are passed on, so that their reports reach their logs.
testkit::ChildResult runUpdater(const TempFolder &folder, const RunCase &c) {
    testkit::ChildRun run;
    run.argv = {TARNWICK_UPDATE_PATH};
    run.argv.insert(run.argv.end(), c.args.begin(), c.args.end());
    run.folder = folder.path();
    // A MIDI server that another test may be running is not this run's.
    run.clearEnv = true;
    run.env = {testkit::noAlsaPorts, "JACK_DEFAULT_SERVER=tarnwick-process-none-" + std::to_string(getpid())};
    for (const char *name : {"ASAN_OPTIONS", "UBSAN_OPTIONS"})
        if (const char *value = std::getenv(name)) run.env.push_back(std::string(name) + "=" + value);
    run.stdoutReaderGone = c.output == Output::closedPipe;
    if (c.input == Input::pipeOneByte) run.input = "k";
    run.keepInputOpen = c.input == Input::pipeOneByte || c.input == Input::pipeKeyLater;
    run.stdinTerminal = c.input == Input::terminalKey;
    if (c.input == Input::pipeKeyLater || c.input == Input::terminalKey) {
        run.laterInput = "k";
        run.laterAfter = expected::pausePrompt;
    }
    if (c.input == Input::closed) run.inChild = [] { return close(STDIN_FILENO) == 0; };
    return testkit::runChild(run);
}

class UpdaterProcess : public testing::TestWithParam<RunCase> {};

TEST_P(UpdaterProcess, PrintsExactlyAndExitsWithZero) {
    const RunCase &c = GetParam();
    TempFolder folder("tarnwick-process");
    ASSERT_TRUE(c.arrange(folder)) << "could not arrange the folder";
    testkit::ChildResult result = runUpdater(folder, c);
    ASSERT_TRUE(result.finished && result.signal == 0)
        << "the updater did not end in time, or was ended by signal " << result.signal;
    EXPECT_EQ(result.out, c.output == Output::pipe ? expected::banner + c.expected + expected::pause : "");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
    bool keyLater = c.input == Input::pipeKeyLater || c.input == Input::terminalKey;
    EXPECT_TRUE(!keyLater || (result.laterInputWritten && result.runningAtLaterInput))
        << "the pause ended before a key was given";
    EXPECT_TRUE(c.input != Input::terminalKey || (result.terminalCooked && result.terminalEcho.empty()))
        << "the terminal was left raw, or the key was echoed";
}

INSTANTIATE_TEST_SUITE_P(Updater, UpdaterProcess, testing::ValuesIn(runCases), testkit::caseName<RunCase>);

}  // namespace
