// The built tarnwick-kit, run in a fresh folder of its own: round trips from
// firmware to kit and back, the check's verdict and exit status, and every
// refusal with its exit status and message.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "support/case_name.h"
#include "support/child_process.h"
#include "support/temp_folder.h"
#include "support/test_kits.h"

namespace {

namespace fs = std::filesystem;

using testkit::TempFolder;
using Outcome = testkit::ChildResult;  // status -1 when the program did not exit by itself

// How a run may differ from the usual one.
struct RunSetting {
    std::string stdoutPath;                // standard output opened here, in the folder, instead of a pipe
    rlim_t fileSizeLimit = RLIM_INFINITY;  // writing beyond this many bytes into a file fails
};

// Runs tarnwick-kit in the folder with standard input from /dev/null.
Outcome runKit(const TempFolder &folder, const std::vector<std::string> &args, const RunSetting &setting = {}) {
    testkit::ChildRun run;
    run.argv = {TARNWICK_KIT_PATH};
    run.argv.insert(run.argv.end(), args.begin(), args.end());
    run.folder = folder.path();
    run.stdoutPath = setting.stdoutPath;
    run.inChild = [size = setting.fileSizeLimit] {
        // A write over the limit fails with EFBIG instead of ending the process.
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit = {size, size};
        return setrlimit(RLIMIT_FSIZE, &limit) == 0;
    };
    Outcome outcome = testkit::runChild(run);
    if (!outcome.finished) ADD_FAILURE() << "tarnwick-kit did not finish in time";
    return outcome;
}

std::string randomBytes(size_t size, uint32_t seed) {
    testkit::Bytes bytes = testkit::randomBytes(size, seed);
    return std::string(bytes.begin(), bytes.end());
}

struct Trip {
    size_t firmwareSize;
    std::string payload;  // --payload's value, or empty for the default
    std::string kitName;
};

void PrintTo(const Trip &trip, std::ostream *out) {
    *out << trip.firmwareSize << " bytes, payload '" << trip.payload << "' into " << trip.kitName;
}

class KitToolRoundTrip : public testing::TestWithParam<Trip> {};

TEST_P(KitToolRoundTrip, BuildCheckExtractGivesTheFirmwareBack) {
    const Trip &trip = GetParam();
    TempFolder folder;
    fs::create_directory(folder.file("kits"));
    std::string firmware = randomBytes(trip.firmwareSize, static_cast<uint32_t>(trip.firmwareSize));
    folder.write("firmware.bin", firmware);

    std::vector<std::string> build = {"build", "firmware.bin", "-o", trip.kitName};
    if (!trip.payload.empty()) build.insert(build.end(), {"--payload", trip.payload});
    Outcome built = runKit(folder, build);
    ASSERT_EQ(built.status, 0) << built.err;
    EXPECT_EQ(built.out.rfind(trip.kitName + ": ", 0), 0u) << built.out;

    Outcome checked = runKit(folder, {"check", trip.kitName});
    EXPECT_EQ(checked.status, 0) << checked.out;
    EXPECT_NE(checked.out.find("\nfirst fault: none\n"), std::string::npos) << checked.out;
    Outcome quiet = runKit(folder, {"check", "--quiet", trip.kitName});
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.out.rfind("verdict: accepted (", 0), 0u) << quiet.out;
    EXPECT_EQ(quiet.out.find('\n'), quiet.out.size() - 1) << quiet.out;

    Outcome extracted = runKit(folder, {"extract", trip.kitName, "-o", "back.bin"});
    ASSERT_EQ(extracted.status, 0) << extracted.err;
    EXPECT_TRUE(folder.read("back.bin") == firmware);
}

INSTANTIATE_TEST_SUITE_P(Kits, KitToolRoundTrip,
                         testing::Values(Trip{61440, "", "Tarnwick_Box.kit"},
                                         Trip{61441, "256", "kits/tarnwick_box_2.KIT"},
                                         Trip{5000, "1", "Tarnwick_Box_1.kit"},
                                         Trip{2305, "23", "Tarnwick_Box_23.kit"}));

