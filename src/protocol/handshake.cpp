#include "protocol/handshake.h"

#include <cstdio>

#include "midi/reply_mailbox.h"
#include "midi/sysex_sender.h"
#include "base/wire_constants.h"

// Up to 100 sleeps of 1 ms; ends early at any message, even a one-byte one.
static void waitForHandshakeReply() {
    for (int polls = 0; polls < 100 && !messageWaiting(); ++polls) Sleep(1);
}

bool handshake(UpdateRun &run) {
    uint16_t attempts = 20;
    for (;;) {
        if (--attempts == 0) {
            std::printf("\nFailed: Target is not responding.\n\n");
            return false;
        }
        if (sendSysEx(wire::handshakeMessage, wire::handshakeLength) != 0) {
            std::printf("Error: The MIDI Out of device is missing!\n\n");
            return false;
        }
        waitForHandshakeReply();
        if (!replyPresent()) continue;
        uint8_t code = takeReplyCode();
        if (code == run.productCode) return true;
        if (code == wire::codeRestarting)
            std::printf("Please wait the system reset and retry again!\n\n");
        else
            std::printf("Error: The device and the upgrade file is not matched!\n\n");
        return false;
    }
}
