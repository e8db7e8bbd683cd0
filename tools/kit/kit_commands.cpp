#include "kit_commands.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "kit/hex_text_reader.h"
#include "kit/kit_records.h"
#include "kit_builder.h"
#include "kit_files.h"
#include "kit_name.h"
#include "kit_report.h"
#include "kit_tool_error.h"

namespace {

const char *const toolName = "tarnwick-kit: ";

void refuseName(const std::string &kitPath) {
    std::string fileName = fileNameOf(kitPath);
    KitNameFault fault = checkKitName(fileName);
    if (fault == KitNameFault::none) return;
    throw KitToolError("the updater would not take a kit named '" + fileName + "': " + describeNameFault(fault) +
                       " (--any-name writes it all the same)");
}

// Reads the text back as the updater will and walks its records, so that a
// kit the updater would refuse is never written.
void checkAsUpdater(const std::string &text, const std::vector<uint8_t> &kit) {
    std::unique_ptr<KitImage> image(new KitImage);
    HexTextResult reading = readHexText(text.data(), static_cast<uint32_t>(text.size()), *image);
    bool same = reading.end == HexTextEnd::endOfText && image->count == kit.size() &&
                std::equal(kit.begin(), kit.end(), image->bytes);
    if (!same || firstBadRecord(*image) >= 0) throw KitToolError("internal error: the kit text does not read back");
}

int build(const BuildOptions &options, std::ostream &out, std::ostream &err) {
    if (!options.anyName) refuseName(options.kitPath);
    requirePayloadSize(options.payloadSize);
    size_t payloadSize = static_cast<size_t>(options.payloadSize);
    std::vector<uint8_t> firmware = readWholeFile(options.firmwarePath);
    if (firmware.empty()) {
        throw KitToolError("'" + options.firmwarePath +
                           "' is empty: the kit would hold no records, and the updater refuses such a kit");
    }
    std::vector<uint8_t> kit = buildRecords(firmware, payloadSize);
    std::string text = formatHexText(kit);
    checkAsUpdater(text, kit);
    writeWholeFile(options.kitPath, text);

    if (options.anyName) {
        KitNameFault fault = checkKitName(fileNameOf(options.kitPath));
        if (fault != KitNameFault::none) {
            err << toolName << "warning: the updater will not take this kit by its name: " << describeNameFault(fault)
                << "\n";
        }
    }
    size_t records = (firmware.size() + payloadSize - 1) / payloadSize;
    size_t last = firmware.size() - (records - 1) * payloadSize;
    out << options.kitPath << ": " << counted(records, "record") << " of " << counted(payloadSize, "payload byte");
    if (last != payloadSize) out << " (the last " << last << ")";
    out << ", " << counted(kit.size(), "kit byte") << ", " << counted(text.size(), "character") << "\n";
    return exitSuccess;
}

int extract(const std::string &kitPath, const std::string &firmwarePath, std::ostream &out, std::ostream &err) {
    KitReport report = examineKit(kitPath);
    if (report.reading.end == HexTextEnd::tooLong) {
        throw KitToolError("refusing to extract '" + kitPath + "': it holds more than " + std::to_string(kitMaxBytes) +
                           " bytes");
    }
    if (report.image->count == 0) throw KitToolError("refusing to extract '" + kitPath + "': it holds no records");
    if (report.firstBad >= 0) {
        uint32_t offset = static_cast<uint32_t>(report.firstBad);
        RecordEntry entry = {offset, checkRecord(*report.image, static_cast<uint16_t>(offset))};
        throw KitToolError("refusing to extract '" + kitPath + "': the record at offset " + std::to_string(offset) +
                           " is not sound: " + describeRecordFault(entry, *report.image));
    }
    // The payloads do not depend on the name, so a renamed kit still unpacks.
    if (report.nameFault != KitNameFault::none) {
        err << toolName
            << "warning: the updater will not take this kit by its name: " << describeNameFault(report.nameFault)
            << "\n";
    }
    if (report.reading.end == HexTextEnd::notHex) {
        err << toolName << "note: reading stopped at offset " << report.reading.stopAt
            << "; the text from there on is not part of the kit\n";
    }
    std::vector<uint8_t> firmware = joinPayloads(*report.image);
    writeWholeFile(firmwarePath, firmware);
    out << firmwarePath << ": " << counted(firmware.size(), "byte") << " from "
        << counted(report.records.size(), "record") << "\n";
    return exitSuccess;
}

// Reading stops at the first character that cannot begin a number, and a
// stored kit may end in text that is no kit (a Ctrl-Z, a comment); digits
// after that point may as well be the rest of a kit that was damaged there.
void warnOfUnreadDigits(const KitReport &report, std::ostream &err) {
    if (report.reading.end != HexTextEnd::notHex || !report.hexPairsAfterStop) return;
    err << toolName << "warning: reading stopped at offset " << report.reading.stopAt << "; "
        << counted(report.textLength - report.reading.stopAt, "character")
        << " after it were not read: if the kit goes on there, it is damaged\n";
}

// Runs a command, turning a refusal into its message and a failure status.
// Results that did not reach standard output (a full disk, say) fail the
// command too.
template <typename Command>
int guarded(std::ostream &out, std::ostream &err, Command command) {
    int status = exitFailure;
    try {
        status = command();
    } catch (const KitToolError &e) {
        err << toolName << "error: " << e.what() << "\n";
    } catch (const std::bad_alloc &) {
        err << toolName << "error: out of memory\n";
    }
    errno = 0;
    if (!out.flush()) {
        int error = errno;
        err << toolName << "error: cannot write to standard output" << (error != 0 ? ": " : "")
            << (error != 0 ? std::strerror(error) : "") << "\n";
        return exitFailure;
    }
    return status;
}

}  // namespace

int runBuild(const BuildOptions &options, std::ostream &out, std::ostream &err) {
    return guarded(out, err, [&] { return build(options, out, err); });
}

int runCheck(const std::string &kitPath, bool quiet, std::ostream &out, std::ostream &err) {
    return guarded(out, err, [&] {
        KitReport report = examineKit(kitPath);
        if (quiet) {
            out << verdictLine(report) << "\n";
        } else {
            printReport(report, out);
        }
        warnOfUnreadDigits(report, err);
        return report.accepted() ? exitSuccess : exitFailure;
    });
}

int runExtract(const std::string &kitPath, const std::string &firmwarePath, std::ostream &out, std::ostream &err) {
    return guarded(out, err, [&] { return extract(kitPath, firmwarePath, out, err); });
}
