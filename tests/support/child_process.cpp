#include "support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

extern char **environ;

namespace testkit {

char noAlsaPorts[] = "ALSA_CONFIG_PATH=/dev/null";

namespace {

using Clock = std::chrono::steady_clock;

// The strings behind an argv or envp, and the pointers exec takes, made
// before fork: a child of a process with threads must not allocate.
struct CStrings {
    std::vector<std::string> strings;
    std::vector<char *> pointers;
    char **get() {
        pointers.clear();
        for (std::string &s : strings) pointers.push_back(s.data());
        pointers.push_back(nullptr);
        return pointers.data();
    }
};

CStrings environmentFor(const ChildRun &run) {
    CStrings env;
    if (!run.clearEnv) {
        for (char **entry = environ; *entry != nullptr; ++entry) env.strings.push_back(*entry);
    }
    for (const std::string &setting : run.env) {
        std::string name = setting.substr(0, setting.find('=') + 1);
        auto same = std::find_if(env.strings.begin(), env.strings.end(),
                                 [&](const std::string &old) { return old.compare(0, name.size(), name) == 0; });
        if (same != env.strings.end()) {
            *same = setting;
        } else {
            env.strings.push_back(setting);
        }
    }
    return env;
}

// The child's side after fork: its folder, its standard streams, no other
// open descriptors, the default SIGPIPE (this process ignores it), the hook.
[[noreturn]] void execChild(const ChildRun &run, char **argv, char **envp, int in, int out, int err) {
    if (!run.folder.empty() && chdir(run.folder.c_str()) != 0) _exit(127);
    if (!run.stdoutPath.empty()) out = open(run.stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0) _exit(127);
    dup2(in, STDIN_FILENO);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    for (int fd = 3; fd < 1024; ++fd) close(fd);
    signal(SIGPIPE, SIG_DFL);
    if (run.inChild && !run.inChild()) _exit(127);
    execve(argv[0], argv, envp);
    _exit(127);
}

// Whether the process has not yet ended, leaving it to be reaped later.
bool stillRunning(pid_t pid) {
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
}

bool endsWith(const std::string &text, const std::string &end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool writeAll(int fd, const std::string &bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t wrote = write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote <= 0) return false;
        done += static_cast<size_t>(wrote);
    }
    return true;
}

void closeFd(int &fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

}  // namespace

ChildResult runChild(const ChildRun &run) {
    ChildResult result;
    if (run.argv.empty()) return result;
    // A child that stops reading its input must not end this process.
    signal(SIGPIPE, SIG_IGN);
    CStrings argv{run.argv, {}}, env = environmentFor(run);

    int outPipe[2] = {-1, -1}, errPipe[2] = {-1, -1}, inPipe[2] = {-1, -1};
    int terminal = -1, terminalSide = -1, childIn = -1;
    if (pipe(errPipe) != 0) return result;
    if (run.stdoutPath.empty() && pipe(outPipe) != 0) return result;
    if (run.stdoutReaderGone) closeFd(outPipe[0]);
    if (run.stdinTerminal) {
        terminal = posix_openpt(O_RDWR | O_NOCTTY);
        if (terminal < 0 || grantpt(terminal) != 0 || unlockpt(terminal) != 0) return result;
        terminalSide = open(ptsname(terminal), O_RDWR | O_NOCTTY);
        childIn = terminalSide;
    } else if (!run.input.empty() || run.keepInputOpen || !run.laterInput.empty()) {
        if (pipe(inPipe) != 0) return result;
        childIn = inPipe[0];
    } else {
        childIn = open("/dev/null", O_RDONLY);
    }

    char **argvPointers = argv.get(), **envPointers = env.get();
    pid_t pid = fork();
    if (pid == 0) execChild(run, argvPointers, envPointers, childIn, outPipe[1], errPipe[1]);
    closeFd(outPipe[1]);
    closeFd(errPipe[1]);
    if (childIn != terminalSide) close(childIn);
    int keyFd = run.stdinTerminal ? terminal : inPipe[1];
    if (pid > 0 && !run.input.empty()) writeAll(keyFd, run.input);
    if (run.laterInput.empty() && !run.keepInputOpen) closeFd(inPipe[1]);

    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(run.timeoutMs);
    Clock::time_point promptSeen{};
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int openPipes = (outPipe[0] >= 0) + (errPipe[0] >= 0);
    while (pid > 0 && openPipes > 0 && Clock::now() < deadline) {
        // Asked before the poll: what a child wrote before it ended is in the
        // pipe by then, and whatever a grandchild keeps open is not waited for.
        bool ended = !stillRunning(pid);
        int ready = poll(fds, 2, ended ? 0 : 50);
        if (ready < 0 || (ready == 0 && ended)) break;
        for (pollfd &fd : fds) {
            if (fd.fd < 0 || fd.revents == 0) continue;
            char chunk[4096];
            ssize_t got = read(fd.fd, chunk, sizeof chunk);
            if (got <= 0) {
                closeFd(fd.fd);
                --openPipes;
            } else {
                (fd.fd == outPipe[0] ? result.out : result.err).append(chunk, static_cast<size_t>(got));
            }
        }
        // The later input comes only once the prompt has stood for a while,
        // so that a prompt that does not wait would have ended by then.
        if (run.laterInput.empty() || result.laterInputWritten) continue;
        if (!endsWith(result.out, run.laterAfter)) {
            promptSeen = Clock::time_point{};
        } else if (promptSeen == Clock::time_point{}) {
            promptSeen = Clock::now();
        } else if (Clock::now() - promptSeen >= std::chrono::milliseconds(run.laterDelayMs)) {
            result.runningAtLaterInput = stillRunning(pid);
            result.laterInputWritten = writeAll(keyFd, run.laterInput);
            if (!run.keepInputOpen) closeFd(inPipe[1]);
        }
    }
    for (pollfd &fd : fds) closeFd(fd.fd);

    if (pid > 0) {
        while (stillRunning(pid) && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        result.finished = !stillRunning(pid);
        if (!result.finished) kill(pid, SIGKILL);
        int status = 0;
        rusage usage{};
        wait4(pid, &status, 0, &usage);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        result.maxRssKb = usage.ru_maxrss;
    }
    closeFd(inPipe[1]);
    if (terminal >= 0) {
        termios settings;
        result.terminalCooked = terminalSide >= 0 && tcgetattr(terminalSide, &settings) == 0 &&
                                (settings.c_lflag & ICANON) != 0 && (settings.c_lflag & ECHO) != 0;
        pollfd echo = {terminal, POLLIN, 0};
        char shown[256];
        ssize_t got;
        while (poll(&echo, 1, 0) > 0 && (got = read(terminal, shown, sizeof shown)) > 0)
            result.terminalEcho.append(shown, static_cast<size_t>(got));
        closeFd(terminalSide);
        closeFd(terminal);
    }
    return result;
}

bool BackgroundChild::start(const ChildRun &run, const std::string &logPath) {
    stop();
    exitStatus_ = -1;
    if (run.argv.empty()) return false;
    CStrings argv{run.argv, {}}, env = environmentFor(run);
    int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int none = open("/dev/null", O_RDONLY);
    char **argvPointers = argv.get(), **envPointers = env.get();
    pid_ = fork();
    if (pid_ == 0) {
        // Should this process die without its destructors, the child goes with it.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        execChild(run, argvPointers, envPointers, none, log, log);
    }
    if (log >= 0) close(log);
    if (none >= 0) close(none);
    return pid_ > 0;
}

bool BackgroundChild::running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == 0) return true;
    exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    pid_ = -1;
    return false;
}

bool BackgroundChild::waitUntil(const std::function<bool()> &ready, int limitMs) {
    Clock::time_point end = Clock::now() + std::chrono::milliseconds(limitMs);
    while (running() && Clock::now() < end) {
        if (ready()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return ready();
}

int BackgroundChild::stop(int graceMs) {
    if (pid_ <= 0) return exitStatus_;
    kill(pid_, SIGTERM);
    Clock::time_point end = Clock::now() + std::chrono::milliseconds(graceMs);
    while (running() && Clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
        exitStatus_ = -1;
    }
    return exitStatus_;
}

}  // namespace testkit
