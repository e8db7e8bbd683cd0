// The manual pages against the programs: every long option a tool's --help
// lists (its commands' too) is in the tool's page, and the updater's page
// lists as its messages exactly the texts that the scenario and process tests
// hold the updater to, so that neither can change without the other.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iomanip>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/child_process.h"
#include "support/expected_output.h"

namespace {

std::string readPage(const std::string &name) {
    std::ifstream in(std::string(TARNWICK_MAN_DIR) + "/" + name + ".1");
    std::ostringstream text;
    text << in.rdbuf();
    EXPECT_FALSE(text.str().empty()) << "no page " << name << ".1 in " << TARNWICK_MAN_DIR;
    return text.str();
}

// What the escapes the pages use show as; font changes and the zero-width
// and no-hyphenation marks show nothing. Any other escape is left as it is.
std::string unescape(const std::string &roff) {
    static const std::vector<std::pair<std::string, std::string>> shown = {
        {"\\(aq", "'"}, {"\\-", "-"}, {"\\e", "\\"}, {"\\~", " "}, {"\\&", ""},
        {"\\%", ""},    {"\\fB", ""}, {"\\fI", ""},  {"\\fR", ""},
    };
    std::string text;
    for (size_t i = 0; i < roff.size();) {
        auto known = std::find_if(shown.begin(), shown.end(), [&](const auto &escape) {
            return roff.compare(i, escape.first.size(), escape.first) == 0;
        });
        if (known == shown.end()) {
            text += roff[i++];
        } else {
            text += known->second;
            i += known->first.size();
        }
    }
    return text;
}

// A font macro's line as it shows: .B joins its arguments with spaces, the
// alternating ones (.BI, .BR, ...) without. Backslashes are roff's, not
// quoting's.
std::string macroText(const std::string &line) {
    std::istringstream words(line);
    std::string macro, argument, text;
    words >> macro;
    while (words >> std::quoted(argument, '"', '\x01')) text += (text.empty() || macro != ".B" ? "" : " ") + argument;
    return unescape(text);
}

// The messages of a page: the tag line after each .TP of its DIAGNOSTICS.
std::set<std::string> messagesOf(const std::string &page) {
    std::istringstream lines(page);
    std::set<std::string> messages;
    bool inDiagnostics = false, tagLine = false;
    for (std::string line; std::getline(lines, line);) {
        if (line.compare(0, 4, ".SH ") == 0) inDiagnostics = line == ".SH DIAGNOSTICS";
        if (inDiagnostics && tagLine) messages.insert(macroText(line));
        tagLine = line == ".TP";
    }
    return messages;
}

// A console text as one line of it shows: without line ends and the spaces
// that rub out the progress line.
std::string asShown(const std::string &text) {
    size_t first = text.find_first_not_of("\r\n "), last = text.find_last_not_of("\r\n ");
    return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

TEST(UpdaterPage, ListsExactlyTheMessagesTheUpdaterPrints) {
    using namespace expected;
    // The restart notice is printed only after the success lines.
    const std::string restartNotice = restarted.substr(done.size() + success.size());
    const std::string texts[] = {
        opened("NAME"), notFound("*.kit"), noFitFile,     notFound("NAME"), badKit,     inLine,        outLine,
        inMissing,      outMissing,        notResponding, resetting,        notMatched, line('-', 42), crcError,
        damaged,        verifyError,       eraseError,    updateError,      done,       success,       restartNotice};
    std::set<std::string> printed;
    for (const std::string &text : texts) printed.insert(asShown(text));
    std::set<std::string> listed = messagesOf(readPage("tarnwick-update"));
    for (const std::string &message : listed) {
        EXPECT_TRUE(printed.count(message)) << "tarnwick-update.1 lists '" << message << "', which it does not print";
    }
    for (const std::string &text : printed) {
        EXPECT_TRUE(listed.count(text)) << "tarnwick-update.1 does not list '" << text << "'";
    }
}

std::string helpOf(const std::string &path, const std::string &command) {
    testkit::ChildRun run;
    run.argv = {path};
    if (!command.empty()) run.argv.push_back(command);
    run.argv.push_back("--help");
    testkit::ChildResult result = testkit::runChild(run);
    EXPECT_EQ(result.status, 0) << path << " " << command << " --help: " << result.err;
    return result.out;
}

// Every "--word" of a text, not inside a longer word.
std::set<std::string> longOptionsIn(const std::string &text) {
    static const std::regex option("(^|[^\\w-])(--[a-z0-9][a-z0-9-]*)");
    std::set<std::string> options;
    for (std::sregex_iterator at(text.begin(), text.end(), option), end; at != end; ++at) options.insert((*at)[2]);
    return options;
}

// The commands a help text lists, the first word of each line under
// "Subcommands:".
std::vector<std::string> commandsIn(const std::string &help) {
    std::vector<std::string> commands;
    size_t at = help.find("\nSubcommands:\n");
    if (at == std::string::npos) return commands;
    std::istringstream lines(help.substr(at + 14));
    for (std::string line; std::getline(lines, line) && line.compare(0, 2, "  ") == 0;) {
        std::istringstream words(line);
        commands.emplace_back();
        words >> commands.back();
    }
    return commands;
}

struct Tool {
    const char *name;
    const char *path;
    size_t commands;  // how many commands its help lists
};

void PrintTo(const Tool &tool, std::ostream *out) { *out << tool.name; }

class ToolPage : public testing::TestWithParam<Tool> {};

TEST_P(ToolPage, NamesEveryLongOptionOfItsHelp) {
    const Tool &tool = GetParam();
    std::string help = helpOf(tool.path, "");
    std::set<std::string> options = longOptionsIn(help);
    std::vector<std::string> commands = commandsIn(help);
    EXPECT_EQ(commands.size(), tool.commands) << help;
    for (const std::string &command : commands) options.merge(longOptionsIn(helpOf(tool.path, command)));
    ASSERT_TRUE(options.count("--help") && options.count("--version")) << help;

    std::set<std::string> mentioned = longOptionsIn(unescape(readPage(tool.name)));
    for (const std::string &option : options) {
        EXPECT_TRUE(mentioned.count(option))
            << tool.name << " --help lists " << option << ", its page " << tool.name << ".1 does not";
    }
}

INSTANTIATE_TEST_SUITE_P(Tools, ToolPage,
                         testing::Values(Tool{"tarnwick-kit", TARNWICK_KIT_PATH, 3},
                                         Tool{"tarnwick-target", TARNWICK_TARGET_PATH, 0}),
                         [](const testing::TestParamInfo<Tool> &p) { return std::string(p.param.name).substr(9); });

}  // namespace
