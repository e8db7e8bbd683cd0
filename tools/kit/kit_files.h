#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Whole-file input and output for the tool; failures throw KitToolError
// naming the file and the system's reason.

std::vector<uint8_t> readWholeFile(const std::string &path);

// Writes bytes to path. A plain file (or a new one) is replaced only once the
// bytes are whole on the disk, so a failed write leaves it as it was; a
// device, a pipe or a link is written as it stands and never removed.
void writeWholeFile(const std::string &path, const std::vector<uint8_t> &bytes);
void writeWholeFile(const std::string &path, const std::string &text);

// The file name without its directories, as the updater's directory search
// reports it.
std::string fileNameOf(const std::string &path);
