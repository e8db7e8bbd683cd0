#include "kit_report.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "kit_files.h"
#include "kit_tool_error.h"

namespace {

// The updater refuses such a kit: it would report an update that sent nothing.
const char *const noRecords = "the kit holds no records";

std::string hex(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

std::string describeCharacter(int c) {
    std::string text = hex(static_cast<unsigned>(c), 2);
    if (c > 0x20 && c < 0x7F) text += std::string(" '") + static_cast<char>(c) + "'";
    return text;
}

bool isHexDigit(int c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

// Whether two hex digits stand side by side anywhere from here to the end.
bool holdsHexPair(std::FILE *file) {
    bool afterDigit = false;
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
        if (isHexDigit(c) && afterDigit) return true;
        afterDigit = isHexDigit(c);
    }
    return false;
}

void walkRecords(KitReport &report) {
    const KitImage &image = *report.image;
    uint32_t offset = 0;
    while (offset < image.count) {
        RecordCheck check = checkRecord(image, static_cast<uint16_t>(offset));
        report.records.push_back({offset, check});
        if (check.fault != RecordFault::none && check.fault != RecordFault::badCheckWord) break;
        offset += check.size;
    }
    report.firstBad = firstBadRecord(image);
}

std::string readingLine(const KitReport &report) {
    const HexTextResult &reading = report.reading;
    size_t count = report.image->count;
    switch (reading.end) {
    case HexTextEnd::endOfText:
        return "read: " + counted(count, "byte") + " from " + counted(report.textLength, "character") +
               ", up to the end of the file";
    case HexTextEnd::notHex:
        return "read: " + counted(count, "byte") + "; reading stopped at offset " + std::to_string(reading.stopAt) +
               " on character " + describeCharacter(report.stopCharacter) + ", which does not begin a hex number; " +
               counted(report.textLength - reading.stopAt, "character") + " from there on ignored";
    case HexTextEnd::tooLong:
        return "read: more than " + std::to_string(kitMaxBytes) + " bytes; reading stopped at offset " +
               std::to_string(reading.stopAt) + ", over the limit a kit may hold";
    case HexTextEnd::readFailed:
        return "read: " + counted(count, "byte") + "; the file could not be read beyond offset " +
               std::to_string(reading.stopAt);
    }
    return "";
}

std::string recordLine(size_t number, const RecordEntry &entry, const KitImage &image) {
    const RecordCheck &check = entry.check;
    std::string line = "record " + std::to_string(number) + ": offset " + std::to_string(entry.offset);
    bool whole = check.fault == RecordFault::none || check.fault == RecordFault::badCheckWord;
    if (whole) line += ", size " + std::to_string(check.size) + ", check word " + hex(check.checkWord, 4);
    if (check.fault == RecordFault::none) return line + ", sound";
    return line + ", NOT sound: " + describeRecordFault(entry, image);
}

size_t recordNumberAt(const KitReport &report, uint32_t offset) {
    for (size_t i = 0; i < report.records.size(); ++i) {
        if (report.records[i].offset == offset) return i + 1;
    }
    return 0;
}

}  // namespace

std::string counted(size_t count, const std::string &noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

KitReport examineKit(const std::string &path) {
    KitReport report;
    report.path = path;
    report.fileName = fileNameOf(path);
    report.nameFault = checkKitName(report.fileName);
    report.image.reset(new KitImage);
    report.stopCharacter = -1;
    report.hexPairsAfterStop = false;

    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) throw KitToolError("cannot read '" + path + "': " + std::strerror(errno));
    report.reading = readHexFile(file, *report.image);
    // A directory opens but does not read; the tool cannot report on it.
    bool failed = report.reading.end == HexTextEnd::readFailed || std::ferror(file) != 0;
    int error = errno;
    if (!failed && report.reading.end == HexTextEnd::notHex && std::fseek(file, report.reading.stopAt, SEEK_SET) == 0) {
        report.stopCharacter = std::fgetc(file);
        report.hexPairsAfterStop = holdsHexPair(file);
        failed = std::ferror(file) != 0;
        error = errno;
    }
    long length = !failed && std::fseek(file, 0, SEEK_END) == 0 ? std::ftell(file) : -1;
    std::fclose(file);
    if (failed || length < 0) throw KitToolError("cannot read '" + path + "': " + std::strerror(error));
    report.textLength = static_cast<uint32_t>(length);

    walkRecords(report);
    return report;
}

std::string describeRecordFault(const RecordEntry &entry, const KitImage &image) {
    const RecordCheck &check = entry.check;
    switch (check.fault) {
    case RecordFault::none: return "sound";
    case RecordFault::lengthCut:
        return "its length field is cut off by the end of the kit (" + counted(image.count - entry.offset, "byte") +
               " left)";
    case RecordFault::lengthTooSmall:
        return "its length field " + hex(check.size - 2, 4) + " is below 2, leaving no room for the check word";
    case RecordFault::runsPastEnd:
        return "its " + counted(check.size, "byte") + " run " +
               counted(entry.offset + check.size - image.count, "byte") + " past the end of the kit";
    case RecordFault::badCheckWord: {
        uint16_t payloadSum = static_cast<uint16_t>(check.sum - check.checkWord);
        return "its check word is " + hex(check.checkWord, 4) + " but its payload sum " + hex(payloadSum, 4) +
               " needs " + hex(static_cast<uint16_t>(0u - payloadSum), 4);
    }
    }
    return "";
}

std::string verdictLine(const KitReport &report) {
    if (report.accepted()) {
        return "verdict: accepted (" + counted(report.records.size(), "record") + ", " +
               counted(report.image->count, "byte") + ")";
    }
    std::string reasons;
    auto add = [&reasons](const std::string &reason) { reasons += (reasons.empty() ? "" : "; ") + reason; };
    if (report.reading.end == HexTextEnd::tooLong) add("more than " + std::to_string(kitMaxBytes) + " bytes");
    if (report.reading.end == HexTextEnd::readFailed) add("the file could not be read to its end");
    if (report.image->count == 0) add(noRecords);
    if (report.firstBad >= 0) add("the record at offset " + std::to_string(report.firstBad) + " is not sound");
    if (report.nameFault != KitNameFault::none) add("the name is refused");
    return "verdict: rejected: " + reasons;
}

void printReport(const KitReport &report, std::ostream &out) {
    const KitImage &image = *report.image;
    out << "kit: " << report.path << " (" << counted(report.textLength, "character") << ")\n";
    out << readingLine(report) << "\n";
    for (size_t i = 0; i < report.records.size(); ++i) out << recordLine(i + 1, report.records[i], image) << "\n";
    // In the updater's order: the size is refused before any record is walked.
    if (report.reading.end == HexTextEnd::tooLong) {
        out << "first fault: the kit holds more than " << kitMaxBytes
            << " bytes; the updater refuses it before looking at its records\n";
    } else if (image.count == 0) {
        out << "first fault: " << noRecords << "\n";
    } else if (report.firstBad < 0) {
        out << "first fault: none\n";
    } else {
        uint32_t offset = static_cast<uint32_t>(report.firstBad);
        RecordEntry entry = {offset, checkRecord(image, static_cast<uint16_t>(offset))};
        out << "first fault: record " << recordNumberAt(report, offset) << " at offset " << offset << ": "
            << describeRecordFault(entry, image) << "\n";
    }
    out << "name: " << report.fileName << ": ";
    if (report.nameFault == KitNameFault::none) {
        out << describeNameFault(report.nameFault) << "\n";
    } else {
        out << "refused: " << describeNameFault(report.nameFault) << "\n";
    }
    out << verdictLine(report) << "\n";
}
