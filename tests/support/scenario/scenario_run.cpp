#include "support/scenario/scenario_run.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "midi/reply_mailbox.h"
#include "run/update_run.h"
#include "support/scenario/model_peer.h"

namespace scenario {

namespace {

// A private folder made current for the run, and gone afterwards.
class RunFolder {
  public:
    RunFolder() : previous_(std::filesystem::current_path()) {
        std::string pattern = (std::filesystem::temp_directory_path() / "tarnwick-scenario-XXXXXX").string();
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

// Standard output sent to a temporary file for as long as it lives.
class StdoutCapture {
  public:
    StdoutCapture() {
        std::fflush(stdout);
        file_ = std::tmpfile();
        saved_ = dup(STDOUT_FILENO);
        if (file_ == nullptr || saved_ < 0) throw std::runtime_error("cannot capture standard output");
        dup2(fileno(file_), STDOUT_FILENO);
    }
    ~StdoutCapture() { restore(); }
    std::string finish() {
        restore();
        std::string text;
        std::rewind(file_);
        char block[4096];
        size_t got;
        while ((got = std::fread(block, 1, sizeof block, file_)) > 0) text.append(block, got);
        return text;
    }
    StdoutCapture(const StdoutCapture &) = delete;
    StdoutCapture &operator=(const StdoutCapture &) = delete;

  private:
    void restore() {
        if (saved_ < 0) return;
        std::fflush(stdout);
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
        saved_ = -1;
    }
    std::FILE *file_ = nullptr;
    int saved_ = -1;
};

}  // namespace

RunResult runUpdateWith(const Setup &setup, sim::Peer &peer) {
    RunFolder folder;
    {
        std::ofstream kit(setup.kitName, std::ios::binary);
        kit << setup.kitText;
    }
    // The program's module state outlives a run in this process.
    sim::reset();
    mailbox.replyLength = 0;
    sim::setInputPorts(setup.inputs);
    sim::setOutputPorts(setup.outputs);
    sim::attachPeer(&peer);

    RunResult result;
    StdoutCapture capture;
    result.exitStatus = runUpdate();
    result.output = capture.finish();
    sim::attachPeer(nullptr);
    result.frames = sim::sentFrames();
    result.endMs = sim::nowMs();
    result.portLog = sim::portLog();
    result.pauses = sim::pauseCount();
    result.shortMessages = sim::shortDataDelivered();
    result.longMessages = sim::longDataDelivered();
    return result;
}

RunResult runUpdateAgainst(const Setup &setup, device::Model &model) {
    ModelPeer peer(model);
    return runUpdateWith(setup, peer);
}

}  // namespace scenario
