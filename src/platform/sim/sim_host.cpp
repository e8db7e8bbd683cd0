#include "platform/sim/sim_host.h"

#include "platform/sim/delivery_engine.h"
#include "platform/sim/host_lock.h"
#include "platform/sim/port_table.h"
#include "platform/sim/virtual_clock.h"

namespace sim {

void resetPauseCount();

void reset(ClockMode mode) {
    std::lock_guard<std::mutex> guard(hostLock);
    resetDelivery();
    resetClock(mode);
    resetPorts();
    resetPauseCount();
}

uint64_t nowMs() {
    std::lock_guard<std::mutex> guard(hostLock);
    return clockNowMs();
}

}  // namespace sim
