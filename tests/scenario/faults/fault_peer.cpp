#include "fault_peer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "midi/reply_mailbox.h"
#include "run/update_run.h"

namespace faults {

namespace {

const Bytes timingClock = {0xF8};
const Bytes activeSensing = {0xFE};
const Bytes noteOn = {0x90, 0x3C, 0x40};

}  // namespace

bool FaultPeer::onFrame(const uint8_t *frame, size_t length, uint64_t) {
    ++frames_;
    device::FrameResult result = model_.onFrame(frame, length);
    bool reshaped = frames_ == reshaping_.frame;
    for (const device::Outgoing &message : result.messages) {
        if (!reshaped) {
            post(message.bytes, message.delayMs);
            continue;
        }
        Bytes bytes = message.bytes;
        if (reshaping_.padTo > bytes.size() && bytes.size() >= 2) {
            // Data bytes after the code, below 0x80 as SysEx data must be.
            bytes.pop_back();
            while (bytes.size() + 1 < reshaping_.padTo) bytes.push_back(static_cast<uint8_t>(bytes.size() & 0x7F));
            bytes.push_back(0xF7);
        }
        // Real-time bytes that interrupt a SysEx message reach the program as
        // messages of their own, at the same instant, before and after it.
        if (reshaping_.shortsAround) {
            post(timingClock, message.delayMs);
            post(activeSensing, message.delayMs);
        }
        for (int copy = 0; copy < reshaping_.copies; ++copy) post(bytes, message.delayMs + uint32_t(copy));
        if (reshaping_.shortsAround) {
            post(timingClock, message.delayMs);
            post(noteOn, message.delayMs + 1);
        }
    }
    return result.accepted;
}

void FaultPeer::post(const Bytes &bytes, uint32_t delayMs) {
    if (!bytes.empty() && bytes[0] != 0xF0) ++shortsPosted_;
    sim::post(bytes, delayMs);
}

namespace {

// A private folder made current for the run, gone afterwards.
class RunFolder {
  public:
    RunFolder() : previous_(std::filesystem::current_path()) {
        std::string pattern = (std::filesystem::temp_directory_path() / "tarnwick-faults-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
        std::filesystem::current_path(path_);
    }
    ~RunFolder() {
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    RunFolder(const RunFolder &) = delete;
    RunFolder &operator=(const RunFolder &) = delete;

  private:
    std::filesystem::path previous_, path_;
};

std::string readAll(std::FILE *file) {
    std::string text;
    std::rewind(file);
    char block[4096];
    size_t got;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0) text.append(block, got);
    return text;
}

}  // namespace

RunResult runUpdateWith(const std::string &kitText, sim::Peer &peer) {
    RunFolder folder;
    std::ofstream("Tarnwick_Box.kit", std::ios::binary) << kitText;
    sim::reset();
    mailbox.replyLength = 0;
    sim::setSingleDevice();
    sim::attachPeer(&peer);

    std::fflush(stdout);
    std::FILE *capture = std::tmpfile();
    int saved = dup(STDOUT_FILENO);
    if (capture == nullptr || saved < 0) throw std::runtime_error("cannot capture standard output");
    dup2(fileno(capture), STDOUT_FILENO);
    runUpdate();
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);

    RunResult result;
    result.output = readAll(capture);
    std::fclose(capture);
    sim::attachPeer(nullptr);
    result.frames = sim::sentFrames();
    result.endMs = sim::nowMs();
    result.portLog = sim::portLog();
    result.pauses = sim::pauseCount();
    result.shortMessages = sim::shortDataDelivered();
    return result;
}

}  // namespace faults