struct Refusal {
    std::vector<std::string> args;
    int status;
    std::string message;  // found in standard error
};

void PrintTo(const Refusal &refusal, std::ostream *out) {
    for (const std::string &arg : refusal.args) *out << arg << " ";
}

class KitToolRefuses : public testing::TestWithParam<Refusal> {};

TEST_P(KitToolRefuses, WithStatusAndMessageAndNoFileWritten) {
    const Refusal &refusal = GetParam();
    TempFolder folder;
    fs::create_directory(folder.file("Tarnwick_Box_folder"));
    folder.write("firmware.bin", randomBytes(1000, 1));
    folder.write("large.bin", randomBytes(64524, 2));
    folder.write("Tarnwick_Box_bad.kit", "00 05 01 02 03 FB FF\r\n");
    folder.write("empty.bin", "");
    folder.write("Tarnwick_Box_text.kit", "Hello, this is not a kit");

    Outcome outcome = runKit(folder, refusal.args);
    EXPECT_EQ(outcome.status, refusal.status) << outcome.err;
    EXPECT_NE(outcome.err.find(refusal.message), std::string::npos) << outcome.err;
    EXPECT_EQ(outcome.out, "");
    EXPECT_FALSE(fs::exists(folder.file("Tarnwick_Box.kit")));
    EXPECT_FALSE(fs::exists(folder.file("out.bin")));
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, KitToolRefuses,
    testing::Values(
        Refusal{{"build", "firmware.bin", "-o", "other.kit"}, 1, "does not begin with \"Tarnwick_Box\""},
        Refusal{{"build", "firmware.bin", "-o", "Tarnwick_Box_folder/x.kit"}, 1, "does not begin with"},
        Refusal{{"build", "firmware.bin", "-o", "Tarnwick_Box.hex"}, 1, "does not end in \".kit\""},
        Refusal{{"build", "firmware.bin", "-o", "Tarnwick_Box.kit", "--payload", "0"},
                2,
                "tarnwick-kit: error: --payload: payload size 0 does not fit"},
        Refusal{{"build", "firmware.bin", "-o", "Tarnwick_Box.kit", "--payload=-1"}, 2, "payload size -1"},
        Refusal{{"build", "firmware.bin", "-o", "Tarnwick_Box.kit", "--payload", "65532"}, 2, "payload size 65532"},
        Refusal{{"build", "large.bin", "-o", "Tarnwick_Box.kit"}, 1, "a kit holds at most 65535"},
        Refusal{{"build", "missing.bin", "-o", "Tarnwick_Box.kit"}, 1, "cannot read 'missing.bin'"},
        Refusal{{"build", "empty.bin", "-o", "Tarnwick_Box.kit"}, 1, "'empty.bin' is empty"},
        Refusal{{"build", "Tarnwick_Box_folder", "-o", "Tarnwick_Box.kit"}, 1, "cannot read 'Tarnwick_Box_folder'"},
        Refusal{{"build", "firmware.bin", "-o", "none/Tarnwick_Box.kit"}, 1, "cannot write 'none/Tarnwick_Box.kit'"},
        Refusal{{"build", "firmware.bin"}, 2, "--output is required"},
        Refusal{{"build", "firmware.bin", "-o", "Tarnwick_Box.kit", "--payload", "many"},
                2,
                "tarnwick-kit: error: Could not convert: --payload = many"},
        Refusal{{"check", "missing.kit"}, 1, "cannot read 'missing.kit'"},
        Refusal{{"check", "Tarnwick_Box_folder"}, 1, "cannot read 'Tarnwick_Box_folder'"},
        Refusal{{"extract", "Tarnwick_Box_bad.kit", "-o", "out.bin"}, 1, "the record at offset 0 is not sound"},
        Refusal{{"extract", "Tarnwick_Box_text.kit", "-o", "out.bin"}, 1, "it holds no records"},
        Refusal{{"extract", "missing.kit", "-o", "out.bin"}, 1, "cannot read 'missing.kit'"},
        Refusal{{}, 2, "a command is required"},
        Refusal{{"unpack"}, 2, "tarnwick-kit: error: The following argument was not expected: unpack"}));

