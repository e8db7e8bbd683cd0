// The answers the box owes, each due a given time after the frame that asked
// for it; sent by the main loop when their time comes, in order.
#pragma once

#include <cstdint>
#include <vector>

#include "device_model.h"
#include "frame_inbox.h"

struct DueReply {
    device::Bytes bytes;
    TargetClock::time_point arrival;  // of the frame answered
    TargetClock::time_point due;
};

class ReplyScheduler {
  public:
    void add(const device::Outgoing &message, TargetClock::time_point arrival);

    // The replies due by now, earliest first; those due at the same time in
    // the order they were added.
    std::vector<DueReply> takeDue(TargetClock::time_point now);

    // Milliseconds until the next reply is due, rounded up; -1 when none waits.
    int msUntilNext(TargetClock::time_point now) const;

    size_t pending() const { return queue_.size(); }

  private:
    std::vector<DueReply> queue_;  // kept sorted by due time, stable
};
