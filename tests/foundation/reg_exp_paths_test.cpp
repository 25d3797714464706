// The dissection's bit-table path (frames) against its general state-set path: on the system's own
// patterns and on random patterns and texts, both must report the same match and the same groups.
#include "foundation/reg_exp.h"
#include "foundation/reg_exp_program.h"
#include "tests/foundation/reg_exp_test_support.h"

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

// Matches `text` once with the bit tables and once without; returns the groups of the first run after
// checking that the second agrees.
std::string BothPaths(const std::string& pattern, int compileFlags, const std::string& text, int matchFlags) {
    CRegExp re(pattern, compileFlags);
    SetRegExpFastPathsForTesting(false);
    std::string general = MatchGroups(re, text, matchFlags);
    SetRegExpFastPathsForTesting(true);
    std::string fast = MatchGroups(re, text, matchFlags);
    EXPECT_EQ(fast, general) << "pattern " << pattern << " text \"" << text << "\" flags " << matchFlags;
    return fast;
}

// How many of the program's nodes have bit tables: a case that has none tests nothing new.
size_t FramesOf(const std::string& pattern, int flags) {
    RegExpProgram program;
    EXPECT_EQ(CompileRegExpProgram(pattern.data(), pattern.size(), flags, program), kRegOkay) << pattern;
    return program.frames.size();
}

const std::string kMonths = "(jan|feb|mar|apr|may|jun|jul|aug|sep|oct|nov|dec)";
const std::string kToken = std::string("[^][()<>{}@,;:/\\\\\"?= \t\x01-\x1f\x7f]+");

struct SystemCase {
    std::string pattern;
    int flags;
    std::vector<std::string> texts;
};

const std::vector<SystemCase>& SystemCases() {
    static const std::vector<SystemCase> cases = {
        {"^HTTP/(\\d+)\\.(\\d+) ([12345]\\d\\d) (.*)\\s*$",
         0,
         {"HTTP/1.1 200 OK", "HTTP/1.0 404 Not Found", "HTTP/12.34 503 ", "HTTP/1.1 200 OK  \r",
          "HTTP/1.0 200", "HTTP/1.1 600 X", "x\nHTTP/1.1 200 OK\ny"}},
        {"([!#\\\\$%&'*+-.0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ^_`abcdefghijklmnopqrstuvwxyz|~]+):\\s*([\t "
         "-~]*)\\s*$",
         0,
         {"Content-Length: 42", "X-A:b", "Set-Cookie: a=1; path=/  ", "X:\tv\tw", "Empty:", "a: b\nc: d",
          "no colon here"}},
        {"content-range:\\s*bytes\\s+(\\d+)-(\\d+)",
         CRegExp::kIgnoreCase,
         {"Content-Type: text/plain\r\nContent-Range: bytes 500-999/8000", "CONTENT-RANGE:bytes\t0-0"}},
        {"multipart/byteranges;.*boundary=<\"([^\"]+)\"|([0-9a-z'+_.-]+)>",
         CRegExp::kIgnoreCase,
         {"multipart/byteranges; boundary=THIS_STRING_SEPARATES",
          "Multipart/ByteRanges; boundary=\"a b:c\""}},
        {"<([^:/?#]+):>?<//([^/?#]*)>?([^?#]*)<\\?([^#]*)>?<#(.*)>?",
         0,
         {"http://user@host:8080/path/x?q=1&r#frag", "/just/a/path", "//host", "?q", "", "a:b:c//d?e?f#g#h"}},
        {"<<((<[-A-Za-z0-9_.!~*'();:&=+$,]|%[0-9A-Fa-f][0-9A-Fa-f]>)*)@>?(<<<[A-Za-z0-9]|[A-Za-z0-9][-A-Za-"
         "z0-9]*"
         "[A-Za-z0-9]>\\.>*<[A-Za-z]|[A-Za-z][-A-Za-z0-9]*[A-Za-z0-9]>|\\d+\\.\\d+\\.\\d+\\.\\d+>)<:(\\d*)>?>"
         "?",
         0,
         {"a1.b-2.c:8080", "10.0.0.1:", "user:pw%41@www.example.com", "-b.c", "host", "a@b@c.d:1"}},
        {"<(mon|tue|wed|thu|fri|sat|sun),\\s+>?(\\d\\d)\\s+" + kMonths +
             "\\s+(\\d\\d\\d\\d|\\d\\d)\\s+(\\d\\d):(\\d\\d)<:(\\d\\d)>?\\s+([a-z][a-z]+|<\\+|-><"
             "\\d\\d\\d\\d>|[a-ik-"
             "z]\\b)",
         CRegExp::kIgnoreCase,
         {"Sun, 06 Nov 1994 08:49:37 GMT", "06 Nov 1994 08:49 +0100", "sun, 06 NOV 94 08:49:37 z",
          "Sunday, 06-Nov-94 08:49:37 GMT"}},
        {"<(mon|monday|tue|tuesday|wed|wednesday|thu|thursday|fri|friday|sat|saturday|sun|sunday),\\s+>?("
         "\\d\\d)<"
         "\\s+|->" +
             kMonths +
             "<\\s+|->(\\d\\d)\\s+(\\d\\d):(\\d\\d)<:(\\d\\d)>?\\s+([a-z][a-z]+|<\\+|-><\\d\\d\\d\\d>|[a-ik-"
             "z]\\b)",
         CRegExp::kIgnoreCase,
         {"Sunday, 06-Nov-94 08:49:37 GMT", "Wed, 09 Jun 21 10:18:14 -0500", "Sun Nov  6 08:49:37 1994"}},
        {"<(mon|tue|wed|thu|fri|sat|sun)\\s+>?" + kMonths +
             "\\s+(\\d{1,2})\\s+(\\d\\d):(\\d\\d)<:(\\d\\d)>?\\s+(\\d\\d\\d\\d)\\b",
         CRegExp::kIgnoreCase,
         {"Sun Nov  6 08:49:37 1994", "Nov 16 08:49 1994", "Sun Nov  6 08:49:37 19945"}},
        {"^(" + kToken + ")\\s*(.*)", 0, {"Basic realm=\"Pixolane\"", "NTLM", " Basic"}},
        {"^(" + kToken + ")=(.*)", 0, {"realm=\"a\", charset=x", "realm"}},
        {std::string("^\"(<[^\\\\\"\x01-\x1f\x7f]+|<\\\\\\\\>*\\\\.>*)\"(.*)"),
         0,
         {"\"a\\\"b\\\\\", c=d", "\"\", x", "\"open"}},
        {"^\\s*,\\s*(.*)", 0, {" , d=e", "d=e"}},
    };
    return cases;
}

