#include "midi/reply_mailbox.h"

ReplyMailbox mailbox;

bool replyPresent() { return mailbox.replyLength.load(std::memory_order_acquire) > 1; }

uint8_t takeReplyCode() {
    mailbox.replyLength.store(0, std::memory_order_relaxed);
    return mailbox.replyCode.load(std::memory_order_relaxed);
}

void postReply(uint16_t length) {
    if (length > 1) mailbox.replyCode.store(mailbox.replyBuffer[1], std::memory_order_relaxed);
    mailbox.replyLength.store(length, std::memory_order_release);
}

bool messageWaiting() { return mailbox.replyLength.load(std::memory_order_acquire) != 0; }
