#include "kit_files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "kit_tool_error.h"

namespace {

std::string failure(const std::string &doing, const std::string &path, int error) {
    return "cannot " + doing + " '" + path + "': " + std::strerror(error);
}

void writeBytes(const std::string &path, const void *data, size_t size) {
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) throw KitToolError(failure("write", path, errno));
    bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
    int error = errno;
    if (std::fclose(file) != 0 && written) {
        written = false;
        error = errno;
    }
    if (!written) {
        std::remove(path.c_str());
        throw KitToolError(failure("write", path, error));
    }
}

}  // namespace

std::vector<uint8_t> readWholeFile(const std::string &path) {
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) throw KitToolError(failure("read", path, errno));
    std::vector<uint8_t> bytes;
    uint8_t block[65536];
    size_t got = 0;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0) bytes.insert(bytes.end(), block, block + got);
    // A directory opens but does not read; ferror tells it from an empty file.
    bool failed = std::ferror(file) != 0;
    int error = errno;
    std::fclose(file);
    if (failed) throw KitToolError(failure("read", path, error));
    return bytes;
}

void writeWholeFile(const std::string &path, const std::vector<uint8_t> &bytes) {
    writeBytes(path, bytes.data(), bytes.size());
}

void writeWholeFile(const std::string &path, const std::string &text) { writeBytes(path, text.data(), text.size()); }

std::string fileNameOf(const std::string &path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
