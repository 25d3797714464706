// The host program's command line: global options (anywhere before "--"; for prefs, only before
// its first argument, so that a value such as "-1" is a value), then a command and its arguments. Parsing
// only reads the words; files named by --page are read by the caller.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

// A command line that cannot be understood; the message says why, for standard error.
class CUsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct CommandLine {
    enum class Command {
        Run,
        Help,
        Version,
        Config,
        Properties,
        Prefs,
        Upload,
        Window,
        Register,
        Unregister
    };

    // A --page FILE or --param NAME=VALUE option; later ones win, so their order is kept.
    struct ParameterOption {
        enum class Kind { Page, Param };
        Kind kind;
        std::string name;  // the file for Page, the parameter's name for Param
        std::string value; // the value for Param
    };

    Command command = Command::Run;     // Run: none given (the window when there is a display)
    std::vector<std::string> arguments; // the words after the command
    std::vector<ParameterOption> parameters;
    std::string traceCategories;
    bool showPassword = false; // --show-password: prefs shows the proxy password as stored
    bool resume = false;       // --resume: upload takes the journal's unfinished pictures too
    int retries = 0;           // --retry N: upload's tries of a picture that failed on the network
    uint64_t rateLimit = 0;    // --limit-rate RATE: upload's cap in bytes per second, 0 for none
};

// `words` excludes the program name. Throws CUsageError.
CommandLine ParseCommandLine(std::span<const std::string> words);
