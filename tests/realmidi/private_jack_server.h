// A JACK server of the test's own: the dummy backend, a name no one else
// uses, ended by its process id however the test ends. scripts/lib/jack.sh
// starts the scripts' server with the same options and clean-up; a test
// must own its server's process to end it on every path, so it does not
// borrow the scripts'.
#pragma once

#include <string>

#include "support/child_process.h"
#include "support/temp_folder.h"

class PrivateJackServer {
  public:
    ~PrivateJackServer();

    // Empty when jackd is not installed.
    static std::string jackdPath();

    // Starts the server, points this process's MIDI clients (and the
    // programs it starts) at it and at nothing else, and waits until it takes
    // clients; false with the reason when it does not.
    bool start(std::string &why);

    // What the server wrote, for a failing test to show.
    std::string log() const { return logFolder.read("jackd.log"); }

  private:
    std::string serverName;
    testkit::TempFolder logFolder{"tarnwick-jackd"};
    testkit::BackgroundChild jackd;
};

// True when a JACK server of that name takes a client; never starts one.
bool jackServerAnswers(const std::string &name);

// A name for a JACK server that is certainly not running.
std::string unusedJackServerName();

// ThreadSanitizer cannot see the synchronisation inside the MIDI libraries,
// which are built without it: JACK's lock-free ring buffers, and the server
// round trips that order a port's opening before its first message and its
// closing after its last. What it would report there is not a race.
extern const char midiLibrarySuppressions[];
