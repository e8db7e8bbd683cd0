// One lock guards all of the simulated host's state: the clock, the messages
// due for the program and the port table. The host thread lets go of it only
// around the program's callback.
#pragma once

#include <mutex>

namespace sim {

extern std::mutex hostLock;

}  // namespace sim
