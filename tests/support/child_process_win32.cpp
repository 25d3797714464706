#include "tests/support/child_process.h"
#include "tests/support/scoped_env.h"

// WinSock 2 before the standard headers, whose thread library brings in windows.h.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
// clang-format on

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

namespace testsupport {

namespace {

using Changes = std::vector<std::pair<std::string, std::optional<std::string>>>;

constexpr DWORD kFirstFailureStatus = 0xC0000000; // NTSTATUS errors: the child crashed, it did not exit

void StartWinSock() {
    static std::once_flag once;
    std::call_once(once, [] {
        WSADATA data;
        ::WSAStartup(MAKEWORD(2, 2), &data);
    });
}

bool EndsWithExe(const std::string& path) {
    if (path.size() < 4)
        return false;
    std::string end = path.substr(path.size() - 4);
    std::transform(end.begin(), end.end(), end.begin(), [](unsigned char c) { return std::tolower(c); });
    return end == ".exe";
}

bool IsFile(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

bool IsUnixPath(const std::string& path) {
    return !path.empty() && path[0] == '/';
}

// A Windows program: `name` or `name`.exe, as a path or in PATH and then `folders`; "" when none.
std::string FindWindowsProgram(const std::string& name, const std::vector<std::string>& folders) {
    auto candidate = [](const std::string& path) -> std::string {
        if (EndsWithExe(path))
            return IsFile(path) ? path : "";
        return IsFile(path + ".exe") ? path + ".exe" : "";
    };
    if (name.empty())
        return "";
    // A Unix path names a Windows program only with its ".exe" (a build tree's, say).
    if (name.find_first_of("/\\") != std::string::npos)
        return IsUnixPath(name) && !EndsWithExe(name) ? "" : candidate(name);
    std::vector<std::string> all;
    std::string path = GetEnv("PATH").value_or("");
    for (size_t start = 0; start <= path.size();) {
        size_t end = std::min(path.find(';', start), path.size());
        if (end > start)
            all.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    for (const std::string& folder : folders)
        if (!IsUnixPath(folder))
            all.push_back(folder);
    for (const std::string& folder : all) {
        const bool separated = folder.back() == '/' || folder.back() == '\\';
        std::string found = candidate(folder + (separated ? "" : "/") + name);
        if (!found.empty())
            return found;
    }
    return "";
}

// --- The host broker: one JSON line each way per request, see host_broker.py.

std::string Utf8(const std::string& ansi) {
    if (ansi.empty())
        return ansi;
    int wide = ::MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(wide), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), text.data(), wide);
    int narrow = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(narrow), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, utf8.data(), narrow, nullptr, nullptr);
    return utf8;
}

std::string Ansi(const std::string& utf8) {
    if (utf8.empty())
        return utf8;
    int wide = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(wide), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(), wide);
    int narrow = ::WideCharToMultiByte(CP_ACP, 0, text.data(), wide, nullptr, 0, nullptr, nullptr);
    std::string ansi(static_cast<size_t>(narrow), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text.data(), wide, ansi.data(), narrow, nullptr, nullptr);
    return ansi;
}

std::string Json(const std::string& ansi) {
    std::string quoted = "\"";
    for (unsigned char c : Utf8(ansi)) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            quoted += escape;
        } else {
            quoted += static_cast<char>(c);
        }
    }
    return quoted + "\"";
}

std::string Json(const std::optional<std::string>& value) {
    return value ? Json(*value) : "null";
}

// The raw value after "name": in a flat JSON object (a string still quoted); "" when absent.
std::string Field(const std::string& object, const std::string& name) {
    size_t at = object.find("\"" + name + "\"");
    if (at == std::string::npos)
        return "";
    at = object.find(':', at);
    if (at == std::string::npos)
        return "";
    at = object.find_first_not_of(" \t", at + 1);
    if (at == std::string::npos)
        return "";
    if (object[at] != '"')
        return object.substr(at, object.find_first_of(",}", at) - at);
    size_t end = at + 1;
    while (end < object.size() && object[end] != '"')
        end += object[end] == '\\' ? 2 : 1;
    return object.substr(at, end + 1 - at);
}

