#include "kit_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kit_tool_error.h"

namespace {

std::string failure(const std::string &doing, const std::string &path, int error) {
    return "cannot " + doing + " '" + path + "': " + std::strerror(error);
}

std::string folderOf(const std::string &path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Writes the bytes and closes the file, with durable first making sure they
// are on the disk; 0, or the reason it failed.
int writeAndClose(std::FILE *file, const void *data, size_t size, bool durable) {
    int error = 0;
    if (size != 0 && std::fwrite(data, 1, size, file) != size) error = errno;
    if (error == 0 && std::fflush(file) != 0) error = errno;
    if (error == 0 && durable && fsync(fileno(file)) != 0) error = errno;
    if (std::fclose(file) != 0 && error == 0) error = errno;
    return error;
}

// Anything but a plain file (a device, a pipe, a link such as /dev/stdout)
// is written through as it stands: nothing may be put in its place, and it
// is never removed, even when the write fails.
void writeInPlace(const std::string &path, const void *data, size_t size) {
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) throw KitToolError(failure("write", path, errno));
    int error = writeAndClose(file, data, size, false);
    if (error != 0) throw KitToolError(failure("write", path, error));
}

mode_t newFileMode() {
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// A plain file is written whole under a temporary name beside it and then
// renamed over it, so that a failed write leaves what was there before.
void writeReplacing(const std::string &path, const void *data, size_t size, const struct stat *old) {
    std::string temporary = folderOf(path) + "/." + fileNameOf(path) + ".XXXXXX";
    int fd = mkstemp(temporary.data());
    if (fd < 0) throw KitToolError(failure("write", path, errno));
    // mkstemp makes the file private; the kit keeps the mode it had, or a
    // new file's.
    int error = fchmod(fd, old != nullptr ? old->st_mode & 07777 : newFileMode()) != 0 ? errno : 0;
    std::FILE *file = error == 0 ? fdopen(fd, "wb") : nullptr;
    if (file == nullptr) {
        if (error == 0) error = errno;
        close(fd);
    } else {
        error = writeAndClose(file, data, size, true);
    }
    if (error == 0 && std::rename(temporary.c_str(), path.c_str()) != 0) error = errno;
    if (error != 0) {
        unlink(temporary.c_str());
        throw KitToolError(failure("write", path, error));
    }
}

void writeBytes(const std::string &path, const void *data, size_t size) {
    struct stat found;
    bool exists = lstat(path.c_str(), &found) == 0;
    if (exists ? S_ISREG(found.st_mode) : errno == ENOENT) {
        writeReplacing(path, data, size, exists ? &found : nullptr);
    } else {
        writeInPlace(path, data, size);
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
