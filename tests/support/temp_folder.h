// A fresh folder of the test's own under $TMPDIR (or /tmp), removed with
// everything in it however the test ends.
#pragma once

#include <string>

namespace testkit {

class TempFolder {
  public:
    // Throws std::runtime_error when no folder can be made.
    explicit TempFolder(const std::string &prefix = "tarnwick-test");
    ~TempFolder();
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;

    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }
    // Creates or replaces the file with exactly these bytes.
    void write(const std::string &name, const std::string &bytes) const;
    // The whole file, or "" when it is missing.
    std::string read(const std::string &name) const;

  private:
    std::string path_;
};

}  // namespace testkit
