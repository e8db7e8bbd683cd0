// The built updater, run in a fresh folder of its own: its whole console
// output, byte for byte, for each kind of kit it may find. No MIDI port is
// there to be found, so a kit that passes every check ends at the port stage.
//
// Nor may one be found on a desktop with a MIDI device plugged in: the updater
// would greet that device. It runs in a mount namespace of its own where
// /dev/snd is empty, and under a JACK server name that no server has.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const std::string banner = "Quorlane Update V0.3 -> Tarnwick Box System\n";
const std::string pausePrompt = "Press any key to continue . . . ";
const std::string pause = pausePrompt + "\n";
const std::string noInPort = "Error: The MIDI In of device is missing!\n\n";
const std::string badKit = "Error: The upgrade file is error!\n\n";

std::string opened(const std::string &name) { return "OK: File '" + name + "' is open.\n"; }
std::string notFound(const std::string &name) { return "Error: File '" + name + "' is not found.\n\n"; }

// Two sound records, as a kit is usually laid out.
const std::string soundKit = "00 05 01 02 03 FA FF\r\n00 04 7F 81 00 FF\r\n";

// A folder of its own under the system's temporary folder, removed with
// everything in it however the test ends.
struct TempFolder {
    std::string path;
    TempFolder() {
        const char *base = std::getenv("TMPDIR");
        std::string pattern =
            std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/tarnwick-process-XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (mkdtemp(name.data()) != nullptr) path = name.data();
    }
    ~TempFolder() {
        std::error_code ignored;
        if (!path.empty()) fs::remove_all(path, ignored);
    }
    void write(const std::string &name, const std::string &text) const {
        std::ofstream(path + "/" + name, std::ios::binary) << text;
    }
};

// The first "*.kit" entry in the directory's own order, as the updater's
// search sees it.
std::string firstKitListed(const std::string &folder) {
    std::string first;
    DIR *directory = opendir(folder.c_str());
    if (directory == nullptr) return first;
    while (dirent *entry = readdir(directory)) {
        std::string name = entry->d_name;
        if (name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".kit") == 0) {
            first = name;
            break;
        }
    }
    closedir(directory);
    return first;
}

// Adds a kit under a name the directory lists before kit `first` (or after
// it), trying fresh names until the order comes out so; false if none did.
bool addKitListed(const TempFolder &folder, const std::string &prefix, const std::string &text,
                  const std::string &first, bool before) {
    for (int i = 0; i < 200; ++i) {
        std::string name = prefix + std::to_string(i) + ".kit";
        folder.write(name, text);
        std::string listed = firstKitListed(folder.path);
        if ((listed == name) == before && (before || listed == first)) return true;
        fs::remove(folder.path + "/" + name);
    }
    return false;
}

// Writes text into a file of /proc/self; false when that is refused.
bool writeProcFile(const char *path, const std::string &text) {
    int fd = open(path, O_WRONLY);
    if (fd < 0) return false;
    bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    return written;
}

// A user namespace lets an ordinary user have a mount namespace of their own;
// root needs none.
bool enterMountNamespace() {
    if (unshare(CLONE_NEWNS) == 0) return true;
    const std::string uid = std::to_string(getuid()), gid = std::to_string(getgid());
    return unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0 && writeProcFile("/proc/self/setgroups", "deny") &&
           writeProcFile("/proc/self/uid_map", uid + " " + uid + " 1") &&
           writeProcFile("/proc/self/gid_map", gid + " " + gid + " 1");
}

// Leaves this process, and what it starts, without ALSA's device nodes.
bool hideSoundDevices() {
    if (access("/dev/snd", F_OK) != 0) return true;
    return enterMountNamespace() && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           mount("tmpfs", "/dev/snd", "tmpfs", MS_NOSUID | MS_NOEXEC, "size=4k") == 0;
}

