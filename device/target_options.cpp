#include "target_options.h"

#include "fault_text.h"

#include <CLI/CLI.hpp>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// What a box this slow does to the updater, whose waits it outlasts: 100 ms
// for the greeting's answer, 500 ms for a record's verdict, 2 s from 85 %.
// Empty when every answer comes within its wait.
std::string latencyWarning(uint32_t latencyMs) {
    std::string late = "answers " + std::to_string(latencyMs) + " ms late come after ";
    const std::string resent =
        ": by the time a verdict comes the updater has sent the record again, and it takes the verdict for the "
        "resent record's";
    if (latencyMs > 2000) return late + "every wait of the updater, even its 2 s wait for a verdict from 85 %" + resent;
    if (latencyMs > 500) return late + "the updater's 500 ms wait for a record's verdict (2 s from 85 %)" + resent;
    if (latencyMs > 100)
        return late +
               "the updater's 100 ms wait for an answer to its greeting: it greets again, and passes over the "
               "answers that come late";
    return "";
}

// A fault option whose value the fault text reads, under the key of the same
// meaning; CLI11 words the complaint as for any number it could not read, and
// an empty value is 0 as CLI11 reads it.
CLI::Option *addNumberFault(CLI::App &app, const std::string &name, device::Faults &faults, const char *key,
                            const std::string &description) {
    CLI::callback_t set = [&faults, key](const CLI::results_t &values) {
        try {
            device::setFault(faults, key, values.at(0).empty() ? "0" : values.at(0));
            return true;
        } catch (const std::invalid_argument &) {
            return false;
        }
    };
    return app.add_option(name, set, description)->type_name("UINT");
}

// Each element of a list option, in order.
void setFaults(device::Faults &faults, const char *key, const std::vector<std::string> &elements) {
    for (const std::string &element : elements) device::setFault(faults, key, element);
}

}  // namespace

int parseTargetOptions(int argc, char **argv, TargetOptions &options) {
    CLI::App app{
        "A virtual Tarnwick Box: answers tarnwick-update over virtual MIDI ports, on the ALSA sequencer or a "
        "running JACK server, or as a USB MIDI device, with the faults chosen below. Reply codes are hexadecimal "
        "(1A or 0x1A); attempt numbers count from 1, resends included. Ends on Ctrl-C or SIGTERM with a summary.",
        "tarnwick-target"};
    app.footer(
        "Exit status: 0 on a clean end (and, given --kit or --expect-size, an image as expected), 1 when the ports "
        "or a file cannot be used or the image is not as expected, 2 for a wrong command line.");
    app.set_version_flag("--version", std::string("tarnwick-target ") + TARNWICK_VERSION, "Print the version and exit");
    // The parser's own complaints read like the program's.
    app.failure_message([](const CLI::App *parser, const CLI::Error &e) {
        return "tarnwick-target: error: " + CLI::FailureMessage::simple(parser, e);
    });

    std::string api = "auto";
    CLI::Option *apiOption =
        app.add_option("--api", api, "MIDI system: alsa, jack, or auto (ALSA where its sequencer opens, else JACK)")
            ->check(CLI::IsMember({"auto", "alsa", "jack"}))
            ->capture_default_str();
    CLI::Option *rawMidiOption =
        app.add_option("--rawmidi", options.rawMidiDevice,
                       "Speak through this kernel raw MIDI device (such as /dev/snd/midiC0D0) instead of virtual ports")
            ->type_name("DEVICE")
            ->excludes(apiOption);
    std::string usbController;
    CLI::Option *usbOption =
        app.add_option("--usb-gadget", usbController,
                       "Be a USB MIDI device (as root) on this USB device controller, or on the first one in "
                       "/sys/class/udc; restarts (leaves the bus and comes back) after answering 77")
            ->expected(0, 1)
            ->type_name("[UDC]")
            ->excludes(apiOption)
            ->excludes(rawMidiOption);
    uint32_t unplugAfter = 0;
    CLI::Option *unplugOption =
        app.add_option("--unplug-after", unplugAfter,
                       "Leave the USB bus for good right after accepting this record, before its verdict (0: at "
                       "the greeting, unanswered)")
            ->type_name("K")
            ->needs(usbOption);
    app.add_option("--name", options.name, "Product name of the ports (at most 40 characters, no colon)")
        ->capture_default_str();
    device::Faults &faults = options.faults;
    addNumberFault(app, "--latency", faults, "latency", "Delay of every answer in ms")
        ->default_str(std::to_string(faults.latencyMs));
    addNumberFault(app, "--abandon-after", faults, "abandon-after",
                   "Abandon a record whose frames stop for longer than this many ms (0: never)")
        ->default_str(std::to_string(faults.abandonRecordAfterMs));
    std::vector<std::string> verdicts;
    app.add_option("--verdicts", verdicts, "Codes answered to record attempts 1, 2, ... before the box's own")
        ->delimiter(',')
        ->type_name("CODE");
    std::string handshakeCode;
    app.add_option("--handshake-code", handshakeCode,
                   "Code answered to the handshake: 15 (restarting) or a foreign product's (default 23)")
        ->type_name("CODE");
    addNumberFault(app, "--silent-after", faults, "silent-after",
                   "Stop answering once this many records are accepted (0: right after the handshake)");
    addNumberFault(app, "--final-size", faults, "final-size",
                   "Answer 77 (update complete) to the record that brings the image to this size");
    std::vector<std::string> noReply;
    app.add_option("--no-reply", noReply, "Record attempts left unanswered, such as 3,4")
        ->delimiter(',')
        ->type_name("N");
    std::vector<std::string> noHandshakeReply;
    app.add_option("--no-handshake-reply", noHandshakeReply, "Handshakes left unanswered, such as 1,2")
        ->delimiter(',')
        ->type_name("N");
    uint32_t expectSize = 0;
    CLI::Option *expectOption =
        app.add_option("--expect-size", expectSize, "The image is complete when it holds this many bytes");
    app.add_option("--kit", options.kitPath, "The image is complete when it equals this kit's bytes")
        ->excludes(expectOption);
    app.add_option("--save", options.savePath,
                   "Write the accepted image to this file (raw bytes) at the end; checked at the start");
    app.add_option("--timeout", options.timeoutSeconds, "End on its own after this many seconds (0: never)")
        ->capture_default_str();

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        return app.exit(e) == 0 ? exitSuccess : exitUsage;
    }

    try {
        options.system = api == "alsa" ? MidiSystem::alsa : api == "jack" ? MidiSystem::jack : MidiSystem::automatic;
        if (options.name.empty() || options.name.size() > 40 || options.name.find(':') != std::string::npos)
            throw std::invalid_argument("--name: 1 to 40 characters, without a colon");
        setFaults(faults, "verdicts", verdicts);
        if (!handshakeCode.empty()) device::setFault(faults, "handshake", handshakeCode);
        setFaults(faults, "no-reply", noReply);
        setFaults(faults, "no-handshake-reply", noHandshakeReply);
        if (expectOption->count() > 0) options.expectSize = expectSize;
        if (usbOption->count() > 0) options.usbController = usbController;
        if (unplugOption->count() > 0) options.unplugAfter = unplugAfter;
    } catch (const std::invalid_argument &e) {
        std::cerr << "tarnwick-target: error: " << e.what() << "\nRun with --help for more information.\n";
        return exitUsage;
    }
    std::string warning = latencyWarning(options.faults.latencyMs);
    if (!warning.empty()) std::cerr << "tarnwick-target: warning: " << warning << "\n";
    return -1;
}
