#include "protocol/record_transfer.h"

#include <cstdio>

#include "kit/kit_records.h"
#include "midi/hex_encoding.h"
#include "midi/reply_mailbox.h"
#include "midi/sysex_sender.h"
#include "protocol/progress_line.h"
#include "base/wire_constants.h"

// A failure count at which the transfer gives up.
static const uint8_t failureLimit = 20;

// Sends one record as hex text, 23 kit bytes a frame, pacing the device with
// 10 ms after every frame. False when a frame could not be sent.
static bool sendRecord(const KitImage &image, uint16_t offset, uint16_t size) {
    char text[wire::maxFrameData];
    uint16_t remaining = size;
    while (remaining != 0) {
        uint16_t chunk = remaining >= wire::kitBytesPerFrame ? wire::kitBytesPerFrame : remaining;
        const uint8_t *bytes = image.bytes + offset + (size - remaining);
        for (uint16_t i = 0; i < chunk; ++i) byteToHex(bytes[i], text + 2 * i);
        if (sendSysEx(reinterpret_cast<const uint8_t *>(text), static_cast<uint16_t>(2 * chunk)) != 0) return false;
        remaining = static_cast<uint16_t>(remaining - chunk);
        Sleep(10);
    }
    return true;
}

// Up to `polls` sleeps of 10 ms, looking before each and once after the last;
// true with the verdict's code. A device slower than the greeting's wait
// answers every greeting it was sent, so the product code can still arrive
// now: it is no verdict, and taking it for one would put every later verdict
// one record behind.
static bool takeVerdict(uint16_t polls, uint8_t productCode, uint8_t &code) {
    for (;;) {
        if (replyPresent()) {
            code = takeReplyCode();
            if (code != productCode) return true;
        }
        if (polls == 0) return false;
        --polls;
        Sleep(10);
    }
}

static void printCodeMessage(uint8_t code) {
    switch (code) {
    case wire::codeCrcError: std::printf("\nThe CRC of the download file is error!\n"); break;
    case wire::codeDamaged:
    case wire::codeDamagedAlternate: std::printf("\nThe download file has been damaged!\n"); break;
    case wire::codeVerifyError: std::printf("\nThe download file verifies error!\n"); break;
    case wire::codeEraseError: std::printf("\nThe MCU erases error!\n"); break;
    default: break;
    }
}

static void printCompleted() { std::printf("\rTransferring.. 100%% done.  \n"); }

void transferKit(UpdateRun &run) {
    const KitImage &image = run.image;
    uint16_t offset = 0;
    while (offset < image.count) {
        uint16_t size = recordSize(image, offset);
        uint16_t percent = static_cast<uint16_t>(uint32_t(run.sent) * 100 / image.count);
        printProgress(run, percent);
        if (!sendRecord(image, offset, size)) {
            std::printf("\nError: The MIDI Out of device is missing!\n\n");
            return;
        }
        uint8_t code = 0;
        bool replied = takeVerdict(percent < 85 ? 50 : 200, run.productCode, code);
        if (replied && code == wire::codeAccepted) {
            run.sent = static_cast<uint16_t>(run.sent + size);
            run.failures = 0;
            offset = static_cast<uint16_t>(offset + size);
            continue;
        }
        if (++run.failures >= failureLimit) {
            std::printf(replied ? "\nError in updating.\n" : "\nFailed: Target is not responding.\n\n");
            return;
        }
        stepSpinnerBack(run);
        if (replied && code == wire::codeUpdateComplete) {
            printCompleted();
            std::printf("Target update successfully!\n");
            std::printf("\nThe System is restart, please wait!\n\n");
            return;
        }
        if (replied) printCodeMessage(code);
    }
    printCompleted();
    std::printf("Target update successfully!\n\n");
}
