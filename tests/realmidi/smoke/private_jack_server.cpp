#include "private_jack_server.h"

#include <dirent.h>
#include <fcntl.h>
#include <jack/jack.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

void ignoreJackMessage(const char *) {}

// Reaps the process if it has ended, within the time given.
bool reapedWithin(pid_t pid, std::chrono::milliseconds limit) {
    Clock::time_point end = Clock::now() + limit;
    for (;;) {
        int status;
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid || done < 0) return true;
        if (Clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::string readFile(const std::string &path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

int serverCount = 0;

// Semaphores and shared memory of a server that ended while clients were
// still open stay behind in /dev/shm, named after the server.
void removeLeftovers(const std::string &serverName) {
    DIR *folder = opendir("/dev/shm");
    if (folder == nullptr) return;
    std::string tag = "_" + serverName + "_";
    std::vector<std::string> leftovers;
    while (dirent *entry = readdir(folder)) {
        std::string name = entry->d_name;
        if (name.rfind("jack", 0) == 0 && name.find(tag) != std::string::npos) leftovers.push_back(name);
    }
    closedir(folder);
    for (const std::string &name : leftovers) unlink(("/dev/shm/" + name).c_str());
}

}  // namespace

std::string PrivateJackServer::jackdPath() {
    const char *path = std::getenv("PATH");
    std::stringstream folders(path != nullptr ? path : "/usr/bin:/bin");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        std::string candidate = (folder.empty() ? "." : folder) + "/jackd";
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return "";
}

std::string unusedJackServerName() { return "tw-none-" + std::to_string(getpid()); }

bool PrivateJackServer::start(std::string &why) {
    std::string program = jackdPath();
    if (program.empty()) {
        why = "jackd is not installed";
        return false;
    }
    serverName = "tw-smoke-" + std::to_string(getpid()) + "-" + std::to_string(++serverCount);
    logPath = "/tmp/" + serverName + ".log";
    setenv("JACK_DEFAULT_SERVER", serverName.c_str(), 1);
    jack_set_error_function(ignoreJackMessage);
    jack_set_info_function(ignoreJackMessage);

    // --sync: the server waits for every client each cycle, so that a client
    // a busy machine holds back loses no MIDI events.
    std::vector<std::string> args = {program, "--no-realtime", "--sync", "-d", "dummy"};
    std::vector<char *> argv;
    for (std::string &arg : args) argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    pid = fork();
    if (pid < 0) {
        why = "fork failed";
        return false;
    }
    if (pid == 0) {
#ifdef __linux__
        // Should this test process die without its destructors, the server
        // goes with it.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
#endif
        int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int none = open("/dev/null", O_RDONLY);
        if (log >= 0) {
            dup2(log, STDOUT_FILENO);
            dup2(log, STDERR_FILENO);
        }
        if (none >= 0) dup2(none, STDIN_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }

    Clock::time_point end = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < end) {
        int status;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            pid = -1;
            why = "jackd ended at once: " + readFile(logPath);
            return false;
        }
        jack_status_t clientStatus;
        jack_client_t *probe = jack_client_open("tw-smoke-probe", JackNoStartServer, &clientStatus);
        if (probe != nullptr) {
            jack_client_close(probe);
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    why = "jackd took no client within 10 s: " + readFile(logPath);
    stop();
    return false;
}

void PrivateJackServer::stop() {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    if (!reapedWithin(pid, std::chrono::seconds(5))) {
        kill(pid, SIGKILL);
        reapedWithin(pid, std::chrono::seconds(5));
    }
    pid = -1;
    removeLeftovers(serverName);
}

PrivateJackServer::~PrivateJackServer() {
    stop();
    if (!logPath.empty()) unlink(logPath.c_str());
}
