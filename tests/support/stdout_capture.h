// The process's standard output (fd 1) sent to a temporary file for as long
// as the capture lives, for runs of the program's code in this process.
#pragma once

#include <cstdio>
#include <string>

namespace testkit {

class StdoutCapture {
  public:
    // Throws std::runtime_error when stdout cannot be redirected.
    StdoutCapture();
    ~StdoutCapture();
    // Restores stdout and gives everything written to it meanwhile.
    std::string finish();
    StdoutCapture(const StdoutCapture &) = delete;
    StdoutCapture &operator=(const StdoutCapture &) = delete;

  private:
    void restore();
    std::FILE *file_ = nullptr;
    int saved_ = -1;
};

}  // namespace testkit
