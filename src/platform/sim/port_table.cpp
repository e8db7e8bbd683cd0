#include "platform/sim/port_table.h"

#include <algorithm>
#include <cctype>

#include "platform/sim/host_lock.h"

namespace sim {

PortTable ports;

namespace {

// Letter case ignored, as the program passes over such ports.
bool isSystemName(const std::string &name) {
    static const char prefix[] = "microsoft";
    if (name.size() < sizeof prefix - 1) return false;
    for (size_t i = 0; i < sizeof prefix - 1; ++i)
        if (std::tolower(static_cast<unsigned char>(name[i])) != prefix[i]) return false;
    return true;
}

template <class Handle>
int portIndex(Handle *handle, Handle *table, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (handle == &table[i]) return int(i);
    return -1;
}

void closeAllInPorts() {
    for (HMIDIIN__ &port : ports.in) closeInPort(port);
}

void closeAllOutPorts() {
    for (HMIDIOUT__ &port : ports.out) port.open = false;
}

}  // namespace

void resetPorts() {
    ports.inputs.clear();
    ports.outputs.clear();
    ports.inCount = ports.outCount = 0;
    closeAllInPorts();
    closeAllOutPorts();
    ports.peer = nullptr;
    ports.stillPlayingReplies = 0;
    ports.stack = MidiStack::winmm;
    ports.inCounted = ports.outCounted = false;
    ports.frames.clear();
    ports.log.clear();
    ports.longDelivered = ports.shortDelivered = ports.dropped = 0;
}

int firstDevicePort(const std::vector<PortEntry> &entries) {
    for (size_t i = 0; i < entries.size(); ++i)
        if (!isSystemName(entries[i].name) && !entries[i].virtualPort) return int(i);
    return -1;
}

int openInIndex(HMIDIIN handle) {
    int i = portIndex(handle, ports.in, ports.inCount);
    return (i >= 0 && ports.in[i].open()) ? i : -1;
}

int openOutIndex(HMIDIOUT handle) {
    int i = portIndex(handle, ports.out, ports.outCount);
    return (i >= 0 && ports.out[i].open) ? i : -1;
}

void closeInPort(HMIDIIN__ &port) {
    port.buffers = std::nullopt;
    port.callback = nullptr;
    port.instance = 0;
}

void setInputPorts(const std::vector<PortEntry> &entries) {
    std::lock_guard<std::mutex> guard(hostLock);
    ports.inputs = entries;
    ports.inCount = std::min(entries.size(), maxOpenablePorts);
    closeAllInPorts();
}

void setOutputPorts(const std::vector<PortEntry> &entries) {
    std::lock_guard<std::mutex> guard(hostLock);
    ports.outputs = entries;
    ports.outCount = std::min(entries.size(), maxOpenablePorts);
    closeAllOutPorts();
}

void setSingleDevice(const std::string &name) {
    setInputPorts({{name, false}});
    setOutputPorts({{name, false}});
}

void attachPeer(Peer *peer) {
    std::lock_guard<std::mutex> guard(hostLock);
    ports.peer = peer;
}

void setMidiStack(MidiStack stack) {
    std::lock_guard<std::mutex> guard(hostLock);
    ports.stack = stack;
}

void setStillPlayingReplies(int count) {
    std::lock_guard<std::mutex> guard(hostLock);
    ports.stillPlayingReplies = count;
}

std::vector<SentFrame> sentFrames() {
    std::lock_guard<std::mutex> guard(hostLock);
    return ports.frames;
}

std::vector<std::string> portLog() {
    std::lock_guard<std::mutex> guard(hostLock);
    return ports.log;
}

int longDataDelivered() {
    std::lock_guard<std::mutex> guard(hostLock);
    return ports.longDelivered;
}

int shortDataDelivered() {
    std::lock_guard<std::mutex> guard(hostLock);
    return ports.shortDelivered;
}

int messagesDropped() {
    std::lock_guard<std::mutex> guard(hostLock);
    return ports.dropped;
}

}  // namespace sim
