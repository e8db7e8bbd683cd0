#include "frame_inbox.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <stdexcept>

namespace {

// One inbox per process; the signal handler reaches its pipe through these.
std::atomic<int> wakeReadFd{-1};
std::atomic<int> wakeWriteFd{-1};

void wakeMainThread() {
    int fd = wakeWriteFd.load();
    if (fd < 0) return;
    char byte = 1;
    // A full pipe already holds a wake-up.
    ssize_t ignored = write(fd, &byte, 1);
    (void)ignored;
}

}  // namespace

FrameInbox::FrameInbox() {
    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("cannot make a pipe");
    for (int fd : fds) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    wakeReadFd = fds[0];
    wakeWriteFd = fds[1];
}

FrameInbox::~FrameInbox() {
    int readFd = wakeReadFd.exchange(-1), writeFd = wakeWriteFd.exchange(-1);
    close(readFd);
    close(writeFd);
}

void FrameInbox::push(const unsigned char *bytes, size_t length, TargetClock::time_point arrival) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        frames_.push_back({device::Bytes(bytes, bytes + length), arrival});
    }
    wakeMainThread();
}

void FrameInbox::wake() { wakeMainThread(); }

std::vector<ArrivedFrame> FrameInbox::takeAll() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<ArrivedFrame> taken;
    taken.swap(frames_);
    return taken;
}

void FrameInbox::waitForWake(int timeoutMs) {
    pollfd entry = {wakeReadFd.load(), POLLIN, 0};
    // A signal interrupts the wait as well; the caller looks at its flags.
    if (poll(&entry, 1, timeoutMs) <= 0) return;
    char drain[64];
    while (read(entry.fd, drain, sizeof drain) > 0) {
    }
}

void FrameInbox::wakeFromSignal() {
    int saved = errno;
    wakeMainThread();
    errno = saved;
}
