#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Whole-file input and output for the tool; failures throw KitToolError
// naming the file and the system's reason.

std::vector<uint8_t> readWholeFile(const std::string &path);

// Writes bytes to path, replacing it; a file left half-written is removed.
void writeWholeFile(const std::string &path, const std::vector<uint8_t> &bytes);
void writeWholeFile(const std::string &path, const std::string &text);

// The file name without its directories, as the updater's directory search
// reports it.
std::string fileNameOf(const std::string &path);
