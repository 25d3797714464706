#include "apps/pxupload/command_line.h"
#include "tests/support/catalogues.h"

#include <gtest/gtest.h>

namespace {

CommandLine Parse(std::vector<std::string> words) {
    return ParseCommandLine(words);
}

std::string UsageError(std::vector<std::string> words) {
    try {
        ParseCommandLine(words);
    } catch (const CUsageError& e) {
        return e.what();
    }
    return "(accepted)";
}

// The errors' texts come from the module's string table.
class CommandLineWords : public CataloguesInstalled {};

} // namespace

TEST_F(CommandLineWords, CommandsOptionsAndOrder) {
    CommandLine line = Parse({"--page", "a.html", "config", "--param", "Server=x=y", "--trace=http,net",
                              "--param=UID=7", "--page=b.html"});
    EXPECT_EQ(line.command, CommandLine::Command::Config);
    EXPECT_EQ(line.traceCategories, "http,net");
    EXPECT_TRUE(line.arguments.empty());
    using Kind = CommandLine::ParameterOption::Kind;
    struct Option {
        Kind kind;
        std::string name, value;
        bool operator==(const Option&) const = default;
    };
    std::vector<Option> options;
    for (const CommandLine::ParameterOption& option : line.parameters)
        options.push_back({option.kind, option.name, option.value});
    // In the order given, before and after the command, in both spellings of an option's value.
    EXPECT_EQ(options, (std::vector<Option>{{Kind::Page, "a.html", ""},
                                            {Kind::Param, "Server", "x=y"}, // the value may hold "="
                                            {Kind::Param, "UID", "7"},
                                            {Kind::Page, "b.html", ""}}));

    // Every command by its name.
    const std::pair<const char*, CommandLine::Command> commands[] = {
        {"config", CommandLine::Command::Config},
        {"properties", CommandLine::Command::Properties},
        {"prefs", CommandLine::Command::Prefs},
        {"upload", CommandLine::Command::Upload},
        {"window", CommandLine::Command::Window},
        {"register", CommandLine::Command::Register},
        {"unregister", CommandLine::Command::Unregister},
    };
    for (auto [name, command] : commands)
        EXPECT_EQ(Parse({name}).command, command) << name;

    EXPECT_EQ(Parse({}).command, CommandLine::Command::Run);
    EXPECT_EQ(Parse({"config", "--help"}).command, CommandLine::Command::Help);
    EXPECT_EQ(Parse({"upload", "-h"}).command, CommandLine::Command::Help);
    EXPECT_EQ(Parse({"--version", "--bogus"}).command, CommandLine::Command::Version);
    CommandLine withDash = Parse({"config", "--", "--not-an-option"});
    EXPECT_EQ(withDash.command, CommandLine::Command::Config);
    EXPECT_EQ(withDash.arguments, std::vector<std::string>{"--not-an-option"});
    CommandLine empty = Parse({"--param", "Empty="});
    ASSERT_EQ(empty.parameters.size(), 1u);
    EXPECT_EQ(empty.parameters[0].name, "Empty");
    EXPECT_EQ(empty.parameters[0].value, "");
}

TEST_F(CommandLineWords, PropertiesTakesPaths) {
    CommandLine line = Parse({"--trace", "jpeg", "properties", "a.jpg", "dir/b c.JPEG", "--", "--odd.jpg"});
    EXPECT_EQ(line.command, CommandLine::Command::Properties);
    EXPECT_EQ(line.arguments, (std::vector<std::string>{"a.jpg", "dir/b c.JPEG", "--odd.jpg"}));
    EXPECT_EQ(line.traceCategories, "jpeg");
    // The command's name is matched exactly.
    EXPECT_EQ(UsageError({"Properties", "a.jpg"}), "unknown command 'Properties'");
    EXPECT_EQ(Parse({"properties"}).arguments, std::vector<std::string>{});
}

