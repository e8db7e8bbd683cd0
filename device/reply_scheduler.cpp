#include "reply_scheduler.h"

#include <algorithm>

void ReplyScheduler::add(const device::Outgoing &message, TargetClock::time_point arrival) {
    DueReply reply{message.bytes, arrival, arrival + std::chrono::milliseconds(message.delayMs)};
    auto later = std::upper_bound(queue_.begin(), queue_.end(), reply.due,
                                  [](TargetClock::time_point due, const DueReply &queued) { return due < queued.due; });
    queue_.insert(later, reply);
}

std::vector<DueReply> ReplyScheduler::takeDue(TargetClock::time_point now) {
    auto notDue =
        std::find_if(queue_.begin(), queue_.end(), [now](const DueReply &queued) { return queued.due > now; });
    std::vector<DueReply> due(queue_.begin(), notDue);
    queue_.erase(queue_.begin(), notDue);
    return due;
}

int ReplyScheduler::msUntilNext(TargetClock::time_point now) const {
    if (queue_.empty()) return -1;
    if (queue_.front().due <= now) return 0;
    auto wait = std::chrono::ceil<std::chrono::milliseconds>(queue_.front().due - now);
    return static_cast<int>(std::min<long long>(wait.count(), 60000));
}
