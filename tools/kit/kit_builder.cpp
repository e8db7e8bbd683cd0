#include "kit_builder.h"

#include "kit/kit_records.h"
#include "kit_tool_error.h"

void requirePayloadSize(long long payloadSize) {
    if (payloadSize >= 1 && payloadSize <= static_cast<long long>(maxPayloadSize)) return;
    throw KitToolError("payload size " + std::to_string(payloadSize) + " does not fit a record: it must be 1 to " +
                       std::to_string(maxPayloadSize) + " bytes");
}

uint16_t checkWordFor(const uint8_t *payload, size_t size) {
    uint16_t sum = 0;
    for (size_t i = 0; i < size; ++i) sum = static_cast<uint16_t>(sum + payload[i]);
    return static_cast<uint16_t>(0u - sum);
}

size_t kitSizeFor(size_t firmwareSize, size_t payloadSize) {
    size_t records = (firmwareSize + payloadSize - 1) / payloadSize;
    return firmwareSize + 4 * records;
}

size_t largestFirmwareFor(size_t payloadSize) {
    size_t wholeRecords = kitMaxBytes / (payloadSize + 4);
    size_t left = kitMaxBytes - wholeRecords * (payloadSize + 4);
    // What is left after the whole records holds one short record, if it
    // has room for a payload byte beside the 4 bytes of framing.
    return wholeRecords * payloadSize + (left > 4 ? left - 4 : 0);
}

std::vector<uint8_t> buildRecords(const std::vector<uint8_t> &firmware, size_t payloadSize) {
    requirePayloadSize(static_cast<long long>(payloadSize));
    size_t kitSize = kitSizeFor(firmware.size(), payloadSize);
    if (kitSize > kitMaxBytes) {
        throw KitToolError("the kit would be " + std::to_string(kitSize) + " bytes; a kit holds at most " +
                           std::to_string(kitMaxBytes) + " (with " + std::to_string(payloadSize) +
                           "-byte payloads, firmware of at most " + std::to_string(largestFirmwareFor(payloadSize)) +
                           " bytes)");
    }
    std::vector<uint8_t> kit;
    kit.reserve(kitSize);
    for (size_t at = 0; at < firmware.size(); at += payloadSize) {
        size_t size = firmware.size() - at < payloadSize ? firmware.size() - at : payloadSize;
        const uint8_t *payload = firmware.data() + at;
        size_t lengthField = size + 2;
        uint16_t checkWord = checkWordFor(payload, size);
        kit.push_back(static_cast<uint8_t>(lengthField >> 8));
        kit.push_back(static_cast<uint8_t>(lengthField & 0xFF));
        kit.insert(kit.end(), payload, payload + size);
        kit.push_back(static_cast<uint8_t>(checkWord & 0xFF));
        kit.push_back(static_cast<uint8_t>(checkWord >> 8));
    }
    return kit;
}

std::string formatHexText(const std::vector<uint8_t> &kit) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(kit.size() * 3 + kit.size() / hexPairsPerLine * 2 + 2);
    for (size_t i = 0; i < kit.size(); ++i) {
        bool lineEnds = (i + 1) % hexPairsPerLine == 0 || i + 1 == kit.size();
        text += digits[kit[i] >> 4];
        text += digits[kit[i] & 0x0F];
        text += lineEnds ? "\r\n" : " ";
    }
    return text;
}

std::vector<uint8_t> joinPayloads(const KitImage &image) {
    std::vector<uint8_t> firmware;
    uint32_t offset = 0;
    while (offset < image.count) {
        RecordCheck check = checkRecord(image, static_cast<uint16_t>(offset));
        if (check.fault != RecordFault::none) {
            throw KitToolError("the record at offset " + std::to_string(offset) + " is not sound");
        }
        firmware.insert(firmware.end(), image.bytes + offset + 2, image.bytes + offset + check.size - 2);
        offset += check.size;
    }
    return firmware;
}
