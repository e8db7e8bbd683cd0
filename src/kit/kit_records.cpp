#include "kit/kit_records.h"

#include <cstdio>

RecordCheck checkRecord(const KitImage &image, uint16_t offset) {
    RecordCheck check = {RecordFault::none, 0, 0, 0};
    if (uint32_t(offset) + 2 > image.count) {
        check.fault = RecordFault::lengthCut;
        return check;
    }
    uint32_t n = uint32_t(image.bytes[offset]) * 256 + image.bytes[offset + 1];
    check.size = n + 2;
    if (n < 2) {
        check.fault = RecordFault::lengthTooSmall;
        return check;
    }
    if (uint32_t(offset) + check.size > image.count) {
        check.fault = RecordFault::runsPastEnd;
        return check;
    }
    uint16_t sum = 0;
    uint32_t checkAt = offset + n;
    for (uint32_t i = offset + 2u; i < checkAt; ++i) sum = static_cast<uint16_t>(sum + image.bytes[i]);
    check.checkWord = static_cast<uint16_t>(image.bytes[checkAt] + 256 * image.bytes[checkAt + 1]);
    check.sum = static_cast<uint16_t>(sum + check.checkWord);
    if (check.sum != 0) check.fault = RecordFault::badCheckWord;
    return check;
}

uint16_t recordSize(const KitImage &image, uint16_t offset) {
    return static_cast<uint16_t>(image.bytes[offset] * 256 + image.bytes[offset + 1] + 2);
}

int32_t firstBadRecord(const KitImage &image) {
    // Each sound record is at least 4 bytes and ends within count, so the
    // offset only grows and never wraps.
    uint32_t offset = 0;
    while (offset < image.count) {
        RecordCheck check = checkRecord(image, static_cast<uint16_t>(offset));
        if (check.fault != RecordFault::none) return static_cast<int32_t>(offset);
        offset += check.size;
    }
    return -1;
}

bool validateKit(const KitImage &image) {
    // A file that gives no bytes at all (empty, or text that is no kit) would
    // have the device greeted and success reported with nothing sent.
    if (image.count != 0 && firstBadRecord(image) < 0) return true;
    std::printf("Error: The upgrade file is error!\n\n");
    return false;
}
