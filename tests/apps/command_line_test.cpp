#include "apps/pxupload/command_line.h"

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

} // namespace

TEST(CommandLine, CommandsOptionsAndOrder) {
    CommandLine line = Parse({"--page", "a.html", "config", "--param", "Server=x=y", "--trace=http,net",
                              "--param=UID=7", "--page=b.html"});
    EXPECT_EQ(line.command, CommandLine::Command::Config);
    EXPECT_EQ(line.traceCategories, "http,net");
    ASSERT_EQ(line.parameters.size(), 4u);
    using Kind = CommandLine::ParameterOption::Kind;
    EXPECT_EQ(line.parameters[0].kind, Kind::Page);
    EXPECT_EQ(line.parameters[0].name, "a.html");
    EXPECT_EQ(line.parameters[1].kind, Kind::Param);
    EXPECT_EQ(line.parameters[1].name, "Server");
    EXPECT_EQ(line.parameters[1].value, "x=y"); // the value may hold "="
    EXPECT_EQ(line.parameters[2].name, "UID");
    EXPECT_EQ(line.parameters[3].name, "b.html");

    EXPECT_EQ(Parse({}).command, CommandLine::Command::Run);
    EXPECT_EQ(Parse({"config", "--help"}).command, CommandLine::Command::Help);
    EXPECT_EQ(Parse({"--version", "--bogus"}).command, CommandLine::Command::Version);
    CommandLine withDash = Parse({"config", "--", "--not-an-option"});
    EXPECT_EQ(withDash.arguments, std::vector<std::string>{"--not-an-option"});
    EXPECT_EQ(Parse({"--param", "Empty="}).parameters[0].value, "");
}

TEST(CommandLine, PropertiesTakesPaths) {
    CommandLine line = Parse({"--trace", "jpeg", "properties", "a.jpg", "dir/b c.JPEG", "--", "--odd.jpg"});
    EXPECT_EQ(line.command, CommandLine::Command::Properties);
    EXPECT_EQ(line.arguments, (std::vector<std::string>{"a.jpg", "dir/b c.JPEG", "--odd.jpg"}));
    EXPECT_EQ(line.traceCategories, "jpeg");
    // The command's name is matched exactly.
    EXPECT_EQ(UsageError({"Properties", "a.jpg"}), "unknown command 'Properties'");
    EXPECT_EQ(Parse({"properties"}).arguments, std::vector<std::string>{});
}

TEST(CommandLine, UsageErrors) {
    EXPECT_EQ(UsageError({"frobnicate"}), "unknown command 'frobnicate'");
    EXPECT_EQ(UsageError({"--bogus"}), "unknown option '--bogus'");
    EXPECT_EQ(UsageError({"--page"}), "option --page needs a value");
    EXPECT_EQ(UsageError({"--param", "NoEquals"}), "--param takes NAME=VALUE, not 'NoEquals'");
    EXPECT_EQ(UsageError({"--param", "=v"}), "--param takes NAME=VALUE, not '=v'");
    EXPECT_EQ(UsageError({"--pagex", "f"}), "unknown option '--pagex'");
}
