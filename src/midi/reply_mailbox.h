#pragma once

#include <atomic>
#include <cstdint>

#include "base/wire_constants.h"

// The last SysEx message the device sent. The platform fills replyBuffer and
// the input handler then stores the code and, last, the length with release
// order; a taker loads the length with acquire order before it reads the code.
// The code is kept apart from the buffer because the buffer goes back to the
// platform at once and may be refilled while the main thread reads.
struct ReplyMailbox {
    std::atomic<uint16_t> replyLength;
    std::atomic<uint8_t> replyCode;
    uint8_t replyBuffer[wire::replyBufferSize];
};

extern ReplyMailbox mailbox;

// A reply is at least the start byte and a code.
bool replyPresent();
// Clears the mailbox and gives the reply's code; call only after replyPresent().
uint8_t takeReplyCode();
// Records a message the platform has put into replyBuffer; the rest of a
// message that did not fit into the buffer before is passed over.
void postReply(uint16_t length);
// Any message at all, even one too short to be a reply.
bool messageWaiting();
