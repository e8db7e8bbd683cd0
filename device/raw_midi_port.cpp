#include "raw_midi_port.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

#include "sysex_splitter.h"

namespace {

// A reply is three bytes and the device's buffer holds thousands, so a
// write waits only when the other side has stopped reading altogether.
const int writeWaitMs = 1000;

std::string systemError(const std::string &what, int error) { return what + ": " + std::strerror(error); }

void closeIfOpen(int fd) {
    if (fd >= 0) close(fd);
}

}  // namespace

RawMidiPort::RawMidiPort(const std::string &device, FrameInbox &inbox) {
    systemName_ = "raw MIDI";
    inPortName_ = device;
    outPortName_ = device;
    device_ = open(device.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (device_ < 0) throw std::runtime_error(systemError("cannot open the raw MIDI device '" + device + "'", errno));
    if (pipe2(stopPipe_, O_CLOEXEC) != 0) {
        int error = errno;
        close(device_);
        throw std::runtime_error(systemError("cannot make a pipe", error));
    }
    // The kernel delivers input only once the device has been read from;
    // this first read starts it, so no frame is lost before the thread's
    // first wait, and drops whatever was left from an earlier user.
    uint8_t stale[256];
    while (read(device_, stale, sizeof stale) > 0) {
    }
    reader_ = std::thread(&RawMidiPort::readUntilStopped, this, std::ref(inbox));
}

RawMidiPort::~RawMidiPort() {
    char byte = 1;
    ssize_t ignored = write(stopPipe_[1], &byte, 1);
    (void)ignored;
    reader_.join();
    closeIfOpen(stopPipe_[0]);
    closeIfOpen(stopPipe_[1]);
    close(device_);
}

void RawMidiPort::readUntilStopped(FrameInbox &inbox) {
    SysExSplitter splitter;
    uint8_t bytes[512];
    for (;;) {
        pollfd waits[2] = {{stopPipe_[0], POLLIN, 0}, {device_, POLLIN, 0}};
        if (poll(waits, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return fail(systemError("waiting for the device", errno), inbox);
        }
        if (waits[0].revents != 0) return;
        if ((waits[1].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0)
            return fail("the device " + inPortName_ + " is gone", inbox);
        ssize_t count = read(device_, bytes, sizeof bytes);
        if (count < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (count <= 0) return fail(systemError("reading " + inPortName_, count == 0 ? EIO : errno), inbox);
        TargetClock::time_point arrival = TargetClock::now();
        for (const device::Bytes &message : splitter.feed(bytes, static_cast<size_t>(count)))
            inbox.push(message.data(), message.size(), arrival);
    }
}

void RawMidiPort::fail(const std::string &why, FrameInbox &inbox) {
    {
        std::lock_guard<std::mutex> lock(failureMutex_);
        failure_ = why;
    }
    inbox.wake();
}

std::string RawMidiPort::failure() const {
    std::lock_guard<std::mutex> lock(failureMutex_);
    return failure_;
}

bool RawMidiPort::send(const device::Bytes &message) {
    size_t written = 0;
    while (written < message.size()) {
        ssize_t count = write(device_, message.data() + written, message.size() - written);
        if (count > 0) {
            written += static_cast<size_t>(count);
            continue;
        }
        if (count < 0 && errno == EINTR) continue;
        if (count < 0 && errno != EAGAIN) return false;
        pollfd wait = {device_, POLLOUT, 0};
        if (poll(&wait, 1, writeWaitMs) <= 0) return false;
    }
    return true;
}
