#include "virtual_ports.h"

#include <RtMidi.h>
#include <alsa/asoundlib.h>
#include <jack/jack.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "platform/posix/jack_midi_out.h"

// What RtMidi reported through its error callback, from any thread.
struct LibraryErrors {
    std::mutex mutex;
    std::string last;
    std::atomic<unsigned> count{0};

    void note(const std::string &text) {
        std::lock_guard<std::mutex> lock(mutex);
        last = text;
        ++count;
    }
    std::string lastText() {
        std::lock_guard<std::mutex> lock(mutex);
        return last;
    }
};

namespace {

const char portName[] = "MIDI 1";
const char sequencerDevice[] = "/dev/snd/seq";

void noteLibraryError(RtMidiError::Type, const std::string &text, void *errors) {
    static_cast<LibraryErrors *>(errors)->note(text);
}

// The libraries' own console messages would mix with our report; their
// failures are reported in our words instead.
void ignoreAlsaMessage(const char *, int, const char *, int, const char *, ...) {}
void ignoreJackMessage(const char *) {}

void silenceLibraries() {
    snd_lib_error_set_handler(ignoreAlsaMessage);
    jack_set_error_function(ignoreJackMessage);
    jack_set_info_function(ignoreJackMessage);
}

bool sequencerUsable() { return access(sequencerDevice, R_OK | W_OK) == 0; }

std::string jackServerName() {
    const char *name = std::getenv("JACK_DEFAULT_SERVER");
    return name != nullptr && *name != '\0' ? name : "default";
}

// JACK 1.9.21 now and then refuses to open a client while another process
// opens one on another server; a few tries get past it.
const int jackTries = 5;
const std::chrono::milliseconds jackRetryPause(100);

// RtMidi opens its JACK clients without starting a server, but reports a
// missing one only as a warning; ask the server first.
bool jackServerRunning() {
    for (int attempt = 0; attempt < jackTries; ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(jackRetryPause);
        jack_status_t status;
        jack_client_t *probe = jack_client_open("tarnwick-target-probe", JackNoStartServer, &status);
        if (probe != nullptr) {
            jack_client_close(probe);
            return true;
        }
    }
    return false;
}

// RtMidi's constructors report a failure on std::cerr, before an error
// callback can be set: the text is caught here and reported as ours.
class CaughtErrorStream {
  public:
    CaughtErrorStream() : saved_(std::cerr.rdbuf(text_.rdbuf())) {}
    ~CaughtErrorStream() { std::cerr.rdbuf(saved_); }
    // Without the blank lines RtMidi puts around it.
    std::string text() const {
        std::string all = text_.str();
        size_t first = all.find_first_not_of(" \n"), last = all.find_last_not_of(" \n");
        return first == std::string::npos ? "" : all.substr(first, last - first + 1);
    }

  private:
    std::ostringstream text_;
    std::streambuf *saved_;
};

void receive(double, std::vector<unsigned char> *message, void *inbox) {
    if (message == nullptr || message->empty()) return;
    static_cast<FrameInbox *>(inbox)->push(message->data(), message->size(), TargetClock::now());
}

}  // namespace

VirtualPorts::VirtualPorts(MidiSystem system, const std::string &name, FrameInbox &inbox)
    : inErrors_(new LibraryErrors), outErrors_(new LibraryErrors) {
    silenceLibraries();
    if (system == MidiSystem::automatic) {
        if (sequencerUsable()) {
            try {
                open(MidiSystem::alsa, name, inbox);
                return;
            } catch (const std::runtime_error &) {
                // Not usable after all: JACK is the other way.
            }
        }
        try {
            open(MidiSystem::jack, name, inbox);
        } catch (const std::runtime_error &e) {
            throw std::runtime_error(std::string("the ALSA sequencer cannot be opened (") + sequencerDevice +
                                     "), and " + e.what());
        }
        return;
    }
    open(system, name, inbox);
}

VirtualPorts::~VirtualPorts() {
    // The input first, so that no frame arrives while the output closes.
    in_.reset();
    closeJackMidiOut(jackOut_);
    out_.reset();
}

void VirtualPorts::open(MidiSystem system, const std::string &name, FrameInbox &inbox) {
    RtMidi::Api api = system == MidiSystem::alsa ? RtMidi::LINUX_ALSA : RtMidi::UNIX_JACK;
    systemName_ = system == MidiSystem::alsa ? "ALSA" : "JACK";
    std::vector<RtMidi::Api> compiled;
    RtMidi::getCompiledApi(compiled);
    if (std::find(compiled.begin(), compiled.end(), api) == compiled.end())
        throw std::runtime_error("this RtMidi has no " + systemName_ + " support");
    if (system == MidiSystem::alsa && !sequencerUsable())
        throw std::runtime_error(std::string("the ALSA sequencer cannot be opened (") + sequencerDevice + ")");
    if (system == MidiSystem::jack && !jackServerRunning())
        throw std::runtime_error("no JACK server is running under the name '" + jackServerName() +
                                 "' (JACK_DEFAULT_SERVER); start one first");

    // Two clients, as RtMidi makes one per direction; JACK wants their names
    // to differ. Other programs read from "out" and write to "in".
    std::string inClient = name + " in", outClient = name + " out";
    inPortName_ = inClient + ":" + portName;
    outPortName_ = outClient + ":" + portName;
    int tries = system == MidiSystem::jack ? jackTries : 1;
    for (int attempt = 1;; ++attempt) {
        std::string why = openPorts(api, inClient, outClient, inbox);
        if (why.empty()) return;
        in_.reset();
        closeJackMidiOut(jackOut_);
        jackOut_ = nullptr;
        out_.reset();
        if (attempt >= tries) throw std::runtime_error("cannot open virtual ports on " + systemName_ + ": " + why);
        std::this_thread::sleep_for(jackRetryPause);
    }
}

std::string VirtualPorts::openPorts(RtMidi::Api api, const std::string &inClient, const std::string &outClient,
                                    FrameInbox &inbox) {
    unsigned errorsBefore = inErrors_->count + outErrors_->count;
    CaughtErrorStream caught;
    try {
        in_.reset(new RtMidiIn(api, inClient));
        in_->setErrorCallback(noteLibraryError, inErrors_.get());
        // SysEx is what the box listens to; clock and active sensing are not.
        in_->ignoreTypes(false, true, true);
        in_->setCallback(receive, &inbox);
        in_->openVirtualPort(portName);
        if (api != RtMidi::UNIX_JACK) {
            out_.reset(new RtMidiOut(api, outClient));
            out_->setErrorCallback(noteLibraryError, outErrors_.get());
            out_->openVirtualPort(portName);
        }
    } catch (const RtMidiError &e) {
        return e.getMessage();
    }
    if (api == RtMidi::UNIX_JACK) {
        jackOut_ = openJackMidiOut(outClient.c_str(), portName, "");
        if (jackOut_ == nullptr) return "the JACK client '" + outClient + "' cannot have its output port";
    }
    if (!caught.text().empty()) return caught.text();
    if (inErrors_->count + outErrors_->count != errorsBefore) return inErrors_->lastText() + outErrors_->lastText();
    return "";
}

bool VirtualPorts::send(const device::Bytes &message) {
    if (jackOut_ != nullptr) return sendJackMidi(jackOut_, message.data(), message.size());
    unsigned errorsBefore = outErrors_->count;
    try {
        out_->sendMessage(message.data(), message.size());
    } catch (const RtMidiError &) {
        return false;
    }
    return outErrors_->count == errorsBefore;
}
