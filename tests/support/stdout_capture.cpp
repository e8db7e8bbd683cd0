#include "support/stdout_capture.h"

#include <unistd.h>

#include <stdexcept>

namespace testkit {

StdoutCapture::StdoutCapture() {
    std::fflush(stdout);
    file_ = std::tmpfile();
    saved_ = dup(STDOUT_FILENO);
    if (file_ == nullptr || saved_ < 0) throw std::runtime_error("cannot capture standard output");
    dup2(fileno(file_), STDOUT_FILENO);
}

StdoutCapture::~StdoutCapture() {
    restore();
    if (file_ != nullptr) std::fclose(file_);
}

std::string StdoutCapture::finish() {
    restore();
    std::string text;
    std::rewind(file_);
    char block[4096];
    size_t got;
    while ((got = std::fread(block, 1, sizeof block, file_)) > 0) text.append(block, got);
    return text;
}

void StdoutCapture::restore() {
    if (saved_ < 0) return;
    std::fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
    saved_ = -1;
}

}  // namespace testkit
