// The updater's console texts, byte for byte, as the scenarios expect them.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace expected {

inline const std::string banner = "Quorlane Update V0.3 -> Tarnwick Box System\n";
inline std::string opened(const std::string &kitName) { return "OK: File '" + kitName + "' is open.\n"; }
inline std::string notFound(const std::string &kitName) { return "Error: File '" + kitName + "' is not found.\n\n"; }
inline const std::string noFitFile = "Error: The fit file is not found.\n\n";
inline const std::string badKit = "Error: The upgrade file is error!\n\n";

// Everything a run prints before the handshake, with the usual kit and ports.
inline const std::string inLine = "MIDI IN DEVICE: USB Device\r\n";
inline const std::string outLine = "MIDI OUT DEVICE: USB Device\r\n";
inline const std::string start = banner + opened("Tarnwick_Box.kit") + inLine + outLine;
inline const std::string pausePrompt = "Press any key to continue . . . ";
inline const std::string pause = pausePrompt + "\n";

inline const std::string done = "\rTransferring.. 100% done.  \n";
inline const std::string success = "Target update successfully!\n\n";
inline const std::string restarted = done + success + "The System is restart, please wait!\n\n";

inline const std::string inMissing = "Error: The MIDI In of device is missing!\n\n";
inline const std::string outMissing = "Error: The MIDI Out of device is missing!\n\n";
inline const std::string notResponding = "\nFailed: Target is not responding.\n\n";
inline const std::string resetting = "Please wait the system reset and retry again!\n\n";
inline const std::string notMatched = "Error: The device and the upgrade file is not matched!\n\n";

inline const std::string crcError = "\nThe CRC of the download file is error!\n";
inline const std::string damaged = "\nThe download file has been damaged!\n";
inline const std::string verifyError = "\nThe download file verifies error!\n";
inline const std::string eraseError = "\nThe MCU erases error!\n";
inline const std::string updateError = "\nError in updating.\n";
inline const std::string outMissingInTransfer = "\n" + outMissing;

// One redrawn progress line.
inline std::string line(char glyph, int percent) {
    return std::string("\r                        \rTransferring.. ") + glyph + " " + std::to_string(percent) +
           "% done";
}

inline std::string repeat(const std::string &text, int times) {
    std::string all;
    for (int i = 0; i < times; ++i) all += text;
    return all;
}

// The progress lines of records of these sizes, each accepted once the texts
// refusals[i] lists for record i have been printed after its line: a refused
// record is drawn again with the same glyph and share. The spinner turns
// through - - \ \ | | / / and the share is the acknowledged bytes before the
// record, rounded down.
inline std::string linesFor(const std::vector<uint16_t> &sizes,
                            std::map<size_t, std::vector<std::string>> refusals = {}) {
    static const char glyphs[] = "--\\\\||//";
    uint64_t total = 0, sent = 0;
    for (uint16_t size : sizes) total += size;
    std::string lines;
    for (size_t i = 0; i < sizes.size(); ++i) {
        std::string drawn = line(glyphs[i % 8], int(sent * 100 / total));
        for (const std::string &text : refusals[i]) lines += drawn + text;
        lines += drawn;
        sent += sizes[i];
    }
    return lines;
}

}  // namespace expected