// Tried once in a child of its own, so that this process keeps its mounts.
bool soundDevicesCanBeHidden() {
    static const bool possible = [] {
        pid_t pid = fork();
        if (pid == 0) _exit(hideSoundDevices() ? 0 : 1);
        int status = 0;
        return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }();
    return possible;
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

struct RunResult {
    bool finished = false;
    int status = -1;
    int signal = 0;  // the signal that ended the process, if one did
    std::string out;
    std::string err;
    bool waitedForKey = true;  // still running with the prompt shown, before the key
    bool terminalRestored = true;
};

// Whether the process has not yet ended, leaving it to be reaped later.
bool stillRunning(pid_t pid) {
    siginfo_t info;
    std::memset(&info, 0, sizeof info);
    return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
}

// Runs the updater in folder with the given standard input; stdout and stderr
// are collected until both close, for at most the time limit, after which the
// process is killed by its id.
RunResult runUpdater(const std::string &folder, Input input, const std::vector<std::string> &args = {},
                     Output output = Output::pipe) {
    RunResult result;
    int outPipe[2], errPipe[2], inPipe[2] = {-1, -1};
    int terminal = -1, terminalSide = -1;
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return result;
    if (output == Output::closedPipe) {
        close(outPipe[0]);
        outPipe[0] = -1;
    }
    if ((input == Input::pipeOneByte || input == Input::pipeKeyLater) && pipe(inPipe) != 0) return result;
    if (input == Input::terminalKey) {
        terminal = posix_openpt(O_RDWR | O_NOCTTY);
        if (terminal < 0 || grantpt(terminal) != 0 || unlockpt(terminal) != 0) return result;
        terminalSide = open(ptsname(terminal), O_RDWR | O_NOCTTY);
        if (terminalSide < 0) return result;
    }
    std::vector<std::string> argStrings = {TARNWICK_UPDATE_PATH};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &a : argStrings) argv.push_back(a.data());
    argv.push_back(nullptr);
    // A MIDI server that another test may be running is not this run's.
    std::string jackServer = "JACK_DEFAULT_SERVER=tarnwick-process-none-" + std::to_string(getpid());
    std::vector<char *> envp = {jackServer.data(), nullptr};

    pid_t pid = fork();
    if (pid == 0) {
        if (!hideSoundDevices() || chdir(folder.c_str()) != 0) _exit(127);
        switch (input) {
        case Input::devNull: {
            int devNull = open("/dev/null", O_RDONLY);
            dup2(devNull, 0);
            close(devNull);
            break;
        }
        case Input::closed: close(0); break;
        case Input::pipeOneByte:
        case Input::pipeKeyLater: dup2(inPipe[0], 0); break;
        case Input::terminalKey: dup2(terminalSide, 0); break;
        }
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        for (int fd = 3; fd < 1024; ++fd) close(fd);
        // The program must not rely on a signal disposition inherited from the test.
        signal(SIGPIPE, SIG_DFL);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    if (inPipe[0] >= 0) close(inPipe[0]);
    if (pid < 0) {
        if (outPipe[0] >= 0) close(outPipe[0]);
        close(errPipe[0]);
        return result;
    }

    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(20);
    bool keyGiven = input == Input::devNull || input == Input::closed;
    if (input == Input::pipeOneByte) keyGiven = write(inPipe[1], "k", 1) == 1;
    Clock::time_point promptSeen{};
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open = outPipe[0] >= 0 ? 2 : 1;
    while (open > 0 && Clock::now() < deadline) {
        if (poll(fds, 2, 50) < 0) break;
        for (pollfd &fd : fds) {
            if (fd.fd < 0 || fd.revents == 0) continue;
            char chunk[4096];
            ssize_t got = read(fd.fd, chunk, sizeof chunk);
            if (got <= 0) {
                close(fd.fd);
                fd.fd = -1;
                --open;
            } else {
                (fd.fd == outPipe[0] ? result.out : result.err).append(chunk, static_cast<size_t>(got));
            }
        }
        // The key comes only once the prompt has stood for a while, so that
        // a pause that does not wait would have ended by then.
        if (!keyGiven && result.out.size() >= pausePrompt.size() &&
            result.out.compare(result.out.size() - pausePrompt.size(), pausePrompt.size(), pausePrompt) == 0) {
            if (promptSeen == Clock::time_point{}) promptSeen = Clock::now();
            if (Clock::now() - promptSeen >= std::chrono::milliseconds(300)) {
                result.waitedForKey = stillRunning(pid);
                int keyFd = input == Input::terminalKey ? terminal : inPipe[1];
                keyGiven = write(keyFd, "k", 1) == 1;
            }
        }
    }
    for (pollfd &fd : fds) {
        if (fd.fd >= 0) close(fd.fd);
    }
    while (stillRunning(pid) && Clock::now() < deadline) usleep(10000);
    if (stillRunning(pid)) kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    result.finished = keyGiven && WIFEXITED(status);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    if (inPipe[1] >= 0) close(inPipe[1]);
    if (terminal >= 0) {
        termios settings;
        result.terminalRestored = tcgetattr(terminalSide, &settings) == 0 && (settings.c_lflag & ICANON) != 0 &&
                                  (settings.c_lflag & ECHO) != 0;
        // The key must not have been echoed: all that reaches the terminal is nothing.
        char echoed;
        pollfd echo = {terminal, POLLIN, 0};
        if (poll(&echo, 1, 0) > 0 && read(terminal, &echoed, 1) == 1) result.terminalRestored = false;
        close(terminalSide);
        close(terminal);
    }
    return result;
}

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

std::string hexNumbers(size_t count) {
    std::string text;
    text.reserve(count * 3);
    for (size_t i = 0; i < count; ++i) text += "00 ";
    return text;
}

// One record of N = 65,533 filling the largest kit: 65,535 numbers.
std::string largestSoundKit() { return "FF FD " + hexNumbers(65531) + "00 00"; }

std::vector<RunCase> runCases() {
    auto kit = [](std::string name, std::string text) {
        return [name, text](const TempFolder &f) {
            f.write(name, text);
            return true;
        };
    };
    auto none = [](const TempFolder &) { return true; };
    return {
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
        {"nameWithoutTag", kit("firmware.kit", soundKit), "Error: The fit file is not found.\n\n"},
        {"nameShorterThanTag", kit("Tarnwick.kit", soundKit), "Error: The fit file is not found.\n\n"},
        {"tagFurtherIn", kit("new_Tarnwick_Box.kit", soundKit), "Error: The fit file is not found.\n\n"},
        {"firstListedLacksTag",
         [](const TempFolder &f) {
             f.write("Tarnwick_Box.kit", soundKit);
             return addKitListed(f, "other", soundKit, "Tarnwick_Box.kit", true);
         },
         "Error: The fit file is not found.\n\n"},
        {"firstListedHasTag",
         [](const TempFolder &f) {
             f.write("Tarnwick_Box.kit", soundKit);
             return addKitListed(f, "other", soundKit, "Tarnwick_Box.kit", false);
         },
         opened("Tarnwick_Box.kit") + noInPort},
        {"danglingLink",
         [](const TempFolder &f) { return symlink("missing.txt", (f.path + "/Tarnwick_Box.kit").c_str()) == 0; },
         notFound("Tarnwick_Box.kit")},
        // Found by the search, but no file to open, on Linux as on Windows.
        {"folderNamedAsKit",
         [](const TempFolder &f) { return mkdir((f.path + "/Tarnwick_Box.kit").c_str(), 0700) == 0; },
         notFound("Tarnwick_Box.kit")},
        {"linkToFolderNamedAsKit",
         [](const TempFolder &f) {
             return mkdir((f.path + "/firmware").c_str(), 0700) == 0 &&
                    symlink("firmware", (f.path + "/Tarnwick_Box.kit").c_str()) == 0;
         },
         notFound("Tarnwick_Box.kit")},
        {"nameTooLongToHold", kit(longName, soundKit), notFound(longName.substr(0, 99))},
        {"soundKit", kit("Tarnwick_Box.kit", soundKit), opened("Tarnwick_Box.kit") + noInPort},
        {"lowerCaseNameAndDigits", kit("tarnwick_box_v2.kit", "00 05 01 02 03 fa ff"),
         opened("tarnwick_box_v2.kit") + noInPort},
        {"upperCaseName", kit("TARNWICK_BOX.KIT", soundKit), opened("TARNWICK_BOX.KIT") + noInPort},
        {"badCheckWord", kit("Tarnwick_Box.kit", "00 05 01 02 03 FA FE"), opened("Tarnwick_Box.kit") + badKit},
        {"badSecondRecord", kit("Tarnwick_Box.kit", "00 05 01 02 03 FA FF 00 04 7F 81 01 FF"),
         opened("Tarnwick_Box.kit") + badKit},
        {"recordRunsPastEnd", kit("Tarnwick_Box.kit", "00 05 01 02 03 FA"), opened("Tarnwick_Box.kit") + badKit},
        // No records: nothing to send, so no success to report.
        {"emptyKit", kit("Tarnwick_Box.kit", ""), opened("Tarnwick_Box.kit") + badKit},
        {"textNotHex", kit("Tarnwick_Box.kit", "<!DOCTYPE html>\n<title>404 Not Found</title>\n"),
         opened("Tarnwick_Box.kit") + badKit},
        {"readingStopsAtCtrlZ", kit("Tarnwick_Box.kit", soundKit + "\x1A" + "garbage 01"),
         opened("Tarnwick_Box.kit") + noInPort},
        {"largestKit", kit("Tarnwick_Box.kit", largestSoundKit()), opened("Tarnwick_Box.kit") + noInPort},
        {"oversizedKit", kit("Tarnwick_Box.kit", largestSoundKit() + " 00"), opened("Tarnwick_Box.kit") + badKit},
        {"inputClosed", kit("Tarnwick_Box.kit", soundKit), opened("Tarnwick_Box.kit") + noInPort, Input::closed},
        {"inputClosedNoKit", none, notFound("*.kit"), Input::closed},
        {"inputPipeOneByte", kit("Tarnwick_Box.kit", soundKit), opened("Tarnwick_Box.kit") + noInPort,
         Input::pipeOneByte},
        {"pauseWaitsForKey", none, notFound("*.kit"), Input::pipeKeyLater},
        {"terminalKeyWithoutEnter", none, notFound("*.kit"), Input::terminalKey},
        // Nobody reads the output: the run still ends by itself, with status 0.
        {"outputReaderGone", none, notFound("*.kit"), Input::devNull, {}, Output::closedPipe},
    };
}

void PrintTo(const RunCase &c, std::ostream *os) { *os << c.name; }

class UpdaterProcess : public testing::TestWithParam<RunCase> {};

TEST_P(UpdaterProcess, PrintsExactlyAndExitsWithZero) {
    const RunCase &c = GetParam();
    if (!soundDevicesCanBeHidden())
        GTEST_SKIP() << "this machine has /dev/snd and no mount namespace can hide it from the updater, "
                        "which would then greet a real MIDI device";
    TempFolder folder;
    ASSERT_FALSE(folder.path.empty());
    ASSERT_TRUE(c.arrange(folder)) << "could not arrange the folder";
    RunResult result = runUpdater(folder.path, c.input, c.args, c.output);
    ASSERT_TRUE(result.finished) << "the updater did not end in time, or was ended by signal " << result.signal;
    EXPECT_EQ(result.out, c.output == Output::pipe ? banner + c.expected + pause : "");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(result.waitedForKey) << "the pause ended before a key was given";
    EXPECT_TRUE(result.terminalRestored) << "the terminal was left raw, or the key was echoed";
}

INSTANTIATE_TEST_SUITE_P(Updater, UpdaterProcess, testing::ValuesIn(runCases()),
                         [](const testing::TestParamInfo<RunCase> &p) { return std::string(p.param.name); });

}  // namespace
