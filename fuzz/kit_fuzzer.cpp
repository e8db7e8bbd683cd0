// Fuzzes the kit's text reader and its record walk with arbitrary file
// contents.
//
// What must hold for every input:
// - the reader never stores beyond the 65,535 bytes a kit may hold, keeps
//   count within them, and reports where it stopped inside the text;
// - reading the text from memory and from a file gives the same bytes, the
//   same end and the same stop offset;
// - the record walk ends, never reads a byte at or beyond count (the storage
//   after count is poisoned while it runs), and finds the same first bad
//   record as the record format read here straight from the bytes, with
//   recordSize giving each sound record's size.
//
// The file is read in blocks of 64 KiB. An input that begins with '~' (which
// ends a kit's text at once, so nothing is lost) puts the rest of it across a
// block's edge: white space fills the first block, and the second byte
// chooses where the rest begins, up to 48 characters either side of the edge.
//
// Such an input costs a hundred short ones, so the fuzzer is run with
// -entropic_scale_per_exec_time=1 to spend its time by cost. The reader stops
// at the limit of a kit only after some 131,000 characters of text; the unit
// tests read to the limit and past it, the fuzzer does not.
#include <sanitizer/asan_interface.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "kit/hex_text_reader.h"
#include "kit/kit_records.h"

namespace {

void require(bool holds, const char *what) {
    if (holds) return;
    std::fprintf(stderr, "kit fuzzer: %s\n", what);
    std::abort();
}

bool isWhiteSpace(char c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }

void poisonFrom(KitImage &image, uint32_t from) {
    ASAN_POISON_MEMORY_REGION(image.bytes + from, kitStorageSize - from);
}

void unpoison(KitImage &image) { ASAN_UNPOISON_MEMORY_REGION(image.bytes, kitStorageSize); }

void checkReading(const std::vector<char> &text, const HexTextResult &result, const KitImage &image) {
    require(image.count <= kitMaxBytes, "count beyond the limit of a kit");
    require(result.stopAt <= text.size(), "stop offset beyond the text");
    switch (result.end) {
    case HexTextEnd::endOfText: require(result.stopAt == text.size(), "end of text reported before the end"); break;
    case HexTextEnd::notHex:
        require(result.stopAt < text.size() && !isWhiteSpace(text[result.stopAt]),
                "stopped at white space or at the end, reported as another character");
        break;
    case HexTextEnd::tooLong: require(image.count == kitMaxBytes, "too long reported below the limit"); break;
    case HexTextEnd::readFailed: require(false, "a read failure reported for text in memory"); break;
    }
}

HexTextResult readThroughFile(std::vector<char> &text, KitImage &image) {
    // glibc takes a size of 0 as well: an empty text is read as a file too.
    std::FILE *file = fmemopen(text.data(), text.size(), "rb");
    require(file != nullptr, "fmemopen failed");
    HexTextResult result = readHexFile(file, image);
    std::fclose(file);
    return result;
}

// The record format read straight from the bytes, apart from checkRecord: a
// two-byte big-endian length N of at least 2, N - 2 payload bytes and a
// little-endian check word, N + 2 bytes within count, payload and check word
// summing to 0 modulo 65,536. The first record that breaks it, or -1.
int32_t firstBreakOfFormat(const KitImage &image) {
    const uint8_t *b = image.bytes;
    for (uint32_t at = 0; at < image.count;) {
        uint32_t left = image.count - at;
        if (left < 2) return static_cast<int32_t>(at);
        uint32_t total = (uint32_t(b[at]) << 8 | b[at + 1]) + 2;
        if (total < 4 || total > left) return static_cast<int32_t>(at);
        uint32_t sum = b[at + total - 2] | uint32_t(b[at + total - 1]) << 8;
        for (uint32_t i = at + 2; i < at + total - 2; ++i) sum += b[i];
        if (sum % 65536 != 0) return static_cast<int32_t>(at);
        require(recordSize(image, static_cast<uint16_t>(at)) == total, "recordSize disagrees with the length field");
        at += total;
    }
    return -1;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // validateKit prints its verdict; the fuzzer's own reports go to stderr.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // An exactly sized copy, so that a read past the text's end is caught.
    std::vector<char> text;
    if (size >= 2 && data[0] == '~') {
        // White space is the cheapest filler to read.
        text.assign(hexFileBlockSize - 48 + data[1] % 96, data[1] & 0x80 ? '\n' : ' ');
        text.insert(text.end(), data + 2, data + size);
    } else {
        text.assign(data, data + size);
    }
    text.shrink_to_fit();

    static KitImage &image = *new KitImage, &fromFile = *new KitImage;
    poisonFrom(image, kitMaxBytes);
    poisonFrom(fromFile, kitMaxBytes);
    HexTextResult result = readHexText(text.data(), static_cast<uint32_t>(text.size()), image);
    HexTextResult fileResult = readThroughFile(text, fromFile);
    unpoison(image);
    unpoison(fromFile);

    checkReading(text, result, image);
    require(fileResult.end == result.end, "file and memory end differently");
    require(fileResult.stopAt == result.stopAt, "file and memory stop at different offsets");
    require(fromFile.count == image.count, "file and memory read different counts");
    require(std::memcmp(fromFile.bytes, image.bytes, image.count) == 0, "file and memory read different bytes");

    poisonFrom(image, image.count);
    int32_t firstBad = firstBadRecord(image);
    bool passed = validateKit(image);
    int32_t broken = firstBreakOfFormat(image);
    unpoison(image);

    require(firstBad == broken, "firstBadRecord disagrees with the record format");
    // A kit without records is refused though no record in it is bad.
    require(passed == (firstBad < 0 && image.count != 0), "validateKit disagrees with firstBadRecord");
    require(firstBad < static_cast<int32_t>(image.count), "a bad record reported at or beyond count");
    return 0;
}