TEST(KitTool, CheckStatusFollowsTheUpdatersVerdict) {
    struct {
        std::string name;
        std::string text;
        int status;
        std::string verdict;  // after "verdict: ", on a line of its own
        std::string err = "";
    } cases[] = {
        {"Tarnwick_Box.kit", "00 05 01 02 03 FA FF\r\n", 0, "accepted (1 record, 7 bytes)"},
        {"Tarnwick_Box.kit", "", 1, "rejected: the kit holds no records"},
        {"Tarnwick_Box.kit", "00 05 01 02 03 FA FF 00 02 01 00", 1, "rejected: the record at offset 7 is not sound"},
        {"Tarnwick_Box.kit", "00 05 01 02 03 FA", 1, "rejected: the record at offset 0 is not sound"},
        {"Other.kit", "00 02 00 00", 1, "rejected: the name is refused"},
        {"Tarnwick_Box.txt", "00 02 00 00", 1, "rejected: the name is refused"},
        // Text after where reading stopped: a Ctrl-Z end says nothing, digits
        // may be the rest of a damaged kit.
        {"Tarnwick_Box.kit", "00 02 00 00\r\n\x1A", 0, "accepted (1 record, 4 bytes)"},
        {"Tarnwick_Box.kit", "00 02 00 00 G 00 05 01 02 03 FA FF", 0, "accepted (1 record, 4 bytes)",
         "tarnwick-kit: warning: reading stopped at offset 12; 22 characters after it were not read: if the kit goes "
         "on there, it is damaged\n"},
        {"Tarnwick_Box.kit", "Hello, this is not a kit\n<!-- 404 -->", 1, "rejected: the kit holds no records",
         "tarnwick-kit: warning: reading stopped at offset 0; 37 characters after it were not read: if the kit goes on "
         "there, it is damaged\n"},
    };
    for (const auto &c : cases) {
        TempFolder folder;
        folder.write(c.name, c.text);
        Outcome outcome = runKit(folder, {"check", "-q", c.name});
        EXPECT_EQ(outcome.status, c.status) << c.name << " " << c.text;
        EXPECT_EQ(outcome.out, "verdict: " + c.verdict + "\n") << c.name << " " << c.text;
        EXPECT_EQ(outcome.err, c.err);
    }
}

// Writes that fail, and writes to what is not a plain file: nothing that was
// there before is lost or replaced by an ordinary file.
struct WriteCase {
    const char *name;
    std::vector<std::string> args;
    int status;
    std::string err;  // found in standard error
    RunSetting setting = {};
    std::function<bool(const TempFolder &)> holds = nullptr;  // besides the device and no file left over
};

void PrintTo(const WriteCase &c, std::ostream *out) { *out << c.name; }

const std::string oldKit = "00 05 01 02 03 FA FF\r\n";

// Only what the test put there, the run's output files and the kit.
bool nothingLeftOver(const TempFolder &folder) {
    const std::set<std::string> made = {"firmware.bin", "Tarnwick_Box.kit", "full", "stdout-link", ".stdout"};
    for (const auto &entry : fs::directory_iterator(folder.path()))
        if (made.count(entry.path().filename().string()) == 0) return false;
    return true;
}

// The device is still there, not replaced by an ordinary file (stat: "full"
// may be a link to one).
bool deviceKept(const TempFolder &folder) {
    struct stat found;
    return stat(folder.file("full").c_str(), &found) == 0 && S_ISCHR(found.st_mode);
}

class KitToolWrites : public testing::TestWithParam<WriteCase> {};

