#include "kit/hex_text_reader.h"

#include <cstring>

namespace {

// A window over the text, from memory or from a file read in blocks; it keeps
// a few characters of look-ahead for the "0x" prefix.
struct TextCursor {
    std::FILE *file;
    const uint8_t *data;
    uint32_t length;
    uint32_t pos;
    uint32_t windowStart;  // text offset of data[0]
    bool readFailed;
    uint8_t *window;  // the file's block buffer
    uint32_t windowSize;
};

void refill(TextCursor &cursor) {
    uint32_t kept = cursor.length - cursor.pos;
    std::memmove(cursor.window, cursor.window + cursor.pos, kept);
    cursor.windowStart += cursor.pos;
    cursor.pos = 0;
    cursor.length =
        kept + static_cast<uint32_t>(std::fread(cursor.window + kept, 1, cursor.windowSize - kept, cursor.file));
    if (std::ferror(cursor.file)) cursor.readFailed = true;
}

int peek(TextCursor &cursor, uint32_t ahead) {
    if (cursor.pos + ahead >= cursor.length && cursor.file != nullptr) refill(cursor);
    if (cursor.pos + ahead >= cursor.length) return -1;
    return cursor.data[cursor.pos + ahead];
}

uint32_t textOffset(const TextCursor &cursor) { return cursor.windowStart + cursor.pos; }

// Each character's hex value, or one of two classes.
constexpr uint8_t whiteSpace = 16;
constexpr uint8_t notDigit = 17;

struct CharClasses {
    uint8_t of[256];
};

constexpr CharClasses makeCharClasses() {
    CharClasses classes = {};
    for (int c = 0; c < 256; ++c) {
        uint8_t k = notDigit;
        if (c >= '0' && c <= '9') k = static_cast<uint8_t>(c - '0');
        if (c >= 'A' && c <= 'F') k = static_cast<uint8_t>(c - 'A' + 10);
        if (c >= 'a' && c <= 'f') k = static_cast<uint8_t>(c - 'a' + 10);
        if (c == ' ' || (c >= 0x09 && c <= 0x0D)) k = whiteSpace;
        classes.of[c] = k;
    }
    return classes;
}

constexpr CharClasses charClasses = makeCharClasses();

bool isWhiteSpace(int c) { return c >= 0 && charClasses.of[c] == whiteSpace; }

int hexValue(int c) { return (c >= 0 && charClasses.of[c] < 16) ? charClasses.of[c] : -1; }

// One "%2X" conversion. False, with nothing consumed but white space, when
// the text does not begin a number here.
bool readNumber(TextCursor &cursor, uint8_t &byte) {
    while (isWhiteSpace(peek(cursor, 0))) cursor.pos++;
    uint32_t at = 0;
    int digitsAllowed = 2;
    bool negative = false;
    int first = peek(cursor, 0);
    if (first == '+' || first == '-') {
        negative = first == '-';
        digitsAllowed = 1;
        at = 1;
    }
    int x = peek(cursor, at + 1);
    if (peek(cursor, at) == '0' && (x == 'x' || x == 'X') && hexValue(peek(cursor, at + 2)) >= 0) at += 2;
    unsigned value = 0;
    int digits = 0;
    for (; digits < digitsAllowed; ++digits, ++at) {
        int digit = hexValue(peek(cursor, at));
        if (digit < 0) break;
        value = value * 16 + static_cast<unsigned>(digit);
    }
    if (digits == 0) return false;
    cursor.pos += at;
    byte = static_cast<uint8_t>(negative ? 0u - value : value);
    return true;
}

// The usual text, a digit or two with no "0x" in front, is taken straight
// from the window; everything else goes through readNumber.
bool readPlainNumber(TextCursor &cursor, uint8_t &byte) {
    if (cursor.pos + 3 >= cursor.length) return false;
    const uint8_t *at = cursor.data + cursor.pos;
    uint8_t high = charClasses.of[at[0]];
    if (high >= 16 || (at[0] == '0' && (at[1] | 0x20) == 'x')) return false;
    uint8_t low = charClasses.of[at[1]];
    if (low < 16) {
        byte = static_cast<uint8_t>(high * 16 + low);
        cursor.pos += 2;
    } else {
        byte = high;
        cursor.pos += 1;
    }
    return true;
}

HexTextResult readNumbers(TextCursor &cursor, KitImage &image) {
    image.count = 0;
    for (;;) {
        while (cursor.pos < cursor.length && charClasses.of[cursor.data[cursor.pos]] == whiteSpace) cursor.pos++;
        uint8_t byte = 0;
        if (!readPlainNumber(cursor, byte) && !readNumber(cursor, byte)) break;
        if (image.count == kitMaxBytes) return {HexTextEnd::tooLong, textOffset(cursor)};
        image.bytes[image.count++] = byte;
    }
    HexTextEnd end = peek(cursor, 0) < 0 ? HexTextEnd::endOfText : HexTextEnd::notHex;
    if (cursor.readFailed) end = HexTextEnd::readFailed;
    return {end, textOffset(cursor)};
}

}  // namespace

HexTextResult readHexText(const char *text, uint32_t length, KitImage &image) {
    TextCursor cursor = {};
    cursor.data = reinterpret_cast<const uint8_t *>(text);
    cursor.length = length;
    return readNumbers(cursor, image);
}

HexTextResult readHexFile(std::FILE *file, KitImage &image) {
    static uint8_t window[hexFileBlockSize];
    TextCursor cursor = {};
    cursor.file = file;
    cursor.data = window;
    cursor.window = window;
    cursor.windowSize = sizeof window;
    return readNumbers(cursor, image);
}