TEST_F(CommandLineWords, WindowTakesThePageTheParametersAndPaths) {
    CommandLine line = Parse({"window", "--page", "p.html", "a.jpg", "--param", "Paused=true", "b.jpg"});
    EXPECT_EQ(line.command, CommandLine::Command::Window);
    EXPECT_EQ(line.arguments, (std::vector<std::string>{"a.jpg", "b.jpg"}));
    ASSERT_EQ(line.parameters.size(), 2u);
    EXPECT_EQ(line.parameters[0].kind, CommandLine::ParameterOption::Kind::Page);
    EXPECT_EQ(line.parameters[1].name, "Paused");
}

TEST_F(CommandLineWords, PrefsArgumentsEndItsOptions) {
    CommandLine set = Parse({"--trace", "net", "prefs", "set", "proxyPort", "-1"});
    EXPECT_EQ(set.command, CommandLine::Command::Prefs);
    EXPECT_EQ(set.arguments, (std::vector<std::string>{"set", "proxyPort", "-1"}));
    EXPECT_EQ(set.traceCategories, "net");
    EXPECT_EQ(Parse({"prefs", "set", "proxyAddress", "--help"}).arguments,
              (std::vector<std::string>{"set", "proxyAddress", "--help"}));
    // Before the arguments, options are options still.
    CommandLine shown = Parse({"prefs", "--show-password"});
    EXPECT_TRUE(shown.showPassword);
    EXPECT_TRUE(shown.arguments.empty());
    EXPECT_FALSE(Parse({"prefs"}).showPassword);
    EXPECT_EQ(Parse({"prefs", "--help"}).command, CommandLine::Command::Help);
    // Other commands keep taking options among their arguments.
    EXPECT_EQ(UsageError({"properties", "a.jpg", "-1"}), "unknown option '-1'");
}

TEST_F(CommandLineWords, UploadTakesResumeAndARetryCount) {
    CommandLine line = Parse({"upload", "--resume", "--retry", "5", "a.jpg"});
    EXPECT_EQ(line.command, CommandLine::Command::Upload);
    EXPECT_TRUE(line.resume);
    EXPECT_EQ(line.retries, 5);
    EXPECT_EQ(line.arguments, std::vector<std::string>{"a.jpg"});
    EXPECT_EQ(Parse({"--retry=0", "upload"}).retries, 0);
    EXPECT_EQ(Parse({"upload", "--retry", "1000"}).retries, 1000);
    EXPECT_FALSE(Parse({"upload", "a.jpg"}).resume);
    EXPECT_EQ(Parse({"upload", "a.jpg"}).retries, 0);
    for (const char* bad : {"-1", "1001", "x", "", "99999999999"})
        EXPECT_EQ(UsageError({"upload", "--retry", bad}),
                  std::string("option --retry takes a number of attempts from 0 to 1000, not '") + bad + "'");
    EXPECT_EQ(UsageError({"upload", "--retry"}), "option --retry needs a value");
    EXPECT_EQ(Parse({"upload", "--limit-rate", "200K"}).rateLimit, 200u * 1024);
    EXPECT_EQ(Parse({"upload", "--limit-rate=2M"}).rateLimit, 2u * 1024 * 1024);
    EXPECT_EQ(Parse({"upload"}).rateLimit, 0u);
    EXPECT_EQ(UsageError({"upload", "--limit-rate", "fast"}),
              "option --limit-rate takes bytes per second, such as 200K or 2M, not 'fast'");
}

TEST_F(CommandLineWords, UsageErrors) {
    EXPECT_EQ(UsageError({"frobnicate"}), "unknown command 'frobnicate'");
    EXPECT_EQ(UsageError({"--bogus"}), "unknown option '--bogus'");
    EXPECT_EQ(UsageError({"--page"}), "option --page needs a value");
    EXPECT_EQ(UsageError({"--param", "NoEquals"}), "--param takes NAME=VALUE, not 'NoEquals'");
    EXPECT_EQ(UsageError({"--param", "=v"}), "--param takes NAME=VALUE, not '=v'");
    EXPECT_EQ(UsageError({"--pagex", "f"}), "unknown option '--pagex'");
}
