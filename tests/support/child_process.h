// Programs run as child processes: one runner with a deadline, after which
// the child is ended by its own pid (SIGKILL); every child is reaped.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace testkit {

struct ChildRun {
    std::vector<std::string> argv;  // argv[0] is the program's path
    std::string folder;             // working folder ("" = this one)
    std::vector<std::string> env;   // NAME=VALUE added to (or replacing in) the environment
    bool clearEnv = false;          // start from an empty environment instead
    std::string input;              // written to stdin, which then closes; "" = stdin is /dev/null
    int timeoutMs = 20000;

    // stdin stays a pipe, open until the child ends, after input.
    bool keepInputOpen = false;
    // stdin is a pseudo-terminal (not the controlling one); input and
    // laterInput are typed on it.
    bool stdinTerminal = false;
    // Written to stdin once stdout ends with laterAfter and has stood so for
    // laterDelayMs: a key given only after a prompt has been waiting.
    std::string laterInput;
    std::string laterAfter;
    int laterDelayMs = 300;
    // stdout opened here (created or truncated; relative to folder) instead
    // of a pipe; out then stays "".
    std::string stdoutPath;
    // stdout is a pipe whose reader has gone before the child starts.
    bool stdoutReaderGone = false;
    // Run in the child just before exec, after its redirections; false ends
    // the child with status 127.
    std::function<bool()> inChild;
};

struct ChildResult {
    bool finished = false;  // ended before the deadline
    int status = -1;        // exit status when it exited
    int signal = 0;         // the signal that ended it, if one did
    std::string out, err;
    long maxRssKb = 0;  // peak resident set size (from wait4)

    bool laterInputWritten = false;    // laterInput went out
    bool runningAtLaterInput = false;  // the child was still running then
    // With stdinTerminal: canonical mode and echo are on again after the run,
    // and what the terminal showed back of what was typed.
    bool terminalCooked = false;
    std::string terminalEcho;
};

ChildResult runChild(const ChildRun &run);

// NAME=VALUE for ChildRun::env, or for putenv: ALSA reads an empty
// configuration, which defines no sequencer, so the MIDI library never opens
// /dev/snd and finds no port of this machine's, a user's MIDI device
// included. Unlike hiding /dev/snd, this needs no privilege.
extern char noAlsaPorts[];

// A child left running in the background (a virtual box, a JACK server):
// stdin from /dev/null, stdout and stderr into a log file; ended by its own
// pid when stopped or destroyed, and sent SIGTERM should this process die.
class BackgroundChild {
  public:
    BackgroundChild() = default;
    ~BackgroundChild() { stop(); }
    BackgroundChild(const BackgroundChild &) = delete;
    BackgroundChild &operator=(const BackgroundChild &) = delete;

    // Uses argv, folder, env, clearEnv and inChild of run; false when no
    // child could be started.
    bool start(const ChildRun &run, const std::string &logPath);
    pid_t pid() const { return pid_; }
    // False once the child has ended (it is then reaped).
    bool running();
    // True as soon as ready() holds: tried every 50 ms while the child runs,
    // for limitMs at most, then once more (wait_until in scripts/lib does
    // the same for the scripts).
    bool waitUntil(const std::function<bool()> &ready, int limitMs);
    // SIGTERM, then SIGKILL after graceMs; reaps the child. Its exit status,
    // -1 when a signal ended it (the SIGKILL too). A JACK client's close, or
    // the server's own, can wait out the server's 5 s timeout more than once
    // on a busy machine; a killed server stays in JACK's registry of servers,
    // which holds eight.
    int stop(int graceMs = 30000);

  private:
    pid_t pid_ = -1;
    int exitStatus_ = -1;
};

}  // namespace testkit
