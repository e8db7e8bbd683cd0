#include "image_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

ImageFile::~ImageFile() {
    if (fd_ >= 0) ::close(fd_);
}

std::string ImageFile::open(const std::string &path) {
    path_ = path;
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    created_ = fd_ >= 0;
    if (fd_ < 0 && errno == EEXIST) fd_ = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    return fd_ >= 0 ? "" : std::strerror(errno);
}

std::string ImageFile::write(const device::Bytes &image) {
    // Only a regular file can be emptied; a device such as /dev/null need not be.
    bool written = ::ftruncate(fd_, 0) == 0 || errno == EINVAL;
    for (size_t done = 0; written && done < image.size();) {
        ssize_t wrote = ::write(fd_, image.data() + done, image.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        written = wrote > 0;
        if (written) done += size_t(wrote);
    }
    int error = errno;
    if (::close(fd_) != 0 && written) {
        written = false;
        error = errno;
    }
    fd_ = -1;
    return written ? "" : std::strerror(error);
}

void ImageFile::abandon() {
    if (fd_ < 0) return;
    ::close(fd_);
    fd_ = -1;
    if (created_) ::unlink(path_.c_str());
}
