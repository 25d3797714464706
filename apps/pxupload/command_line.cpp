#include "apps/pxupload/command_line.h"

#include "apps/pxupload/host_texts.h"
#include "net/rate_limit.h"

#include <map>

namespace {

const std::map<std::string, CommandLine::Command>& Commands() {
    static const std::map<std::string, CommandLine::Command> commands = {
        {"config", CommandLine::Command::Config},         {"properties", CommandLine::Command::Properties},
        {"prefs", CommandLine::Command::Prefs},           {"upload", CommandLine::Command::Upload},
        {"window", CommandLine::Command::Window},         {"register", CommandLine::Command::Register},
        {"unregister", CommandLine::Command::Unregister},
    };
    return commands;
}

// The value of an option given as "--name=value" or "--name value".
std::string OptionValue(std::span<const std::string> words, size_t& i, const std::string& name) {
    const std::string& word = words[i];
    if (word.size() > name.size() && word[name.size()] == '=')
        return word.substr(name.size() + 1);
    if (i + 1 >= words.size())
        throw CUsageError(HostText(host_text::kOptionNeedsValue, {name}));
    return words[++i];
}

// True when `word` is `name` alone or `name=...`.
bool IsOption(const std::string& word, const std::string& name) {
    return word.compare(0, name.size(), name) == 0 &&
           (word.size() == name.size() || word[name.size()] == '=');
}

} // namespace

CommandLine ParseCommandLine(std::span<const std::string> words) {
    CommandLine line;
    bool haveCommand = false;
    bool optionsEnded = false;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        // "prefs set NAME VALUE" takes any value, a negative number included: its words are never
        // read as options.
        if (line.command == CommandLine::Command::Prefs && !line.arguments.empty())
            optionsEnded = true;
        if (optionsEnded || word.empty() || word[0] != '-' || word == "-") {
            if (!haveCommand) {
                auto it = Commands().find(word);
                if (it == Commands().end())
                    throw CUsageError(HostText(host_text::kUnknownCommand, {word}));
                line.command = it->second;
                haveCommand = true;
            } else {
                line.arguments.push_back(word);
            }
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
        } else if (word == "--help" || word == "-h") {
            line.command = CommandLine::Command::Help;
            return line;
        } else if (word == "--version") {
            line.command = CommandLine::Command::Version;
            return line;
        } else if (word == "--show-password") {
            line.showPassword = true;
        } else if (word == "--resume") {
            line.resume = true;
        } else if (IsOption(word, "--retry")) {
            std::string count = OptionValue(words, i, "--retry");
            if (count.empty() || count.size() > 4 || count.find_first_not_of("0123456789") != std::string::npos ||
                std::stoi(count) > 1000)
                throw CUsageError(HostText(host_text::kRetrySyntax, {count}));
            line.retries = std::stoi(count);
        } else if (IsOption(word, "--limit-rate")) {
            std::string rate = OptionValue(words, i, "--limit-rate");
            std::optional<uint64_t> parsed = CRateLimit::ParseRate(rate);
            if (!parsed)
                throw CUsageError(HostText(host_text::kRateSyntax, {rate}));
            line.rateLimit = *parsed;
        } else if (IsOption(word, "--trace")) {
            line.traceCategories = OptionValue(words, i, "--trace");
        } else if (IsOption(word, "--page")) {
            line.parameters.push_back(
                {CommandLine::ParameterOption::Kind::Page, OptionValue(words, i, "--page"), {}});
        } else if (IsOption(word, "--param")) {
            std::string assignment = OptionValue(words, i, "--param");
            size_t equals = assignment.find('=');
            if (equals == std::string::npos || equals == 0)
                throw CUsageError(HostText(host_text::kParamSyntax, {assignment}));
            line.parameters.push_back({CommandLine::ParameterOption::Kind::Param,
                                       assignment.substr(0, equals), assignment.substr(equals + 1)});
        } else {
            throw CUsageError(HostText(host_text::kUnknownOption, {word}));
        }
    }
    return line;
}
