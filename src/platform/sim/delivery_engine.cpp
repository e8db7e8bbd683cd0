#include "platform/sim/delivery_engine.h"

#include <algorithm>
#include <condition_variable>
#include <thread>
#include <vector>

#include "platform/monotonic_sleep.h"
#include "platform/sim/host_lock.h"
#include "platform/sim/port_table.h"
#include "platform/sim/sim_host.h"
#include "platform/sim/virtual_clock.h"

namespace sim {

std::mutex hostLock;

namespace {

struct Pending {
    uint64_t atMs;
    uint64_t order;
    std::vector<uint8_t> bytes;
};

std::condition_variable work;      // to the host thread: something to deliver or to stop
std::condition_variable finished;  // to Sleep: delivery up to the clock is done
std::vector<Pending> pending;
uint64_t nextOrder = 0;
uint64_t deliveredTo = 0;  // the host thread has delivered everything due by this time
bool stopping = false;

bool takeDue(uint64_t upTo, std::vector<uint8_t> &bytes) {
    auto due = std::min_element(pending.begin(), pending.end(), [](const Pending &a, const Pending &b) {
        return a.atMs != b.atMs ? a.atMs < b.atMs : a.order < b.order;
    });
    if (due == pending.end() || due->atMs > upTo) return false;
    bytes = std::move(due->bytes);
    pending.erase(due);
    return true;
}

uint64_t earliestDue() {
    uint64_t earliest = UINT64_MAX;
    for (const Pending &p : pending) earliest = std::min(earliest, p.atMs);
    return earliest;
}

void deliverDueMessages() {
    std::unique_lock<std::mutex> held(hostLock);
    while (!stopping) {
        std::vector<uint8_t> bytes;
        if (clockIsVirtual()) {
            if (deliveredTo < clockNowMs()) {
                uint64_t upTo = clockNowMs();
                while (takeDue(upTo, bytes)) deliverToProgram(held, bytes);
                deliveredTo = upTo;
                finished.notify_all();
                continue;
            }
            work.wait(held);
            continue;
        }
        if (takeDue(clockNowMs(), bytes)) {
            deliverToProgram(held, bytes);
            continue;
        }
        uint64_t next = earliestDue();
        if (next == UINT64_MAX)
            work.wait(held);
        else
            work.wait_until(held, realMomentOf(next));
    }
}

// Stopped and joined by stopDelivery, or at exit. Made on the first reset,
// after the clock and the port table it uses, so it goes before them.
struct HostThread {
    std::thread thread;
    void stop() {
        if (!thread.joinable()) return;
        {
            std::lock_guard<std::mutex> guard(hostLock);
            stopping = true;
        }
        work.notify_all();
        thread.join();
        stopping = false;
    }
    ~HostThread() { stop(); }
};

HostThread &hostThread() {
    static HostThread running;
    return running;
}

}  // namespace

void resetDelivery() {
    if (!hostThread().thread.joinable()) hostThread().thread = std::thread(deliverDueMessages);
    deliveredTo = 0;
    pending.clear();
    nextOrder = 0;
}

void stopDelivery() { hostThread().stop(); }

void post(const std::vector<uint8_t> &bytes, uint64_t delayMs) {
    {
        std::lock_guard<std::mutex> guard(hostLock);
        pending.push_back({clockNowMs() + delayMs, nextOrder++, bytes});
    }
    work.notify_all();
}

void sleepOnClock(uint32_t ms) {
    std::unique_lock<std::mutex> held(hostLock);
    if (!clockIsVirtual()) {
        held.unlock();
        sleepMonotonic(ms);
        return;
    }
    uint64_t target = advanceClock(ms);
    work.notify_all();
    finished.wait(held, [target] { return deliveredTo >= target; });
}

}  // namespace sim
