#pragma once

#include <stdexcept>
#include <string>

// A refusal or a failure of tarnwick-kit, with the text to show the user. The
// commands catch it and turn it into a message and a non-zero exit status.
struct KitToolError : std::runtime_error {
    explicit KitToolError(const std::string &what) : std::runtime_error(what) {}
};