TEST_P(KitToolWrites, NeverDestroyWhatWasThere) {
    const WriteCase &c = GetParam();
    TempFolder folder;
    folder.write("firmware.bin", randomBytes(1000, 4));
    folder.write("Tarnwick_Box.kit", oldKit);
    ASSERT_EQ(chmod(folder.file("Tarnwick_Box.kit").c_str(), 0640), 0);
    ASSERT_EQ(symlink("/dev/stdout", folder.file("stdout-link").c_str()), 0);
    // A device that fails every write, as /dev/full does, but this test's
    // own; without root, a link to /dev/full, which a tool that replaced
    // "full" would replace, not the device.
    if (mknod(folder.file("full").c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0) {
        ASSERT_EQ(symlink("/dev/full", folder.file("full").c_str()), 0) << std::strerror(errno);
    }
    Outcome outcome = runKit(folder, c.args, c.setting);
    EXPECT_EQ(outcome.status, c.status) << outcome.err;
    EXPECT_NE(outcome.err.find(c.err), std::string::npos) << outcome.err;
    EXPECT_TRUE(deviceKept(folder));
    EXPECT_TRUE(nothingLeftOver(folder));
    EXPECT_TRUE(!c.holds || c.holds(folder)) << outcome.out;
}

const WriteCase writeCases[] = {
    {"buildToAFullDevice",
     {"build", "firmware.bin", "-o", "full", "--any-name"},
     1,
     "cannot write 'full': No space left on device"},
    {"extractToAFullDevice",
     {"extract", "Tarnwick_Box.kit", "-o", "full"},
     1,
     "cannot write 'full': No space left on device"},
    {"checkToAFullDevice",
     {"check", "Tarnwick_Box.kit"},
     1,
     "cannot write to standard output: No space left on device",
     {"full"}},
    // The new kit's 3,112 characters do not fit under the limit.
    {"failedBuildKeepsTheOldKit",
     {"build", "firmware.bin", "-o", "Tarnwick_Box.kit"},
     1,
     "cannot write 'Tarnwick_Box.kit': File too large",
     {"", 2000},
     [](const TempFolder &f) { return f.read("Tarnwick_Box.kit") == oldKit; }},
    {"buildReplacesTheKitKeepingItsMode",
     {"build", "firmware.bin", "-o", "Tarnwick_Box.kit"},
     0,
     "",
     {},
     [](const TempFolder &f) {
         struct stat found;
         return stat(f.file("Tarnwick_Box.kit").c_str(), &found) == 0 && (found.st_mode & 07777) == 0640 &&
                f.read("Tarnwick_Box.kit").size() == 3112;
     }},
    // The kit's 3,112 characters reach standard output, a file, the summary
    // line written over their start.
    {"buildThroughALinkToStandardOutput",
     {"build", "firmware.bin", "-o", "stdout-link", "--any-name"},
     0,
     "",
     {".stdout"},
     [](const TempFolder &f) { return fs::is_symlink(f.file("stdout-link")) && f.read(".stdout").size() == 3112; }},
};

INSTANTIATE_TEST_SUITE_P(Outputs, KitToolWrites, testing::ValuesIn(writeCases), testkit::caseName<WriteCase>);

TEST(KitTool, AnyNameWritesTheKitWithAWarning) {
    TempFolder folder;
    folder.write("firmware.bin", randomBytes(100, 3));
    Outcome outcome = runKit(folder, {"build", "firmware.bin", "-o", "other.kit", "--any-name"});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, "other.kit: 1 record of 256 payload bytes (the last 100), 104 kit bytes, 319 characters\n");
    EXPECT_NE(outcome.err.find("warning: the updater will not take this kit by its name"), std::string::npos);
    EXPECT_TRUE(fs::exists(folder.file("other.kit")));
}

TEST(KitTool, HelpNamesTheCommandsAndVersionIsTheProjects) {
    TempFolder folder;
    Outcome outcome = runKit(folder, {"--help"});
    EXPECT_EQ(outcome.status, 0);
    for (const char *command : {"build", "check", "extract"})
        EXPECT_NE(outcome.out.find(command), std::string::npos) << command;
    outcome = runKit(folder, {"--version"});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, "tarnwick-kit " TARNWICK_VERSION "\n");
}

}  // namespace
