#include "virtual_box.h"

#include "protocol/wire_constants.h"

// The output port comes first, so that the box can answer as soon as its input
// port takes a message.
VirtualBox::VirtualBox(bool answersProtocol)
    : answers(answersProtocol), out(RtMidi::UNIX_JACK, "tw-smoke-box"), in(RtMidi::UNIX_JACK, "tw-smoke-box") {
    out.openVirtualPort("out");
    in.ignoreTypes(false, true, true);
    in.setCallback(onMessage, this);
    in.openVirtualPort("in");
}

void VirtualBox::send(const Bytes &message) { out.sendMessage(message.data(), message.size()); }

void VirtualBox::onMessage(double, std::vector<unsigned char> *message, void *user) {
    VirtualBox *box = static_cast<VirtualBox *>(user);
    {
        std::lock_guard<std::mutex> guard(box->lock);
        box->messages.push_back(*message);
    }
    box->arrived.notify_all();
    if (!box->answers || message->empty() || (*message)[0] != wire::sysExStart) return;
    bool handshake = message->size() == wire::handshakeLength + 2 && (*message)[1] == wire::handshakeMessage[0];
    box->send({wire::sysExStart, handshake ? wire::productCode : wire::codeAccepted, wire::sysExEnd});
}

bool VirtualBox::waitForMessages(size_t count, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> guard(lock);
    return arrived.wait_for(guard, limit, [&] { return messages.size() >= count; });
}

std::vector<Bytes> VirtualBox::received() {
    std::lock_guard<std::mutex> guard(lock);
    return messages;
}
