#include "kit/kit_loader.h"

#include <cstdio>
#include <cstring>

#include "kit/hex_text_reader.h"
#include "platform/platform.h"
#include "protocol/wire_constants.h"
#include "run/ascii_text.h"

static void printNotFound(const UpdateRun &run) { std::printf("Error: File '%s' is not found.\n\n", run.fileName); }

// Copies the found name, cut to fit; false when it had to be cut.
static bool takeFoundName(UpdateRun &run, WIN32_FIND_DATAA &found) {
    found.cFileName[MAX_PATH - 1] = '\0';
    size_t length = std::strlen(found.cFileName);
    bool fits = length < sizeof run.fileName;
    if (!fits) length = sizeof run.fileName - 1;
    std::memcpy(run.fileName, found.cFileName, length);
    run.fileName[length] = '\0';
    return fits;
}

bool loadKit(UpdateRun &run) {
    std::strcpy(run.fileName, "*.kit");
    WIN32_FIND_DATAA found;
    std::memset(&found, 0, sizeof found);
    HANDLE search = FindFirstFileA(run.fileName, &found);
    if (search == INVALID_HANDLE_VALUE) {
        printNotFound(run);
        return false;
    }
    FindClose(search);
    bool nameFits = takeFoundName(run, found);

    if (!startsWithIgnoringCase(run.fileName, productTag)) {
        run.productCode = 0;
        std::printf("Error: The fit file is not found.\n\n");
        return false;
    }
    run.productCode = wire::productCode;

    // A cut name might open some other file, so it is never opened. A folder
    // is found like a file but is none: it is not opened either, though some
    // systems would open it and then fail to read it.
    bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    std::FILE *file = nameFits && !isFolder ? std::fopen(run.fileName, "rb") : nullptr;
    if (file == nullptr) {
        printNotFound(run);
        return false;
    }
    std::printf("OK: File '%s' is open.\n", run.fileName);
    HexTextResult result = readHexFile(file, run.image);
    std::fclose(file);
    // A kit cut down to what the count can hold, or to what could be read,
    // must never reach a device.
    if (result.end == HexTextEnd::tooLong || result.end == HexTextEnd::readFailed) {
        std::printf("Error: The upgrade file is error!\n\n");
        return false;
    }
    return true;
}