void AppendUtf8(std::string& text, unsigned code) {
    if (code < 0x80) {
        text += static_cast<char>(code);
    } else if (code < 0x800) {
        text += static_cast<char>(0xC0 | (code >> 6));
        text += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        text += static_cast<char>(0xE0 | (code >> 12));
        text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// A JSON string's text, in the ANSI code page.
std::string Unquote(const std::string& quoted) {
    if (quoted.size() < 2 || quoted.front() != '"')
        return "";
    std::string text;
    for (size_t i = 1; i + 1 < quoted.size(); ++i) {
        if (quoted[i] != '\\') {
            text += quoted[i];
            continue;
        }
        char c = quoted[++i];
        switch (c) {
        case 'n':
            text += '\n';
            break;
        case 't':
            text += '\t';
            break;
        case 'r':
            text += '\r';
            break;
        case 'b':
            text += '\b';
            break;
        case 'f':
            text += '\f';
            break;
        case 'u':
            AppendUtf8(text, static_cast<unsigned>(std::stoul(quoted.substr(i + 1, 4), nullptr, 16)));
            i += 4;
            break;
        default:
            text += c;
            break;
        }
    }
    return Ansi(text);
}

uint16_t BrokerPort() {
    std::optional<std::string> port = GetEnv("PX_HOST_BROKER");
    if (!port)
        return 0;
    try {
        // "PORT" or "127.0.0.1:PORT".
        return static_cast<uint16_t>(std::stoul(port->substr(port->rfind(':') + 1)));
    } catch (const std::exception&) {
        return 0;
    }
}

SOCKET ConnectBroker() {
    uint16_t port = BrokerPort();
    if (port == 0)
        return INVALID_SOCKET;
    StartWinSock();
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return s;
    // Children started meanwhile must not keep the broker's connection open.
    ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

bool SendLine(SOCKET s, const std::string& line) {
    std::string bytes = line + "\n";
    for (size_t sent = 0; sent < bytes.size();) {
        int n = ::send(s, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

// One answer line; "" when the broker went away.
std::string ReceiveLine(SOCKET s) {
    std::string line;
    char c;
    while (::recv(s, &c, 1, 0) == 1) {
        if (c == '\n')
            return line;
        line += c;
    }
    return "";
}

// One request on a connection of its own: the answer line, "" without a broker.
std::string AskBroker(const std::string& request) {
    SOCKET s = ConnectBroker();
    if (s == INVALID_SOCKET)
        return "";
    std::string answer = SendLine(s, request) ? ReceiveLine(s) : "";
    ::closesocket(s);
    return answer;
}

std::string JsonList(const std::vector<std::string>& texts) {
    std::string list = "[";
    for (const std::string& text : texts) {
        if (list.size() > 1)
            list += ", ";
        list += Json(text);
    }
    return list + "]";
}

// --- Windows programs.

// One argument as the C runtime's command-line parser takes it back.
std::string Quoted(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos)
        return argument;
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + "\"";
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// The process's environment with `changes`, as a block for CreateProcess (names sorted without case).
std::string EnvironmentBlock(const Changes& changes) {
    std::vector<std::string> entries;
    if (char* block = ::GetEnvironmentStringsA()) {
        for (const char* entry = block; *entry != '\0'; entry += std::strlen(entry) + 1)
            entries.emplace_back(entry);
        ::FreeEnvironmentStringsA(block);
    }
    auto nameOf = [](const std::string& entry) {
        // Names such as "=C:" start with the sign they end with.
        return Lower(entry.substr(0, entry.find('=', 1)));
    };
    for (const auto& [name, value] : changes) {
        std::erase_if(entries, [&](const std::string& e) { return nameOf(e) == Lower(name); });
        if (value)
            entries.push_back(name + "=" + *value);
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [&](const std::string& a, const std::string& b) { return nameOf(a) < nameOf(b); });
    std::string block;
    for (const std::string& entry : entries)
        block += entry + '\0';
    return block + '\0';
}

HANDLE OpenOutput(const std::string& path) {
    SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         &inherited, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The process started, or null.
HANDLE StartWindowsProgram(const std::string& program, const std::vector<std::string>& argv,
                           const ChildProcess::Options& options, const std::string& inputPath) {
    std::string commandLine;
    for (const std::string& argument : argv) {
        if (!commandLine.empty())
            commandLine += ' ';
        commandLine += Quoted(argument);
    }
    std::string environment = EnvironmentBlock(options.environment);

    HANDLE input = INVALID_HANDLE_VALUE;
    if (!inputPath.empty()) {
        SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        input = ::CreateFileA(inputPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    HANDLE output = INVALID_HANDLE_VALUE;
    HANDLE error = INVALID_HANDLE_VALUE;
    if (!options.outputPath.empty())
        output = OpenOutput(options.outputPath);
    if (!options.errorPath.empty() && options.errorPath == options.outputPath)
        error = output;
    else if (!options.errorPath.empty())
        error = OpenOutput(options.errorPath);
    const bool redirected = !options.outputPath.empty() || !options.errorPath.empty() || !inputPath.empty();

    STARTUPINFOEXA startup{};
    startup.StartupInfo.cb = sizeof startup;
    std::vector<HANDLE> handles;
    std::vector<char> attributeList;
    if (redirected) {
        startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
        startup.StartupInfo.hStdInput =
            input != INVALID_HANDLE_VALUE ? input : ::GetStdHandle(STD_INPUT_HANDLE);
        startup.StartupInfo.hStdOutput =
            output != INVALID_HANDLE_VALUE ? output : ::GetStdHandle(STD_OUTPUT_HANDLE);
        startup.StartupInfo.hStdError =
            error != INVALID_HANDLE_VALUE ? error : ::GetStdHandle(STD_ERROR_HANDLE);
        // Only the output files are handed down, not every socket the test has open.
        for (HANDLE h : {input, output, error})
            if (h != INVALID_HANDLE_VALUE && std::find(handles.begin(), handles.end(), h) == handles.end())
                handles.push_back(h);
        SIZE_T size = 0;
        ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        attributeList.resize(size);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributeList.data());
        if (!handles.empty() && ::InitializeProcThreadAttributeList(list, 1, 0, &size) &&
            ::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles.data(),
                                        handles.size() * sizeof(HANDLE), nullptr, nullptr))
            startup.lpAttributeList = list;
    }
    PROCESS_INFORMATION process{};
    DWORD flags = startup.lpAttributeList ? EXTENDED_STARTUPINFO_PRESENT : 0;
    BOOL started = ::CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, redirected, flags,
                                    environment.data(), nullptr, &startup.StartupInfo, &process);
    if (!started && startup.lpAttributeList) {
        // A system without handle lists: every inheritable handle goes down instead.
        startup.lpAttributeList = nullptr;
        started = ::CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, redirected, 0,
                                   environment.data(), nullptr, &startup.StartupInfo, &process);
    }
    if (!attributeList.empty() && !handles.empty())
        ::DeleteProcThreadAttributeList(reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributeList.data()));
    for (HANDLE h : handles)
        ::CloseHandle(h);
    if (!started)
        return nullptr;
    ::CloseHandle(process.hThread);
    return process.hProcess;
}

struct WindowSearch {
    DWORD process;
    bool found;
};

BOOL CALLBACK CloseIfOwned(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner == search->process && ::IsWindowVisible(window)) {
        ::PostMessageA(window, WM_CLOSE, 0, 0);
        search->found = true;
    }
    return TRUE;
}

// Asks every visible top-level window of process `id` to close; whether there was one.
bool CloseWindowsOf(DWORD id) {
    WindowSearch search{id, false};
    ::EnumWindows(CloseIfOwned, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

} // namespace

ChildProcess::ChildProcess(std::vector<std::string> argv, Options options, const std::string& inputPath) {
    if (argv.empty())
        return;
    std::string program = FindWindowsProgram(argv[0], {});
    if (!program.empty()) {
        HANDLE process = StartWindowsProgram(program, argv, options, inputPath);
        if (process == nullptr)
            return;
        m_process = reinterpret_cast<intptr_t>(process);
        m_processId = ::GetProcessId(process);
        m_state = State::Running;
        return;
    }
    SOCKET broker = ConnectBroker();
    if (broker == INVALID_SOCKET)
        return;
    std::string environment;
    for (const auto& [name, value] : options.environment) {
        if (!environment.empty())
            environment += ", ";
        environment += Json(name) + ": " + Json(value);
    }
    auto path = [](const std::string& p) { return p.empty() ? std::string("null") : Json(p); };
    std::string request = "{\"argv\": " + JsonList(argv) + ", \"env\": {" + environment +
                          "}, \"stdout\": " + path(options.outputPath) +
                          ", \"stderr\": " + path(options.errorPath) + ", \"stdin\": " + path(inputPath) +
                          "}";
    std::string answer = SendLine(broker, request) ? ReceiveLine(broker) : "";
    if (Field(answer, "started") != "true") {
        ::closesocket(broker);
        return;
    }
    m_processId = std::stoll(Field(answer, "pid"));
    m_process = static_cast<intptr_t>(broker);
    m_brokered = true;
    m_state = State::Running;
}

ChildProcess::~ChildProcess() {
    if (m_state == State::Running)
        Stop();
    if (m_process == -1)
        return;
    if (m_brokered)
        ::closesocket(static_cast<SOCKET>(m_process)); // the broker ends whatever is left of the child
    else
        ::CloseHandle(reinterpret_cast<HANDLE>(m_process));
}

bool ChildProcess::Reap(bool block) {
    if (m_state != State::Running)
        return true;
    if (m_brokered) {
        SOCKET broker = static_cast<SOCKET>(m_process);
        std::string answer;
        if (SendLine(broker, block ? "wait -1" : "state"))
            answer = ReceiveLine(broker);
        std::string state = Unquote(Field(answer, "state"));
        if (state == "running")
            return false;
        if (state == "exited" && !m_ending) {
            m_state = State::Exited;
            m_exitCode = std::stoi(Field(answer, "code"));
        } else {
            // Killed, or the broker went away and took the child with it.
            m_state = State::Killed;
        }
        return true;
    }
    HANDLE process = reinterpret_cast<HANDLE>(m_process);
    if (::WaitForSingleObject(process, block ? INFINITE : 0) != WAIT_OBJECT_0)
        return false;
    DWORD code = 0;
    ::GetExitCodeProcess(process, &code);
    if (m_ending || code >= kFirstFailureStatus) {
        m_state = State::Killed;
    } else {
        m_state = State::Exited;
        m_exitCode = static_cast<int>(code);
    }
    return true;
}

ChildProcess::State ChildProcess::GetState() {
    Reap(false);
    return m_state;
}

bool ChildProcess::Wait(double seconds) {
    if (seconds < 0)
        return Reap(true);
    if (m_state != State::Running)
        return true;
    if (m_brokered) {
        // The broker waits on its side: one round trip instead of polling.
        SOCKET broker = static_cast<SOCKET>(m_process);
        if (!SendLine(broker, "wait " + std::to_string(seconds)) || ReceiveLine(broker).empty()) {
            m_state = State::Killed;
            return true;
        }
        return Reap(false);
    }
    auto milliseconds = static_cast<DWORD>(std::min(seconds * 1000 + 0.5, 4.0e9));
    ::WaitForSingleObject(reinterpret_cast<HANDLE>(m_process), milliseconds);
    return Reap(false);
}

void ChildProcess::Stop(double seconds) {
    // A child that ended by itself before keeps its exit status.
    if (Reap(false))
        return;
    m_ending = true;
    if (m_brokered) {
        SOCKET broker = static_cast<SOCKET>(m_process);
        if (SendLine(broker, "stop " + std::to_string(seconds)))
            ReceiveLine(broker);
        Reap(false);
        if (m_state == State::Running)
            Kill();
        return;
    }
    // A program with windows is asked to close them; any other cannot be asked to end on Windows.
    if (CloseWindowsOf(::GetProcessId(reinterpret_cast<HANDLE>(m_process))) && Wait(seconds))
        return;
    Kill();
}

void ChildProcess::Kill() {
    if (Reap(false))
        return;
    m_ending = true;
    if (m_brokered) {
        SOCKET broker = static_cast<SOCKET>(m_process);
        if (SendLine(broker, "kill"))
            ReceiveLine(broker);
        m_state = State::Killed;
        return;
    }
    ::TerminateProcess(reinterpret_cast<HANDLE>(m_process), 1); // only the process this object started
    Reap(true);
}

std::string HostPath(const std::string& path) {
    std::string translated = Unquote(Field(AskBroker("{\"translate\": " + Json(path) + "}"), "path"));
    return translated.empty() ? path : translated;
}

std::string ThisProgram() {
    char path[MAX_PATH * 4];
    DWORD length = ::GetModuleFileNameA(nullptr, path, sizeof path);
    return length > 0 && length < sizeof path ? std::string(path, length) : "";
}

std::vector<std::string> ThisProgramRunning(const std::string& name) {
    return {ThisProgram(), "--gtest_filter=" + name, "--gtest_also_run_disabled_tests"};
}

std::string FindProgram(const std::string& name, const std::vector<std::string>& extraFolders) {
    std::string program = FindWindowsProgram(name, extraFolders);
    if (!program.empty())
        return program;
    std::vector<std::string> unixFolders;
    for (const std::string& folder : extraFolders)
        if (IsUnixPath(folder))
            unixFolders.push_back(folder);
    return Unquote(Field(
        AskBroker("{\"which\": " + Json(name) + ", \"folders\": " + JsonList(unixFolders) + "}"), "path"));
}

} // namespace testsupport
