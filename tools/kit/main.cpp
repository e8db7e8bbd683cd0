// tarnwick-kit: builds, checks and unpacks firmware kits for the Tarnwick Box.
#include <CLI/CLI.hpp>
#include <iostream>
#include <string>

#include "kit_builder.h"
#include "kit_commands.h"
#include "kit_tool_error.h"

int main(int argc, char **argv) {
    CLI::App app{"Builds, checks and unpacks Tarnwick Box firmware kits.", "tarnwick-kit"};
    // At most one command; a missing one is reported below, so that an
    // unknown word is named as such rather than taken for a missing command.
    app.require_subcommand(0, 1);
    app.footer(
        "Exit status: 0 on success (for check: the updater would accept the kit), 1 when the kit or a file is "
        "refused, 2 for a wrong command line.");
    app.set_version_flag("--version", std::string("tarnwick-kit ") + TARNWICK_VERSION, "Print the version and exit");
    // The parser's own complaints read like the tool's.
    app.failure_message([](const CLI::App *parser, const CLI::Error &e) {
        return "tarnwick-kit: error: " + CLI::FailureMessage::simple(parser, e);
    });

    BuildOptions build;
    CLI::App *buildCommand = app.add_subcommand("build", "Cut a firmware binary into a kit of checked records.");
    buildCommand->add_option("firmware", build.firmwarePath, "The firmware binary")->required();
    buildCommand
        ->add_option("-o,--output", build.kitPath,
                     "The kit file to write; its name must begin with Tarnwick_Box and end in .kit")
        ->required();
    buildCommand
        ->add_option("--payload", build.payloadSize,
                     "Payload bytes per record, 1 to " + std::to_string(maxPayloadSize) + "; the last may be shorter")
        ->capture_default_str();
    buildCommand->add_flag("--any-name", build.anyName, "Write the kit even under a name the updater would not take");

    std::string checkPath;
    bool quiet = false;
    CLI::App *checkCommand =
        app.add_subcommand("check", "Read a kit as the updater does and report its bytes, records and name.");
    checkCommand->add_option("kit", checkPath, "The kit file")->required();
    checkCommand->add_flag("-q,--quiet", quiet, "Print only the verdict line");

    std::string extractKit;
    std::string extractFirmware;
    CLI::App *extractCommand = app.add_subcommand("extract", "Join the payloads of a sound kit into the firmware.");
    extractCommand->add_option("kit", extractKit, "The kit file")->required();
    extractCommand->add_option("-o,--output", extractFirmware, "The firmware binary to write")->required();

    try {
        app.parse(argc, argv);
        // A payload size no record can carry is a wrong command line, like
        // one that is not a number.
        if (buildCommand->parsed()) requirePayloadSize(build.payloadSize);
    } catch (const CLI::ParseError &e) {
        return app.exit(e) == 0 ? exitSuccess : exitUsage;
    } catch (const KitToolError &e) {
        app.exit(CLI::ValidationError("--payload", e.what()));
        return exitUsage;
    }
    if (buildCommand->parsed()) return runBuild(build, std::cout, std::cerr);
    if (checkCommand->parsed()) return runCheck(checkPath, quiet, std::cout, std::cerr);
    if (extractCommand->parsed()) return runExtract(extractKit, extractFirmware, std::cout, std::cerr);
    std::cerr << "tarnwick-kit: error: a command is required: build, check or extract\n"
              << "Run with --help for more information.\n";
    return exitUsage;
}
