// A JACK server of the test's own: the dummy backend, a name no one else
// uses, ended by its process id however the test ends.
#pragma once

#include <sys/types.h>

#include <string>

class PrivateJackServer {
  public:
    PrivateJackServer() = default;
    ~PrivateJackServer();
    PrivateJackServer(const PrivateJackServer &) = delete;
    PrivateJackServer &operator=(const PrivateJackServer &) = delete;

    // Empty when jackd is not installed.
    static std::string jackdPath();

    // Starts the server, points this process's JACK clients at it and waits
    // until it takes clients; false with the reason when it does not.
    bool start(std::string &why);
    const std::string &name() const { return serverName; }

  private:
    void stop();
    pid_t pid = -1;
    std::string serverName;
    std::string logPath;
};

// A name for a JACK server that is certainly not running.
std::string unusedJackServerName();
