// tarnwick-target: a virtual Tarnwick Box on a real MIDI system. It opens two
// virtual ports (or a kernel raw MIDI device), hands every frame that arrives
// to the device model, sends the model's answers when they are due, and
// reports each event on standard output. As a USB device it can also leave
// the bus: for good after a chosen record, or for a moment after it answered
// 77, as a device that restarts. Ctrl-C or SIGTERM ends it with a
// summary of the image it received.
//
// Frames arrive on a thread of the ports' own; they are queued to the main
// thread, which alone talks to the model and sends. The main thread sleeps in
// poll() until a frame arrives, a signal comes or the next answer is due.
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

#include "base/wire_constants.h"
#include "device_model.h"
#include "event_report.h"
#include "frame_inbox.h"
#include "image_file.h"
#include "kit/hex_text_reader.h"
#include "kit/kit_records.h"
#include "raw_midi_port.h"
#include "reply_scheduler.h"
#include "target_options.h"
#include "usb_gadget_ports.h"
#include "virtual_ports.h"

namespace {

uint64_t millisecondsOf(TargetClock::time_point t) {
    return uint64_t(std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count());
}

std::atomic<bool> stopRequested{false};

// A device that restarts lets its last answer leave before it drops off the
// bus, and is away for a moment before it enumerates again.
const auto answerLeavesMs = std::chrono::milliseconds(200);
const auto restartAwayMs = std::chrono::milliseconds(500);

void onStopSignal(int) {
    stopRequested = true;
    FrameInbox::wakeFromSignal();
}

void installStopHandlers() {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

void reportError(const std::string &text) { std::cerr << "tarnwick-target: error: " << text << "\n"; }

// The kit's bytes as the updater reads them. A kit the updater would refuse
// to send is no measure of what the box received.
bool loadKit(const std::string &path, device::Bytes &bytes) {
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        reportError("cannot read '" + path + "': " + std::strerror(errno));
        return false;
    }
    std::unique_ptr<KitImage> image(new KitImage());
    HexTextResult read = readHexFile(file, *image);
    std::fclose(file);
    if (read.end == HexTextEnd::readFailed) {
        reportError("cannot read '" + path + "' as a kit");
        return false;
    }
    std::string refused = "'" + path + "' is not a kit the updater would send: ";
    if (read.end == HexTextEnd::tooLong) {
        reportError(refused + "it holds more than " + std::to_string(kitMaxBytes) + " bytes");
        return false;
    }
    int32_t firstBad = firstBadRecord(*image);
    if (firstBad >= 0) {
        reportError(refused + "the record at offset " + std::to_string(firstBad) + " is not sound");
        return false;
    }
    bytes.assign(image->bytes, image->bytes + image->count);
    return true;
}

// One line per event, stamped with the seconds since the ports opened.
class EventLog {
  public:
    explicit EventLog(TargetClock::time_point start) : start_(start) {}
    void line(const std::string &text, TargetClock::time_point when = TargetClock::now()) const {
        double seconds = std::chrono::duration<double>(when - start_).count();
        std::printf("%9.3f %s\n", seconds, text.c_str());
    }

  private:
    TargetClock::time_point start_;
};

// The box at work until told to stop or its time is up.
class Session {
  public:
    Session(device::Model &model, BoxPorts &ports, FrameInbox &inbox, const EventLog &log,
            std::optional<uint32_t> unplugAfter)
        : model_(model), ports_(ports), inbox_(inbox), log_(log), unplugAfter_(unplugAfter) {}

    // False when the ports failed on the way.
    bool run(uint32_t timeoutSeconds) {
        TargetClock::time_point deadline = TargetClock::now() + std::chrono::seconds(timeoutSeconds);
        for (;;) {
            for (ArrivedFrame &frame : inbox_.takeAll()) take(frame);
            sendDue();
            std::string failure = ports_.failure();
            if (!failure.empty()) {
                log_.line("stopped: " + failure + unsent());
                reportError(failure);
                return false;
            }
            if (stopRequested) {
                log_.line("stopped by a signal" + unsent());
                return true;
            }
            TargetClock::time_point now = TargetClock::now();
            if (timeoutSeconds > 0 && now >= deadline) {
                log_.line("stopped after " + std::to_string(timeoutSeconds) + " s" + unsent());
                return true;
            }
            int wait = scheduler_.msUntilNext(now);
            if (timeoutSeconds > 0) {
                auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
                if (wait < 0 || left < wait) wait = static_cast<int>(left);
            }
            inbox_.waitForWake(wait);
        }
    }

  private:
    void take(const ArrivedFrame &frame) {
        device::Counters before = model_.counters();
        device::FrameResult result =
            model_.onFrame(frame.bytes.data(), frame.bytes.size(), millisecondsOf(frame.arrival));
        for (const std::string &text : describeFrame(model_.counters().frames, frame.bytes, result, before,
                                                     model_.counters(), model_.image().size()))
            log_.line(text, frame.arrival);
        if (unplugDue(before, model_.counters())) return unplug();
        for (const device::Outgoing &message : result.messages) scheduler_.add(message, frame.arrival);
    }

