#include "private_jack_server.h"

#include <jack/jack.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

namespace {

void ignoreJackMessage(const char *) {}

int serverCount = 0;

// Semaphores and shared memory of a server that ended while clients were
// still open stay behind in /dev/shm, named after the server.
void removeLeftovers(const std::string &serverName) {
    std::error_code ignored;
    for (const auto &entry : std::filesystem::directory_iterator("/dev/shm", ignored)) {
        std::string name = entry.path().filename();
        if (name.rfind("jack", 0) == 0 && name.find("_" + serverName + "_") != std::string::npos)
            std::filesystem::remove(entry.path(), ignored);
    }
}

}  // namespace

const char midiLibrarySuppressions[] =
    "race:libjack.so.0\n"
    "race:librtmidi.so.6\n";

// Read by ThreadSanitizer at start in a sanitizer build; unused otherwise.
extern "C" const char *__tsan_default_suppressions() { return midiLibrarySuppressions; }

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

bool jackServerAnswers(const std::string &name) {
    jack_set_error_function(ignoreJackMessage);
    jack_set_info_function(ignoreJackMessage);
    jack_status_t status;
    jack_client_t *probe =
        jack_client_open("tw-probe", JackOptions(JackNoStartServer | JackServerName), &status, name.c_str());
    if (probe == nullptr) return false;
    jack_client_close(probe);
    return true;
}

std::string unusedJackServerName() { return "tw-none-" + std::to_string(getpid()); }

bool PrivateJackServer::start(std::string &why) {
    std::string program = jackdPath();
    if (program.empty()) {
        why = "jackd is not installed (Debian package jackd2)";
        return false;
    }
    serverName = "tw-realmidi-" + std::to_string(getpid()) + "-" + std::to_string(++serverCount);
    setenv("JACK_DEFAULT_SERVER", serverName.c_str(), 1);
    // The server's ports are then the only ones: none of the machine's own
    // ALSA ports (a real device) comes before them.
    putenv(testkit::noAlsaPorts);
    // --sync: the server waits for every client each cycle, so that a client
    // a busy machine holds back loses no MIDI events.
    testkit::ChildRun run;
    run.argv = {program, "--no-realtime", "--sync", "--name", serverName, "-d", "dummy", "-r", "48000", "-p", "256"};
    if (!jackd.start(run, logFolder.file("jackd.log"))) {
        why = "jackd could not be started";
        return false;
    }
    if (jackd.waitUntil([this] { return jackServerAnswers(serverName); }, 10000)) return true;
    why = std::string(jackd.running() ? "jackd took no client within 10 s: " : "jackd ended at once: ") +
          logFolder.read("jackd.log");
    return false;
}

PrivateJackServer::~PrivateJackServer() {
    jackd.stop();
    if (serverName.empty()) return;
    removeLeftovers(serverName);
    // A later case of the same run may need the sequencer.
    unsetenv("ALSA_CONFIG_PATH");
}
