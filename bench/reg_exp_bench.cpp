// Compiling and matching the system's own patterns on representative texts, side by side with the C
// library's regcomp/regexec (REG_EXTENDED) in the same run. Our <...> groups are written as (...) for
// the C library, and \d as [0-9], which it lacks; it is asked for as many groups as ours reports, so
// both do the same work. Ours matches on a copy of the compiled object, as every user does.
//   build/rel/bench/reg_exp_bench --benchmark_filter=Match --benchmark_repetitions=9
#include "foundation/reg_exp.h"

#include <regex.h>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

namespace {

struct PatternCase {
    const char* name;
    std::string ours;
    std::string theirs;
    int flags;
    std::vector<std::string> texts; // matching and non-matching ones
};

// Our pattern in the C library's dialect: <...> as (...), \d as [0-9] (outside brackets only here).
std::string ForTheCLibrary(const std::string& pattern) {
    std::string out;
    bool inBracket = false;
    for (size_t i = 0; i < pattern.size(); ++i) {
        char c = pattern[i];
        if (!inBracket && c == '\\' && i + 1 < pattern.size()) {
            out += pattern[i + 1] == 'd' ? std::string("[0-9]") : pattern.substr(i, 2);
            ++i;
        } else if (!inBracket && c == '<') {
            out += '(';
        } else if (!inBracket && c == '>') {
            out += ')';
        } else {
            if (c == '[' && !inBracket) {
                inBracket = true;
                out += c;
                // A leading ^ and ] belong to the set.
                if (i + 1 < pattern.size() && pattern[i + 1] == '^')
                    out += pattern[++i];
                if (i + 1 < pattern.size() && pattern[i + 1] == ']')
                    out += pattern[++i];
                continue;
            }
            if (c == ']' && inBracket)
                inBracket = false;
            out += c;
        }
    }
    return out;
}

std::vector<PatternCase> MakeCases() {
    const std::string months = "(jan|feb|mar|apr|may|jun|jul|aug|sep|oct|nov|dec)";
    std::vector<PatternCase> cases = {
        {"status_line",
         "^HTTP/(\\d+)\\.(\\d+) ([12345]\\d\\d) (.*)\\s*$",
         "",
         0,
         {"HTTP/1.1 200 OK", "HTTP/1.0 404 Not Found", "HTTP/1.1 100 Continue", "HTTP/1.1 600 Bad",
          "Content-Length: 42"}},
        {"header_line",
         "([!#\\\\$%&'*+-.0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ^_`abcdefghijklmnopqrstuvwxyz|~]+):\\s*([\t "
         "-~]*)\\s*$",
         "",
         0,
         {"Content-Length: 1234", "Set-Cookie: session=abcdef0123456789; path=/; HttpOnly",
          "Content-Type: multipart/byteranges; boundary=THIS_STRING_SEPARATES", "Server: Apache",
          "this line has no separator at all"}},
        {"uri",
         "<([^:/?#]+):>?<//([^/?#]*)>?([^?#]*)<\\?([^#]*)>?<#(.*)>?",
         "",
         0,
         {"http://upload.pixolane.example:8080/servlet/UploadImage?id=1234&part=2#top", "/servlet/GetImageID",
          "https://user:pw@www.example.com/a/b/c.jpg"}},
        {"authority",
         "<<((<[-A-Za-z0-9_.!~*'();:&=+$,]|%[0-9A-Fa-f][0-9A-Fa-f]>)*)@>?(<<<[A-Za-z0-9]|[A-Za-z0-9][-A-Za-"
         "z0-9]*"
         "[A-Za-z0-9]>\\.>*<[A-Za-z]|[A-Za-z][-A-Za-z0-9]*[A-Za-z0-9]>|\\d+\\.\\d+\\.\\d+\\.\\d+>)<:(\\d*)>?>"
         "?",
         "",
         0,
         {"upload.pixolane.example:8080", "user:pw@www.example.com", "10.0.0.1:", "-bad.host"}},
        {"date_rfc1123",
         "<(mon|tue|wed|thu|fri|sat|sun),\\s+>?(\\d\\d)\\s+" + months +
             "\\s+(\\d\\d\\d\\d|\\d\\d)\\s+(\\d\\d):(\\d\\d)<:(\\d\\d)>?\\s+([a-z][a-z]+|<\\+|-><"
             "\\d\\d\\d\\d>|"
             "[a-ik-z]\\b)",
         "",
         CRegExp::kIgnoreCase,
         {"Sun, 06 Nov 1994 08:49:37 GMT", "06 Nov 1994 08:49 +0100", "Sunday, 06-Nov-94 08:49:37 GMT",
          "not a date"}},
        {"date_rfc850",
         "<(mon|monday|tue|tuesday|wed|wednesday|thu|thursday|fri|friday|sat|saturday|sun|sunday),\\s+>?("
         "\\d\\d)"
         "<\\s+|->" +
             months +
             "<\\s+|->(\\d\\d)\\s+(\\d\\d):(\\d\\d)<:(\\d\\d)>?\\s+([a-z][a-z]+|<\\+|-><\\d\\d\\d\\d>|[a-ik-"
             "z]\\b)",
         "",
         CRegExp::kIgnoreCase,
         {"Sunday, 06-Nov-94 08:49:37 GMT", "Sun Nov  6 08:49:37 1994", "not a date"}},
        {"date_asctime",
         "<(mon|tue|wed|thu|fri|sat|sun)\\s+>?" + months +
             "\\s+(\\d{1,2})\\s+(\\d\\d):(\\d\\d)<:(\\d\\d)>?\\s+(\\d\\d\\d\\d)\\b",
         "",
         CRegExp::kIgnoreCase,
         {"Sun Nov  6 08:49:37 1994", "Sun, 06 Nov 1994 08:49:37 GMT", "not a date"}},
        {"jpeg_name",
         "\\.[jJ][pP]<[eE]?[gG]|[eE]>$",
         "",
         0,
         {"/home/user/Pictures/Holiday 2004/IMG_0001.JPG", "DSC01234.jpeg", "notes.txt",
          "/home/user/Pictures/archive.jpg.zip"}},
        {"challenge",
         std::string("^([^][()<>{}@,;:/\\\\\"?= \t\x01-\x1f\x7f]+)\\s*(.*)"),
         "",
         0,
         {"Basic realm=\"Pixolane Upload\"", "NTLM", " bad"}},
    };
    for (PatternCase& c : cases)
        c.theirs = ForTheCLibrary(c.ours);
    return cases;
}

int CFlags(int flags) {
    return REG_EXTENDED | REG_NEWLINE | ((flags & CRegExp::kIgnoreCase) ? REG_ICASE : 0);
}

void OursCompile(benchmark::State& state, const PatternCase& c) {
    for (auto _ : state) {
        CRegExp re(c.ours, c.flags);
        benchmark::DoNotOptimize(re);
    }
}

void TheirsCompile(benchmark::State& state, const PatternCase& c) {
    for (auto _ : state) {
        regex_t re;
        if (regcomp(&re, c.theirs.c_str(), CFlags(c.flags)) != 0)
            state.SkipWithError("regcomp failed");
        regfree(&re);
    }
}

// One round matches every text of the case once, on a copy of the static object as users do.
void OursMatch(benchmark::State& state, const PatternCase& c) {
    const CRegExp compiled(c.ours, c.flags);
    int matches = 0;
    for (auto _ : state) {
        for (const std::string& text : c.texts) {
            CRegExp re(compiled);
            matches += re.Match(text);
            benchmark::DoNotOptimize(re.GetGroupStart(re.GetGroupCount() - 1));
        }
    }
    benchmark::DoNotOptimize(matches);
    state.SetItemsProcessed(state.iterations() * c.texts.size());
}

void TheirsMatch(benchmark::State& state, const PatternCase& c) {
    regex_t re;
    if (regcomp(&re, c.theirs.c_str(), CFlags(c.flags)) != 0) {
        state.SkipWithError("regcomp failed");
        return;
    }
    // The C library holds more groups (our <...> capture there); it fills as many as ours reports.
    std::vector<regmatch_t> groups(static_cast<size_t>(CRegExp(c.ours, c.flags).GetGroupCount()));
    int matches = 0;
    for (auto _ : state) {
        for (const std::string& text : c.texts) {
            matches += regexec(&re, text.c_str(), groups.size(), groups.data(), 0) == 0;
            benchmark::DoNotOptimize(groups.data());
        }
    }
    benchmark::DoNotOptimize(matches);
    regfree(&re);
    state.SetItemsProcessed(state.iterations() * c.texts.size());
}

const std::vector<PatternCase>& Cases() {
    static const std::vector<PatternCase> cases = MakeCases();
    return cases;
}

const bool kRegistered = [] {
    for (const PatternCase& c : Cases()) {
        std::string name = c.name;
        benchmark::RegisterBenchmark(("Compile/" + name + "/ours").c_str(), OursCompile, c);
        benchmark::RegisterBenchmark(("Compile/" + name + "/glibc").c_str(), TheirsCompile, c);
        benchmark::RegisterBenchmark(("Match/" + name + "/ours").c_str(), OursMatch, c);
        benchmark::RegisterBenchmark(("Match/" + name + "/glibc").c_str(), TheirsMatch, c);
    }
    return true;
}();

} // namespace

BENCHMARK_MAIN();