    bool unplugDue(const device::Counters &before, const device::Counters &after) const {
        if (!unplugAfter_ || unplugged_) return false;
        if (*unplugAfter_ == 0) return after.handshakes > before.handshakes;
        return before.recordsWritten < *unplugAfter_ && after.recordsWritten >= *unplugAfter_;
    }

    // Whatever the box still owed is lost with the cable.
    void unplug() {
        std::string lost = unsent();
        scheduler_ = ReplyScheduler();
        ports_.unplug();
        unplugged_ = true;
        log_.line("unplugged: off the USB bus, " +
                  (*unplugAfter_ == 0 ? std::string("the greeting unanswered")
                                      : "record " + std::to_string(*unplugAfter_) + "'s verdict unsent") +
                  lost);
    }

    void restart() {
        std::this_thread::sleep_for(answerLeavesMs);
        ports_.unplug();
        log_.line("restarting: off the USB bus");
        std::this_thread::sleep_for(restartAwayMs);
        ports_.plugIn();
        log_.line("restarted: on the USB bus again");
    }

    void sendDue() {
        for (const DueReply &reply : scheduler_.takeDue(TargetClock::now())) {
            bool sent = ports_.send(reply.bytes);
            TargetClock::time_point now = TargetClock::now();
            auto after = std::chrono::duration_cast<std::chrono::milliseconds>(now - reply.arrival).count();
            log_.line("reply " + hexBytes(reply.bytes) +
                          (sent ? " sent " + std::to_string(after) + " ms after its frame"
                                : " not sent: the MIDI system refused it"),
                      now);
            if (sent && ports_.canUnplug() && reply.bytes.size() > 1 && reply.bytes[1] == wire::codeUpdateComplete)
                restart();
        }
    }

    std::string unsent() const {
        size_t pending = scheduler_.pending();
        return pending == 0 ? "" : ", " + std::to_string(pending) + " replies not sent";
    }

    device::Model &model_;
    BoxPorts &ports_;
    FrameInbox &inbox_;
    const EventLog &log_;
    std::optional<uint32_t> unplugAfter_;
    bool unplugged_ = false;
    ReplyScheduler scheduler_;
};

std::unique_ptr<BoxPorts> openPorts(const TargetOptions &options, FrameInbox &inbox) {
    if (!options.rawMidiDevice.empty()) return std::unique_ptr<BoxPorts>(new RawMidiPort(options.rawMidiDevice, inbox));
    if (options.usbController)
        return std::unique_ptr<BoxPorts>(new UsbGadgetPorts(options.name, *options.usbController, inbox));
    return std::unique_ptr<BoxPorts>(new VirtualPorts(options.system, options.name, inbox));
}

}  // namespace

int main(int argc, char **argv) {
    // Line by line, so that a test reading the output sees each event at once.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    TargetOptions options;
    int status = parseTargetOptions(argc, argv, options);
    if (status >= 0) return status;

    ImageExpectation expected;
    expected.size = options.expectSize;
    if (!options.kitPath.empty()) {
        device::Bytes kit;
        if (!loadKit(options.kitPath, kit)) return exitFailure;
        expected.kit = kit;
    }
    ImageFile saveFile;
    if (!options.savePath.empty()) {
        std::string error = saveFile.open(options.savePath);
        if (!error.empty()) {
            reportError("cannot write '" + options.savePath + "': " + error);
            return exitFailure;
        }
    }

    installStopHandlers();
    try {
        FrameInbox inbox;
        std::unique_ptr<BoxPorts> ports = openPorts(options, inbox);
        EventLog log(TargetClock::now());
        device::Model model(options.faults);
        log.line("ready: \"" + options.name + "\" on " + ports->systemName() + ", frames to \"" + ports->inPortName() +
                 "\", replies from \"" + ports->outPortName() + "\"");
        bool portsHeld = Session(model, *ports, inbox, log, options.unplugAfter).run(options.timeoutSeconds);
        ports.reset();

        log.line(summaryLine(model.counters(), model.image(), expected));
        bool ok = portsHeld && imageAsExpected(model.image(), expected);
        if (!options.savePath.empty()) {
            std::string error = saveFile.write(model.image());
            if (!error.empty()) {
                reportError("cannot write '" + options.savePath + "': " + error);
                return exitFailure;
            }
            log.line("saved " + std::to_string(model.image().size()) + " bytes to " + options.savePath);
        }
        return ok ? exitSuccess : exitFailure;
    } catch (const std::runtime_error &e) {
        saveFile.abandon();
        reportError(e.what());
        return exitFailure;
    }
}
