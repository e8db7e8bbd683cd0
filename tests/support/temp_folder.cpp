#include "support/temp_folder.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace testkit {

TempFolder::TempFolder(const std::string &prefix) {
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/" + prefix + "-XXXXXX";
    path_ = pattern;
    if (mkdtemp(path_.data()) == nullptr) throw std::runtime_error("cannot make a folder like " + pattern);
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void TempFolder::write(const std::string &name, const std::string &bytes) const {
    std::ofstream(file(name), std::ios::binary | std::ios::trunc) << bytes;
}

std::string TempFolder::read(const std::string &name) const {
    std::ifstream in(file(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace testkit
