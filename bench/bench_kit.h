// Kits for the benchmarks, built here so that the figures do not depend on
// any tool: records of a fixed payload size with a shorter last record, and
// their text in the usual layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// The largest kit a 16-bit count can hold.
constexpr size_t largestKitBytes = 65535;
// Payload per record, so T = 260 bytes on the wire.
constexpr size_t benchPayloadBytes = 256;

// Sound records of payloadBytes each, the last one shorter, totalling exactly
// totalBytes; payloads are a fixed pseudo-random sequence.
std::vector<uint8_t> buildKit(size_t totalBytes, size_t payloadBytes);

// Upper-case hex pairs separated by spaces, 16 to a line, lines ended by CR LF.
std::string kitText(const std::vector<uint8_t> &kit);

// T of each record in order, by the records' length fields.
std::vector<size_t> recordSizes(const std::vector<uint8_t> &kit);

// Frames the updater sends for one record, ceil(T / 23), and for the kit.
uint32_t framesForRecord(size_t size);
uint32_t framesFor(const std::vector<uint8_t> &kit);

// A fresh folder under the system's temporary folder; removeFolder deletes
// it with everything in it.
std::string makeTempFolder(const char *tag);
void removeFolder(const std::string &path);
bool writeFile(const std::string &path, const std::string &text);

}  // namespace bench
