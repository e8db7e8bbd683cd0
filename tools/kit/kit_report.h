#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "kit/hex_text_reader.h"
#include "kit/kit_image.h"
#include "kit/kit_records.h"
#include "kit_name.h"

// What the updater makes of a kit file, found with its own reader and record
// walk: the bytes it reads, where the reading stops, every record, the name.

struct RecordEntry {
    uint32_t offset;
    RecordCheck check;
};

struct KitReport {
    std::string path;
    std::string fileName;  // as the updater's directory search gives it
    KitNameFault nameFault;
    uint32_t textLength;  // characters in the file
    HexTextResult reading;
    int stopCharacter;       // the character at reading.stopAt when it is not hex, else -1
    bool hexPairsAfterStop;  // two hex digits side by side somewhere after reading.stopAt
    std::unique_ptr<KitImage> image;
    // In file order. A bad check word still tells where the next record
    // starts, so the list goes on past it; a broken length field ends it.
    std::vector<RecordEntry> records;
    int32_t firstBad;  // the updater's first bad record offset, -1 when none

    // The bytes and records pass the updater's loading and validation.
    bool contentAccepted() const {
        return reading.end != HexTextEnd::tooLong && reading.end != HexTextEnd::readFailed && image->count != 0 &&
               firstBad < 0;
    }
    // ... and the name too: the updater would send this kit.
    bool accepted() const { return contentAccepted() && nameFault == KitNameFault::none; }
};

// "1 record", "2 records": a count with its noun.
std::string counted(size_t count, const std::string &noun);

// Reads and walks the kit at path. Throws KitToolError when it cannot be read.
KitReport examineKit(const std::string &path);

// A record's fault in words ("its check word is ..."), for an unsound record.
std::string describeRecordFault(const RecordEntry &entry, const KitImage &image);

// The one-line verdict: "verdict: accepted (...)" or "verdict: rejected: ...".
std::string verdictLine(const KitReport &report);

// Every line of the report, the verdict last.
void printReport(const KitReport &report, std::ostream &out);
