#include "midi/reply_mailbox.h"

ReplyMailbox mailbox;

bool replyPresent() { return mailbox.replyLength.load(std::memory_order_acquire) > 1; }

uint8_t takeReplyCode() {
    mailbox.replyLength.store(0, std::memory_order_relaxed);
    return mailbox.replyCode.load(std::memory_order_relaxed);
}

// A message longer than the buffer may come in several buffers (Windows 11's
// MIDI service does so); only the first begins with the start byte. A
// continuation holds data bytes, and one of them taken for a code could pass
// a refused record as accepted, so it leaves the mailbox as it was.
void postReply(uint16_t length) {
    if (length != 0 && mailbox.replyBuffer[0] != wire::sysExStart) return;
    if (length > 1) mailbox.replyCode.store(mailbox.replyBuffer[1], std::memory_order_relaxed);
    mailbox.replyLength.store(length, std::memory_order_release);
}

bool messageWaiting() { return mailbox.replyLength.load(std::memory_order_acquire) != 0; }
