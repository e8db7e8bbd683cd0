// Where --save puts the image the box accepted. The file is opened when the
// box starts, so that a path that cannot be written is refused before a run
// rather than after it, and filled when the box ends.
#pragma once

#include <string>

#include "device_model.h"

class ImageFile {
  public:
    ImageFile() = default;
    ImageFile(const ImageFile &) = delete;
    ImageFile &operator=(const ImageFile &) = delete;
    ~ImageFile();

    // Opens path for writing, creating it if need be but leaving what it
    // holds until write(). Returns "" or why it cannot be written.
    std::string open(const std::string &path);
    // Replaces the file's contents with the image and closes it. Returns ""
    // or why that failed.
    std::string write(const device::Bytes &image);
    // For a box that ends before it ran: a file that open() created is
    // removed, one that was there already is left as it was.
    void abandon();

  private:
    int fd_ = -1;
    bool created_ = false;
    std::string path_;
};
