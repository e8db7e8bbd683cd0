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
    uint8_t window[4096];
};

int peek(TextCursor &cursor, uint32_t ahead) {
    if (cursor.pos + ahead >= cursor.length && cursor.file != nullptr) {
        uint32_t kept = cursor.length - cursor.pos;
        std::memmove(cursor.window, cursor.window + cursor.pos, kept);
        cursor.windowStart += cursor.pos;
        cursor.pos = 0;
        cursor.length =
            kept + static_cast<uint32_t>(std::fread(cursor.window + kept, 1, sizeof cursor.window - kept, cursor.file));
        if (std::ferror(cursor.file)) cursor.readFailed = true;
    }
    if (cursor.pos + ahead >= cursor.length) return -1;
    return cursor.data[cursor.pos + ahead];
}

uint32_t textOffset(const TextCursor &cursor) { return cursor.windowStart + cursor.pos; }

bool isWhiteSpace(int c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }

int hexValue(int c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

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

HexTextResult readNumbers(TextCursor &cursor, KitImage &image) {
    image.count = 0;
    uint8_t byte = 0;
    while (readNumber(cursor, byte)) {
        if (image.count == kitMaxBytes) return {HexTextEnd::tooLong, textOffset(cursor)};
        image.bytes[image.count++] = byte;
    }
    HexTextEnd end = peek(cursor, 0) < 0 ? HexTextEnd::endOfText : HexTextEnd::notHex;
    if (cursor.readFailed) end = HexTextEnd::readFailed;
    return {end, textOffset(cursor)};
}

}  // namespace

HexTextResult readHexText(const char *text, uint32_t length, KitImage &image) {
    TextCursor cursor;
    cursor.file = nullptr;
    cursor.data = reinterpret_cast<const uint8_t *>(text);
    cursor.length = length;
    cursor.pos = 0;
    cursor.windowStart = 0;
    cursor.readFailed = false;
    return readNumbers(cursor, image);
}

HexTextResult readHexFile(std::FILE *file, KitImage &image) {
    static TextCursor cursor;
    cursor.file = file;
    cursor.data = cursor.window;
    cursor.length = 0;
    cursor.pos = 0;
    cursor.windowStart = 0;
    cursor.readFailed = false;
    return readNumbers(cursor, image);
}
