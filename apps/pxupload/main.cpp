// pxupload: the host program that stands in for the page embedding the control. It takes the
// control's object parameters from a page and from the command line and runs the control's work.

#include "apps/pxupload/command_line.h"
#include "apps/pxupload/host_texts.h"
#include "apps/pxupload/host_window.h"
#include "apps/pxupload/upload_command.h"
#include "control/page_parameters.h"
#include "control/registration.h"
#include "control/resources/module_resources.h"
#include "foundation/exception.h"
#include "foundation/message_table.h"
#include "foundation/path.h"
#include "foundation/preferences.h"
#include "foundation/trace.h"
#include "net/proxy_settings.h"
#include "pictures/image_properties.h"
#include "pictures/size_text.h"
#include "platform/file_system.h"
#include "platform/resources.h"
#include "platform/program_file.h"
#include "upload/plugin_parameters.h"
#include "upload/upload_endpoint.h"
#include "upload/user_agent.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <locale>
#include <sstream>

namespace {

constexpr int kExitUsage = 2;

void PrintUsage(std::ostream& out) {
    out << HostText(host_text::kUsage);
    for (const PluginParameters::Info& info : PluginParameters::Table()) {
        char row[80];
        std::snprintf(row, sizeof row, "  %-25s %s\n", info.name,
                      *info.defaultText ? info.defaultText : HostText(host_text::kEmptyDefault).c_str());
        out << row;
    }
}

std::string ValidNames() {
    std::string names;
    for (const PluginParameters::Info& info : PluginParameters::Table())
        names += (names.empty() ? "" : ", ") + std::string(info.name);
    return names;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw CUsageError(HostText(host_text::kUnreadablePage, {path}));
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void SetParameter(CMapParameterSource& source, const std::string& name, const std::string& value,
                  const std::string& origin) {
    if (PluginParameters::Find(name) == nullptr)
        throw CUsageError(HostText(host_text::kUnknownParameter, {name, origin, ValidNames()}));
    source.Set(name, value);
}

struct PageSettings {
    PluginParameters parameters;
    PageObjectSize size; // the <object>'s of the last page given
};

PageSettings LoadPage(const CommandLine& line) {
    CMapParameterSource source;
    PageSettings settings;
    for (const CommandLine::ParameterOption& option : line.parameters) {
        if (option.kind == CommandLine::ParameterOption::Kind::Param) {
            SetParameter(source, option.name, option.value, HostText(host_text::kInParamOption));
            continue;
        }
        const std::string page = ReadFile(option.name);
        for (const PageParameter& parameter : ReadPageParameters(page))
            SetParameter(source, parameter.name, parameter.value,
                         HostText(host_text::kInPage, {option.name}));
        settings.size = ReadPageObjectSize(page);
    }
    settings.parameters.Load(source);
    return settings;
}

PluginParameters LoadParameters(const CommandLine& line) {
    return LoadPage(line).parameters;
}

int RunWindow(const CommandLine& line) {
    PageSettings settings = LoadPage(line);
    return RunHostWindow(settings.parameters, settings.size, line.arguments, line.rateLimit);
}

// The program's own file: what the registration names as the control's server.
std::string ProgramPath() {
    return platform::GetProgramFile().value_or("pxupload");
}

void PrintConfig(const PluginParameters& loaded) {
    PluginParameters parameters = loaded;
    uint32_t connections = parameters.ClampMaxConnections();
    for (const PluginParameters::Info& info : PluginParameters::Table()) {
        std::string value;
        if (auto member = std::get_if<std::string PluginParameters::*>(&info.member))
            value = "\"" + parameters.*(*member) + "\"";
        else if (auto member = std::get_if<uint32_t PluginParameters::*>(&info.member))
            value = std::to_string(parameters.*(*member));
        else if (auto member = std::get_if<bool PluginParameters::*>(&info.member))
            value = parameters.*(*member) ? "true" : "false";
        if (info.type == PluginParameters::Type::Colour) {
            char rgb[16];
            std::snprintf(rgb, sizeof rgb, "  (#%06x)",
                          ParseColor(parameters.*std::get<std::string PluginParameters::*>(info.member)));
            value += rgb;
        }
        std::cout << info.name << " = " << value << "\n";
    }
    UploadEndpoint endpoint = UploadEndpoint::FromParameters(parameters, BuildUserAgent(parameters));
    std::ostringstream timeout;
    timeout << endpoint.GetTimeout();
    std::cout << "\n"
              << HostText(host_text::kSenderThreads, {std::to_string(connections)}) << "\n"
              << HostText(host_text::kTimeout, {timeout.str()}) << "\n"
              << HostText(host_text::kBaseURI, {endpoint.GetBaseURI()}) << "\n"
              << HostText(host_text::kUserAgent, {endpoint.GetUserAgent()}) << "\n";
}

// The user's locale for digit grouping; the classic one when the environment names none that exists.
std::locale UserLocale() {
    try {
        return std::locale("");
    } catch (const std::runtime_error&) {
        return std::locale::classic();
    }
}

// A file time in the long date and time format; empty when there is none.
std::string FormatPictureTime(int64_t time) {
    constexpr uint32_t kStringLongDateTime = 10014;
    if (time == -1)
        return "";
    return FormatTime(time, platform::LoadStringResource(kStringLongDateTime).value_or("%c"));
}

void PrintPictureProperties(const CImageProperties::Info& info, const std::locale& locale) {
    using namespace host_text;
    std::cout << HostText(kPropertiesTitle, {info.name}) << "\n"
              << HostText(kFileSection) << "\n"
              << HostText(kNameLine, {info.name}) << "\n"
              << HostText(kLocationLine, {info.folder}) << "\n"
              << HostText(kSizeLine, {FormatSizeWithByteCount(info.size, locale)}) << "\n"
              << HostText(kModifiedLine, {FormatPictureTime(info.modified)}) << "\n"
              << HostText(kImageSection) << "\n"
              << HostText(kTypeLine, {info.type}) << "\n"
              << HostText(kSizeLine, {FormatDimensions(info.width, info.height)}) << "\n"
              << HostText(kColorsLine, {FormatColourDepth(info.bitsPerPixel)}) << "\n"
              << HostText(kDateLine, {FormatPictureTime(info.date)}) << "\n"
              << HostText(kDetailsSection) << "\n";
    for (const auto& [label, value] : info.properties)
        std::cout << "  " << label << ": " << value << "\n";
}

// 0 when every path was a picture, else 1.
int PrintProperties(const std::vector<std::string>& paths) {
    if (paths.empty())
        throw CUsageError(HostText(host_text::kPropertiesNeedPath));
    const std::locale locale = UserLocale();
    int status = 0;
    bool first = true;
    for (const std::string& path : paths) {
        try {
            // The dialog is given full paths; a relative one would show no location.
            CImageProperties::Info info(platform::MakeAbsolutePath(path).value_or(path));
            std::cout << (first ? "" : "\n");
            first = false;
            PrintPictureProperties(info, locale);
        } catch (const CImageProperties::Info::NotAnImage&) {
            std::cout.flush();
            std::cerr << "pxupload: " << HostText(host_text::kNotAnImage, {path}) << "\n";
            status = 1;
        }
    }
    return status;
}

// The message for a preference that cannot be stored as given.
std::string PreferenceErrorText(PreferenceError error, std::string_view name) {
    if (uint32_t id = GetPreferenceErrorStringId(error)) {
        std::string text = platform::LoadStringResource(id).value_or("");
        std::replace(text.begin(), text.end(), '\n', ' ');
        return text;
    }
    switch (error) {
    case PreferenceError::UnknownName: {
        std::string names;
        for (const PreferenceDefinition& definition : GetPreferenceDefinitions())
            names += (names.empty() ? "" : ", ") + std::string(definition.name);
        return HostText(host_text::kUnknownPreference, {name, names});
    }
    case PreferenceError::NotBoolean:
        return HostText(host_text::kNotBoolean, {name});
    case PreferenceError::BadProxyState:
        return HostText(host_text::kBadProxyState);
    case PreferenceError::BadNumber:
        return HostText(host_text::kBadNumber, {name});
    default:
        return HostText(host_text::kBadValue, {name});
    }
}

// A stored password is shown only when asked for: a listing may be read over the user's shoulder.
constexpr const char* kHiddenPassword = "********";

void PrintPreferences(bool showPassword) {
    CNameValueDocument preferences;
    LoadPreferences(preferences);
    std::cout << HostText(host_text::kPreferencesHeading, {kPreferencesKey}) << "\n";
    for (const PreferenceSetting& setting : ListPreferences(preferences)) {
        char row[64];
        std::snprintf(row, sizeof row, "  %-22s ", setting.name.c_str());
        bool hidden = setting.name == "proxyPassword" && !setting.text.empty() && !showPassword;
        std::cout << row << "\"" << (hidden ? kHiddenPassword : setting.text) << "\""
                  << (setting.stored ? "" : HostText(host_text::kDefaultMark)) << "\n";
    }
    std::cout << "\n" << HostText(host_text::kRecentFolders) << "\n";
    std::vector<std::string> folders = LoadRecentFolders();
    if (folders.empty())
        std::cout << "  " << HostText(host_text::kNone) << "\n";
    for (const std::string& folder : folders)
        std::cout << "  " << folder << "\n";

    // What the "system" state would use: the Internet settings of the user (or the environment).
    std::cout << "\n" << HostText(host_text::kSystemProxy) << "\n";
    for (const char* scheme : {"http", "https"}) {
        int port = 0;
        std::string host = IsProxyEnabled(scheme) ? GetProxyServer(scheme, port) : std::string();
        std::cout << "  " << scheme << ": "
                  << (host.empty() ? HostText(host_text::kDirect) : host + ":" + std::to_string(port))
                  << "\n";
    }
}

int RunPrefs(const std::vector<std::string>& arguments, bool showPassword) {
    if (arguments.empty()) {
        PrintPreferences(showPassword);
        return 0;
    }
    const std::string& action = arguments[0];
    PreferenceError error = PreferenceError::None;
    if (action == "set" && arguments.size() == 3)
        error = SetStoredPreference(arguments[1], arguments[2]);
    else if (action == "unset" && arguments.size() == 2)
        error = UnsetStoredPreference(arguments[1]);
    else
        throw CUsageError(HostText(host_text::kPrefsSyntax));
    if (error != PreferenceError::None) {
        std::cerr << "pxupload: " << PreferenceErrorText(error, arguments[1]) << "\n";
        return kExitUsage;
    }
    return 0;
}

int Run(const CommandLine& line) {
    switch (line.command) {
    case CommandLine::Command::Help:
        PrintUsage(std::cout);
        return 0;
    case CommandLine::Command::Version:
        std::cout << "pxupload " << kPxVersion << "\n";
        return 0;
    case CommandLine::Command::Config:
        PrintConfig(LoadParameters(line));
        return 0;
    case CommandLine::Command::Properties:
        return PrintProperties(line.arguments);
    case CommandLine::Command::Prefs:
        return RunPrefs(line.arguments, line.showPassword);
    case CommandLine::Command::Upload:
        return RunUpload(LoadParameters(line), line.arguments, {.resume = line.resume, .retries = line.retries, .rateLimit = line.rateLimit});
    case CommandLine::Command::Window:
        return RunWindow(line);
    case CommandLine::Command::Register:
        RegisterUploadPlugin(ProgramPath());
        return 0;
    case CommandLine::Command::Unregister:
        UnregisterUploadPlugin();
        return 0;
    case CommandLine::Command::Run:
        // Alone, with a display, the program is the page with its control.
        if (CanRunHostWindow())
            return RunWindow(line);
        break;
    }
    throw CUsageError(HostText(host_text::kNoCommand));
}

} // namespace

int main(int argc, char** argv) {
    platform::SetResourceModule(&PxModuleResources());
    SetErrorMessageTable(LoadMessageTable(kErrorMessageTable));
    SetSocketMessageTable(LoadMessageTable(kSocketMessageTable));

    std::vector<std::string> words(argv + 1, argv + argc);
    int status = 0;
    try {
        CommandLine line = ParseCommandLine(words);
        SetTraceCategories(line.traceCategories);
        status = Run(line);
    } catch (const CUsageError& error) {
        std::cerr << "pxupload: " << error.what() << "\n" << HostText(host_text::kTryHelp) << "\n";
        status = kExitUsage;
    } catch (const CException& error) {
        std::cerr << "pxupload: " << error.GetText() << "\n";
        status = 1;
    } catch (...) {
        std::cerr << "pxupload: " << GetUnknownExceptionText() << "\n";
        status = 1;
    }
    SetSocketMessageTable(nullptr);
    SetErrorMessageTable(nullptr);
    return status;
}
