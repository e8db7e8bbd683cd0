#include "bench_kit.h"

#include <ftw.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>

#include "protocol/wire_constants.h"

namespace bench {

namespace {

void appendRecord(std::vector<uint8_t> &kit, size_t payloadBytes, uint32_t &seed) {
    size_t n = payloadBytes + 2;
    kit.push_back(uint8_t(n >> 8));
    kit.push_back(uint8_t(n & 0xFF));
    uint16_t sum = 0;
    for (size_t i = 0; i < payloadBytes; ++i) {
        seed = seed * 1103515245u + 12345u;
        uint8_t byte = uint8_t(seed >> 16);
        kit.push_back(byte);
        sum = uint16_t(sum + byte);
    }
    uint16_t check = uint16_t(0u - sum);
    kit.push_back(uint8_t(check & 0xFF));
    kit.push_back(uint8_t(check >> 8));
}

int removeEntry(const char *path, const struct stat *, int, FTW *) { return std::remove(path); }

}  // namespace

std::vector<uint8_t> buildKit(size_t totalBytes, size_t payloadBytes) {
    std::vector<uint8_t> kit;
    uint32_t seed = 1;
    const size_t recordBytes = payloadBytes + 4;
    while (totalBytes - kit.size() >= recordBytes) appendRecord(kit, payloadBytes, seed);
    // A record needs 4 bytes besides its payload; a remainder below that
    // cannot be a record, so the last full record gives up room for it.
    size_t left = totalBytes - kit.size();
    if (left != 0 && left < 4 && !kit.empty()) {
        kit.resize(kit.size() - recordBytes);
        left += recordBytes;
        appendRecord(kit, left - 4 - 4, seed);
        left = 4;
    }
    if (left != 0) appendRecord(kit, left - 4, seed);
    return kit;
}

std::string kitText(const std::vector<uint8_t> &kit) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(kit.size() * 3 + kit.size() / 16 * 2 + 2);
    for (size_t i = 0; i < kit.size(); ++i) {
        text += digits[kit[i] >> 4];
        text += digits[kit[i] & 0x0F];
        bool lineEnd = i % 16 == 15 || i + 1 == kit.size();
        text += lineEnd ? "\r\n" : " ";
    }
    return text;
}

std::vector<size_t> recordSizes(const std::vector<uint8_t> &kit) {
    std::vector<size_t> sizes;
    for (size_t offset = 0; offset + 1 < kit.size(); offset += sizes.back())
        sizes.push_back((size_t(kit[offset]) << 8 | kit[offset + 1]) + 2);
    return sizes;
}

uint32_t framesForRecord(size_t size) { return uint32_t((size + wire::kitBytesPerFrame - 1) / wire::kitBytesPerFrame); }

uint32_t framesFor(const std::vector<uint8_t> &kit) {
    uint32_t frames = 0;
    for (size_t size : recordSizes(kit)) frames += framesForRecord(size);
    return frames;
}

std::string makeTempFolder(const char *tag) {
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/" + tag + "-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) == nullptr) return std::string();
    return std::string(name.data());
}

void removeFolder(const std::string &path) {
    if (!path.empty()) nftw(path.c_str(), removeEntry, 8, FTW_DEPTH | FTW_PHYS);
}

bool writeFile(const std::string &path, const std::string &text) {
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && written;
}

}  // namespace bench
