#include "support/updater_run.h"

#include <chrono>
#include <ctime>
#include <filesystem>

#include "midi/reply_mailbox.h"
#include "run/update_run.h"
#include "support/model_peer.h"
#include "support/stdout_capture.h"
#include "support/temp_folder.h"

namespace testkit {

namespace {

// A private folder made current for the run, and gone afterwards.
struct RunFolder {
    std::filesystem::path previous = std::filesystem::current_path();
    TempFolder folder{"tarnwick-scenario"};
    RunFolder() { std::filesystem::current_path(folder.path()); }
    ~RunFolder() {
        std::error_code ignored;
        std::filesystem::current_path(previous, ignored);
    }
};

}  // namespace

RunResult runUpdateWith(const Setup &setup, sim::Peer &peer) {
    RunFolder run;
    run.folder.write(setup.kitName, setup.kitText);
    // The program's module state outlives a run in this process.
    sim::reset(setup.clock);
    mailbox.replyLength = 0;
    sim::setInputPorts(setup.inputs);
    sim::setOutputPorts(setup.outputs);
    sim::setMidiStack(setup.stack);
    sim::attachPeer(&peer);

    RunResult result;
    StdoutCapture capture;
    auto wallStart = std::chrono::steady_clock::now();
    std::clock_t cpuStart = std::clock();
    result.exitStatus = runUpdate();
    result.cpuSeconds = double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    result.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
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

}  // namespace testkit