TEST(RegExpPaths, SystemPatternsGiveTheSameGroupsOnBothPaths) {
    for (const SystemCase& c : SystemCases()) {
        EXPECT_GT(FramesOf(c.pattern, c.flags), 0u) << c.pattern;
        for (const std::string& text : c.texts)
            for (int matchFlags = 0; matchFlags < 4; ++matchFlags)
                BothPaths(c.pattern, c.flags, text, matchFlags);
    }
}

// The words per row of the root's frame, 0 when it has none.
uint32_t RootFrameWords(const std::string& pattern) {
    RegExpProgram program;
    EXPECT_EQ(CompileRegExpProgram(pattern.data(), pattern.size(), 0, program), kRegOkay) << pattern;
    int32_t frame = program.nodes[program.root].frame;
    return frame < 0 ? 0 : program.frames[frame].words;
}

// Frames of one to eight words and none at all (beyond 512 instructions), with the parts and tests
// placed across word boundaries (parts in one word and parts over several take different paths).
TEST(RegExpPaths, FramesOfEverySizeGiveTheSameGroups) {
    struct Row {
        std::string pattern;
        uint32_t words;
        std::string text;
        const char* groups;
    };
    const Row rows[] = {
        {"(x)<a?b?>{3}(b+)c", 1, "xababbbc", "(0,8)(0,1)(6,7)"},
        // The optional run takes all it can; b+ keeps one b.
        {"(x)<a?b?>{10}(b+)c", 2, "xababbbc", "(0,8)(0,1)(6,7)"},
        // Three words, a test in the middle of the frame.
        {"(x)<a?b?>{12}\\b(b*)<c?>{8}(c)$", 3, "xab cc", "no match"},
        {"(x)<a?b?>{12}\\B(b*)<c?>{8}(c)$", 3, "xabbcc", "(0,6)(0,1)(4,4)(5,6)"},
        {"(x)<a?b?>{12}(\\b)\\s?(b*)<c?>{8}(c)$", 3, "xab cc", "(0,6)(0,1)(3,3)(4,4)(5,6)"},
        // Six and eight words.
        {"(x)<a?b?>{40}(b*)(c)", 6, "xabababbbbc", "(0,11)(0,1)(10,10)(10,11)"},
        {"(x)<<a?b?>{62}>(b*)(c)", 8, "xabababbbbc", "(0,11)(0,1)(10,10)(10,11)"},
        // No frame: the dissection falls back to state sets on both paths.
        {"(x)<a?b?>{90}(b*)(c)", 0, "xabbc", "(0,5)(0,1)(4,4)(4,5)"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(RootFrameWords(row.pattern), row.words) << row.pattern;
        EXPECT_EQ(BothPaths(row.pattern, 0, row.text, 0), row.groups) << row.pattern;
    }
}

// Random patterns over a small alphabet, with groups of both kinds, choices, repetitions, sets,
// classes, anchors and word boundaries.
class RandomPattern {
public:
    explicit RandomPattern(std::mt19937& random) : m_random(random) {}

    std::string Make() {
        m_depth = 0;
        return Alternatives();
    }

private:
    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(m_random); }

    std::string Alternatives() {
        std::string out = Branch();
        // Appended apart: g++ 12 at -O3 sees a false overlap (-Wrestrict) in "|" + Branch().
        while (Pick(5) == 0) {
            out += '|';
            out += Branch();
        }
        return out;
    }
    std::string Branch() {
        std::string out;
        for (int n = 1 + Pick(4); n > 0; --n)
            out += Piece();
        return out;
    }
    std::string Piece() {
        std::string atom = Atom();
        if (atom == "^" || atom == "$" || atom == "\\b" || atom == "\\B")
            return atom;
        switch (Pick(10)) {
        case 0:
            return atom + "*";
        case 1:
            return atom + "+";
        case 2:
            return atom + "?";
        case 3: {
            int min = Pick(3);
            return atom + "{" + std::to_string(min) + "," + std::to_string(min + Pick(3)) + "}";
        }
        default:
            return atom;
        }
    }
    std::string Atom() {
        static const char* const leaves[] = {"a",   "b",   "c", " ", ".",   "[ab]", "[^a]", "\\w",
                                             "\\s", "\\d", "^", "$", "\\b", "\\B",  "1"};
        if (m_depth < 3 && Pick(3) == 0) {
            ++m_depth;
            bool capturing = Pick(3) != 0;
            std::string inner = Alternatives();
            --m_depth;
            return capturing ? "(" + inner + ")" : "<" + inner + ">";
        }
        return leaves[Pick(sizeof(leaves) / sizeof(leaves[0]))];
    }

    std::mt19937& m_random;
    int m_depth = 0;
};

TEST(RegExpPaths, RandomPatternsGiveTheSameGroupsOnBothPaths) {
    std::mt19937 random(20261208);
    RandomPattern generator(random);
    const char alphabet[] = "abc 1\n";
    int withFrames = 0, matched = 0;
    for (int i = 0; i < 2500; ++i) {
        std::string pattern = generator.Make();
        int compileFlags = (i % 3 == 0) ? CRegExp::kIgnoreCase : (i % 3 == 1) ? CRegExp::kNewlineOrdinary : 0;
        withFrames += FramesOf(pattern, compileFlags) > 0;
        for (int t = 0; t < 4; ++t) {
            std::string text;
            for (int n = std::uniform_int_distribution<int>(0, 12)(random); n > 0; --n)
                text += alphabet[std::uniform_int_distribution<int>(0, sizeof(alphabet) - 2)(random)];
            matched += BothPaths(pattern, compileFlags, text, t) != "no match";
        }
        if (HasFailure())
            break;
    }
    // The cases must reach the bit tables and matches, else they compare nothing.
    EXPECT_GT(withFrames, 600);
    EXPECT_GT(matched, 2500);
}

} // namespace
