#include "kit/kit_loader.h"

#include <cstdio>
#include <cstring>

#include "base/ascii_text.h"
#include "base/wire_constants.h"
#include "kit/hex_text_reader.h"
#include "platform/platform.h"

static void printNotFound(const char *fileName) { std::printf("Error: File '%s' is not found.\n\n", fileName); }

// Copies the found name, cut to fit; false when it had to be cut.
static bool takeFoundName(char (&fileName)[fileNameSize], WIN32_FIND_DATAA &found) {
    found.cFileName[MAX_PATH - 1] = '\0';
    size_t length = std::strlen(found.cFileName);
    bool fits = length < sizeof fileName;
    if (!fits) length = sizeof fileName - 1;
    std::memcpy(fileName, found.cFileName, length);
    fileName[length] = '\0';
    return fits;
}

bool loadKit(char (&fileName)[fileNameSize], uint8_t &productCode, KitImage &image) {
    std::strcpy(fileName, "*.kit");
    WIN32_FIND_DATAA found;
    std::memset(&found, 0, sizeof found);
    HANDLE search = FindFirstFileA(fileName, &found);
    if (search == INVALID_HANDLE_VALUE) {
        printNotFound(fileName);
        return false;
    }
    FindClose(search);
    bool nameFits = takeFoundName(fileName, found);

    if (!startsWithIgnoringCase(fileName, productTag)) {
        productCode = 0;
        std::printf("Error: The fit file is not found.\n\n");
        return false;
    }
    productCode = wire::productCode;

    // A cut name might open some other file, so it is never opened. A folder
    // is found like a file but is none: it is not opened either, though some
    // systems would open it and then fail to read it.
    bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    std::FILE *file = nameFits && !isFolder ? std::fopen(fileName, "rb") : nullptr;
    if (file == nullptr) {
        printNotFound(fileName);
        return false;
    }
    std::printf("OK: File '%s' is open.\n", fileName);
    HexTextResult result = readHexFile(file, image);
    std::fclose(file);
    // A kit cut down to what the count can hold, or to what could be read,
    // must never reach a device.
    if (result.end == HexTextEnd::tooLong || result.end == HexTextEnd::readFailed) {
        std::printf("Error: The upgrade file is error!\n\n");
        return false;
    }
    return true;
}
