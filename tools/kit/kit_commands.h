#pragma once

#include <ostream>
#include <string>

#include "kit_builder.h"

// The three commands of tarnwick-kit, apart from option parsing so that tests
// can call them. Each writes its result to out, notes and errors to err, and
// returns the exit status.

constexpr int exitSuccess = 0;
constexpr int exitFailure = 1;  // refused, rejected, or a file could not be used
constexpr int exitUsage = 2;    // the command line itself is wrong

struct BuildOptions {
    std::string firmwarePath;
    std::string kitPath;
    long long payloadSize = defaultPayloadSize;  // signed, so that a negative size is refused in words
    bool anyName = false;
};

int runBuild(const BuildOptions &options, std::ostream &out, std::ostream &err);

// Exit status 0 only when the updater would accept the kit.
int runCheck(const std::string &kitPath, bool quiet, std::ostream &out, std::ostream &err);

int runExtract(const std::string &kitPath, const std::string &firmwarePath, std::ostream &out, std::ostream &err);
