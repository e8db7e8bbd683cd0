// The built updater on a real MIDI system: a private JACK server with a
// virtual device that answers, and no MIDI system at all. Whole console
// output compared byte for byte, nothing on standard error.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "private_jack_server.h"
#include "tsan_suppressions.h"
#include "virtual_box.h"

extern char **environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const std::string banner = "Quorlane Update V0.3 -> Tarnwick Box System\n";
const std::string kitOpened = "OK: File 'Tarnwick_Box.kit' is open.\n";
const std::string pause = "Press any key to continue . . . \n";

// One record of five bytes with its check word.
const std::string soundKit = "00 05 01 02 03 FA FF";

struct TempFolder {
    std::string path;
    TempFolder() {
        char pattern[] = "/tmp/tarnwick-realmidi-XXXXXX";
        if (mkdtemp(pattern) != nullptr) path = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        if (!path.empty()) fs::remove_all(path, ignored);
    }
};

std::string readFile(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

struct RunResult {
    bool finished = false;
    int status = -1;
    std::string out;
    std::string err;
};

// Runs the updater in a folder holding the sound kit, standard input from
// /dev/null, its JACK clients pointed at `server`; killed by its id after
// 30 s.
RunResult runUpdater(const std::string &server) {
    RunResult result;
    TempFolder work, logs;
    if (work.path.empty() || logs.path.empty()) return result;
    std::ofstream(work.path + "/Tarnwick_Box.kit", std::ios::binary) << soundKit;
    std::string outPath = logs.path + "/out", errPath = logs.path + "/err";

    // A sanitizer build of the updater needs the same suppressions as this test.
    std::string suppressions = logs.path + "/tsan.supp";
    std::ofstream(suppressions) << midiLibrarySuppressions;
    const char *tsanOptions = std::getenv("TSAN_OPTIONS");
    std::vector<std::string> env;
    for (char **entry = environ; *entry != nullptr; ++entry) {
        std::string setting = *entry;
        if (setting.rfind("JACK_DEFAULT_SERVER=", 0) != 0 && setting.rfind("TSAN_OPTIONS=", 0) != 0)
            env.push_back(setting);
    }
    env.push_back("JACK_DEFAULT_SERVER=" + server);
    env.push_back(std::string("TSAN_OPTIONS=") + (tsanOptions != nullptr ? tsanOptions : "") +
                  " suppressions=" + suppressions);
    std::vector<char *> envp;
    for (std::string &entry : env) envp.push_back(&entry[0]);
    envp.push_back(nullptr);
    std::string program = TARNWICK_UPDATE_PATH;
    char *argv[] = {&program[0], nullptr};

    pid_t pid = fork();
    if (pid < 0) return result;
    if (pid == 0) {
        int in = open("/dev/null", O_RDONLY);
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0 || chdir(work.path.c_str()) != 0) _exit(126);
        dup2(in, STDIN_FILENO);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        execve(argv[0], argv, envp.data());
        _exit(127);
    }
    Clock::time_point end = Clock::now() + std::chrono::seconds(30);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() >= end) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            result.out = readFile(outPath);
            return result;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    result.finished = true;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = readFile(outPath);
    result.err = readFile(errPath);
    return result;
}

TEST(UpdaterWithoutMidi, FindsNoInputPortAndSaysSo) {
    if (access("/dev/snd/seq", F_OK) == 0) GTEST_SKIP() << "this machine has an ALSA sequencer";
    RunResult run = runUpdater(unusedJackServerName());
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, banner + kitOpened + "Error: The MIDI In of device is missing!\n\n" + pause);
    EXPECT_EQ(run.err, "");
}

TEST(UpdaterOverJack, UpdatesTheVirtualDevice) {
    if (PrivateJackServer::jackdPath().empty()) GTEST_SKIP() << "jackd is not installed";
    if (access("/dev/snd/seq", F_OK) == 0) GTEST_SKIP() << "ALSA ports would be numbered before the device";
    PrivateJackServer server;
    std::string why;
    ASSERT_TRUE(server.start(why)) << why;
    VirtualBox box(true);

    RunResult run = runUpdater(server.name());

    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, banner + kitOpened + "MIDI IN DEVICE: USB Device\r\n" + "MIDI OUT DEVICE: USB Device\r\n" +
                           "\r                        \rTransferring.. - 0% done" + "\rTransferring.. 100% done.  \n" +
                           "Target update successfully!\n\n" + pause);
    EXPECT_EQ(run.err, "");
    const Bytes handshake = {0xF0, 0x3C, 0x11, 0x52, 0x07, 0x68, 0x4D, 0x23, 0xF7};
    const Bytes record = {0xF0, '0', '0', '0', '5', '0', '1', '0', '2', '0', '3', 'F', 'A', 'F', 'F', 0xF7};
    // A handshake whose reply comes late is sent again, as the updater does
    // with a slow device (seen in sanitizer builds).
    std::vector<Bytes> frames = box.received();
    frames.erase(std::unique(frames.begin(), frames.end()), frames.end());
    EXPECT_EQ(frames, (std::vector<Bytes>{handshake, record}));
}

}  // namespace
