// Pattern text to program: a recursive-descent parser builds a tree of the pattern as written, which is
// then laid out as instructions, counted repetitions expanded into copies of their operand.
#include "foundation/reg_exp_error.h"
#include "foundation/reg_exp_program.h"

#include <algorithm>
#include <atomic>
#include <new>

namespace {

constexpr int kNoStop = -1;
constexpr int kUnbounded = -1;
constexpr int kMaxRepeatCount = 255;
// Longest literal run kept while looking for the must-contain literal; any part of such a run is still
// contained in every match.
constexpr size_t kMaxLiteralRun = 1024;

struct SyntaxError {
    int error;
};

// A node of the pattern as written.
struct PatternNode {
    enum class Kind : uint8_t {
        kChar,
        kSet,
        kAnyChar,
        kBeginLine,
        kEndLine,
        kWordBoundary,
        kNotWordBoundary,
        kEmpty,
        kSequence,
        kChoice,
        kGroup,
        kNonCapture,
        kRepeat,
    };
    Kind kind = Kind::kEmpty;
    uint32_t value = 0; // byte, set index or group number
    int min = 0;        // kRepeat
    int max = 0;        // kRepeat; kUnbounded for no upper bound
    int lastNestedGroup = 0;
    std::vector<uint32_t> kids;
    uint64_t size = 1; // instructions it lays out to, saturated above kMaxRegExpProgramLength
};

uint64_t Saturate(uint64_t size) {
    return (std::min<uint64_t>)(size, kMaxRegExpProgramLength + 1);
}

bool IsAsciiLetter(int c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
int OtherCase(int c) {
    return c ^ 0x20;
}
bool IsDigit(int c) {
    return c >= '0' && c <= '9';
}

// ---------------------------------------------------------------------------------------------------

class Parser {
public:
    Parser(const char* pattern, size_t length, int flags, std::vector<RegExpCharSet>& sets)
        : m_p(reinterpret_cast<const uint8_t*>(pattern)), m_end(m_p + length), m_flags(flags), m_sets(sets) {}

    // Returns the root node; throws SyntaxError.
    uint32_t Parse() {
        uint32_t root = ParseAlternatives(kNoStop, 0);
        if (m_nodes[root].size > kMaxRegExpProgramLength - 1) // room for kEnd
            throw SyntaxError{kRegESpace};
        return root;
    }

    const std::vector<PatternNode>& Nodes() const { return m_nodes; }
    int GroupCount() const { return m_groupCount; }
    bool UsesAnchors() const { return m_usesAnchors; }

private:
    bool More() const { return m_p < m_end; }
    bool More2() const { return m_end - m_p >= 2; }
    int Peek() const { return *m_p; }
    int Peek2() const { return m_p[1]; }
    int Next() { return *m_p++; }
    bool NewlineSensitive() const { return !(m_flags & kRegExpNewlineOrdinary); }
    bool IgnoreCase() const { return m_flags & kRegExpIgnoreCase; }

    uint32_t Add(PatternNode node) {
        if (node.size > kMaxRegExpProgramLength)
            throw SyntaxError{kRegESpace};
        m_nodes.push_back(std::move(node));
        return static_cast<uint32_t>(m_nodes.size() - 1);
    }
    uint32_t AddLeaf(PatternNode::Kind kind, uint32_t value = 0) {
        PatternNode node;
        node.kind = kind;
        node.value = value;
        return Add(std::move(node));
    }
    uint32_t AddSet(const RegExpCharSet& set) {
        m_sets.push_back(set);
        return AddLeaf(PatternNode::Kind::kSet, static_cast<uint32_t>(m_sets.size() - 1));
    }

    // `stop` is the byte that closes the enclosing group, or kNoStop at the top level.
    uint32_t ParseAlternatives(int stop, int depth) {
        if (depth > kMaxRegExpNesting)
            throw SyntaxError{kRegESpace};
        std::vector<uint32_t> branches{ParseBranch(stop, depth)};
        // kChoiceBegin, kChoiceEnd, a kAltPart1 after every alternative, a kAltPart2 before all but one.
        uint64_t size = m_nodes[branches.back()].size + 2;
        while (More() && Peek() == '|') {
            Next();
            branches.push_back(ParseBranch(stop, depth));
            size = Saturate(size + m_nodes[branches.back()].size + 2);
            if (size > kMaxRegExpProgramLength)
                throw SyntaxError{kRegESpace};
        }
        if (branches.size() == 1)
            return branches[0];
        PatternNode choice;
        choice.kind = PatternNode::Kind::kChoice;
        choice.size = Saturate(size + 1);
        choice.kids = std::move(branches);
        return Add(std::move(choice));
    }

    uint32_t ParseBranch(int stop, int depth) {
        std::vector<uint32_t> pieces;
        uint64_t size = 0;
        while (More() && Peek() != '|' && Peek() != stop) {
            pieces.push_back(ParsePiece(depth));
            size = Saturate(size + m_nodes[pieces.back()].size);
            if (size > kMaxRegExpProgramLength)
                throw SyntaxError{kRegESpace};
        }
        if (pieces.empty())
            return AddLeaf(PatternNode::Kind::kEmpty);
        if (pieces.size() == 1)
            return pieces[0];
        PatternNode sequence;
        sequence.kind = PatternNode::Kind::kSequence;
        sequence.size = size;
        sequence.kids = std::move(pieces);
        return Add(std::move(sequence));
    }

    bool SeesRepetition() const {
        if (!More())
            return false;
        int c = Peek();
        return c == '*' || c == '+' || c == '?' || (c == '{' && More2() && IsDigit(Peek2()));
    }

    uint32_t ParsePiece(int depth) {
        // An operator with nothing to repeat.
        if (SeesRepetition())
            throw SyntaxError{kRegBadRpt};
        bool wasCaret = More() && Peek() == '^';
        uint32_t atom = ParseAtom(depth);
        if (!SeesRepetition())
            return atom;
        if (wasCaret)
            throw SyntaxError{kRegBadRpt};
        int min = 0, max = 0;
        switch (Next()) {
        case '*':
            min = 0, max = kUnbounded;
            break;
        case '+':
            min = 1, max = kUnbounded;
            break;
        case '?':
            min = 0, max = 1;
            break;
        default: // '{' followed by a digit
            ParseBraces(min, max);
            break;
        }
        uint32_t repeat = AddRepeat(atom, min, max);
        if (SeesRepetition())
            throw SyntaxError{kRegBadRpt};
        return repeat;
    }

    int ParseCount() {
        int count = 0, digits = 0;
        while (More() && IsDigit(Peek()) && count <= kMaxRepeatCount) {
            count = count * 10 + (Next() - '0');
            ++digits;
        }
        if (digits == 0 || count > kMaxRepeatCount)
            throw SyntaxError{kRegBadBr};
        return count;
    }

    void ParseBraces(int& min, int& max) {
        min = ParseCount();
        if (More() && Peek() == ',') {
            Next();
            if (More() && IsDigit(Peek())) {
                max = ParseCount();
                if (min > max)
                    throw SyntaxError{kRegBadBr};
            } else {
                max = kUnbounded;
            }
        } else {
            max = min;
        }
        if (More() && Peek() == '}') {
            Next();
            return;
        }
        while (More() && Peek() != '}')
            Next();
        throw SyntaxError{More() ? kRegBadBr : kRegEBrace};
    }

    uint32_t AddRepeat(uint32_t atom, int min, int max) {
        uint64_t s = m_nodes[atom].size;
        uint64_t size;
        if (max == 0)
            size = 1; // the empty string
        else if (max == kUnbounded)
            size = min == 0 ? s + 4 : Saturate(uint64_t(min) * s + 2);
        else
            size = Saturate(uint64_t(min) * s + uint64_t(max - min) * (s + 2));
        PatternNode repeat;
        repeat.kind = PatternNode::Kind::kRepeat;
        repeat.min = min;
        repeat.max = max;
        repeat.size = size;
        repeat.kids = {atom};
        return Add(std::move(repeat));
    }

    uint32_t ParseGroup(int close, int depth) {
        bool capturing = close == ')';
        int error = capturing ? kRegEParen : kRegEAngle;
        if (!More())
            throw SyntaxError{error};
        uint32_t group = capturing ? static_cast<uint32_t>(++m_groupCount) : 0;
        uint32_t inner = ParseAlternatives(close, depth + 1);
        if (!More() || Peek() != close)
            throw SyntaxError{error};
        Next();
        PatternNode node;
        node.kind = capturing ? PatternNode::Kind::kGroup : PatternNode::Kind::kNonCapture;
        node.value = group;
        node.lastNestedGroup = m_groupCount;
        node.size = m_nodes[inner].size + 2;
        node.kids = {inner};
        return Add(std::move(node));
    }

    uint32_t ParseAtom(int depth) {
        int c = Next();
        switch (c) {
        case '(':
            return ParseGroup(')', depth);
        case '<':
            return ParseGroup('>', depth);
        case ')':
            throw SyntaxError{kRegEParen};
        case '>':
            throw SyntaxError{kRegEAngle};
        case '^':
            m_usesAnchors = true;
            return AddLeaf(PatternNode::Kind::kBeginLine);
        case '$':
            m_usesAnchors = true;
            return AddLeaf(PatternNode::Kind::kEndLine);
        case '.':
            return AddLeaf(PatternNode::Kind::kAnyChar);
        case '[':
            return ParseBracket();
        case '\\':
            return ParseEscape();
        default:
            return AddLiteral(c);
        }
    }

    uint32_t AddLiteral(int c) {
        if (IgnoreCase() && IsAsciiLetter(c)) {
            RegExpCharSet set;
            set.Add(static_cast<uint8_t>(c));
            set.Add(static_cast<uint8_t>(OtherCase(c)));
            return AddSet(set);
        }
        return AddLeaf(PatternNode::Kind::kChar, static_cast<uint32_t>(c));
    }

    // Adds the class \d, \s, \w or a complement to `set`; false when `c` names no class.
    bool AddClass(int c, RegExpCharSet& set) const {
        RegExpCharSet cls;
        switch (c) {
        case 'd':
        case 'D':
            for (int b = '0'; b <= '9'; ++b)
                cls.Add(static_cast<uint8_t>(b));
            break;
        case 's':
        case 'S':
            for (int b : {'\t', '\n', '\v', '\f', '\r', ' '})
                cls.Add(static_cast<uint8_t>(b));
            break;
        case 'w':
        case 'W':
            for (int b = 0; b < 256; ++b)
                if (IsAsciiLetter(b) || IsDigit(b) || b == '_')
                    cls.Add(static_cast<uint8_t>(b));
            break;
        default:
            return false;
        }
        if (c == 'D' || c == 'S' || c == 'W') {
            for (uint64_t& word : cls.bits)
                word = ~word;
            if (NewlineSensitive())
                cls.Remove('\n');
        }
        for (size_t i = 0; i < set.bits.size(); ++i)
            set.bits[i] |= cls.bits[i];
        return true;
    }

    uint32_t ParseEscape() {
        if (!More())
            throw SyntaxError{kRegEEscape};
        int c = Next();
        RegExpCharSet set;
        if (AddClass(c, set))
            return AddSet(set);
        if (c == 'b')
            return AddLeaf(PatternNode::Kind::kWordBoundary);
        if (c == 'B')
            return AddLeaf(PatternNode::Kind::kNotWordBoundary);
        if (c >= '1' && c <= '9')
            throw SyntaxError{kRegESubReg};
        return AddLiteral(c);
    }

    // A byte inside brackets that may start or end a range: a plain byte, \- or \\.
    int ParseBracketByte() {
        int c = Next();
        if (c != '\\')
            return c;
        if (!More())
            throw SyntaxError{kRegEEscape};
        int e = Next();
        if (e == '-' || e == '\\')
            return e;
        if (e == 'd' || e == 'D' || e == 's' || e == 'S' || e == 'w' || e == 'W')
            throw SyntaxError{kRegERange}; // a class cannot end a range
        throw SyntaxError{kRegEEscape};
    }

    void ParseBracketTerm(RegExpCharSet& set) {
        int c = Peek();
        if (c == '-')
            throw SyntaxError{kRegERange};
        int start;
        if (c == '\\') {
            Next();
            if (!More())
                throw SyntaxError{kRegEEscape};
            int e = Next();
            if (AddClass(e, set))
                return;
            if (e != '-' && e != '\\')
                throw SyntaxError{kRegEEscape};
            start = e;
        } else {
            start = Next();
        }
        int finish = start;
        if (More() && Peek() == '-' && More2() && Peek2() != ']') {
            Next();
            finish = ParseBracketByte();
        }
        if (start > finish)
            throw SyntaxError{kRegERange};
        for (int b = start; b <= finish; ++b)
            set.Add(static_cast<uint8_t>(b));
    }

    uint32_t ParseBracket() {
        RegExpCharSet set;
        bool negated = false;
        if (More() && Peek() == '^') {
            Next();
            negated = true;
        }
        if (More() && Peek() == ']') {
            Next();
            set.Add(']');
        } else if (More() && Peek() == '-') {
            Next();
            set.Add('-');
        }
        while (More() && Peek() != ']' && !(Peek() == '-' && More2() && Peek2() == ']'))
            ParseBracketTerm(set);
        if (More() && Peek() == '-') {
            Next();
            set.Add('-');
        }
        if (!More() || Peek() != ']')
            throw SyntaxError{kRegEBrack};
        Next();
        if (IgnoreCase()) {
            for (int b = 'a'; b <= 'z'; ++b) {
                if (set.Has(static_cast<uint8_t>(b)) || set.Has(static_cast<uint8_t>(OtherCase(b)))) {
                    set.Add(static_cast<uint8_t>(b));
                    set.Add(static_cast<uint8_t>(OtherCase(b)));
                }
            }
        }
        if (negated) {
            for (uint64_t& word : set.bits)
                word = ~word;
            if (NewlineSensitive())
                set.Remove('\n');
        }
        return AddSet(set);
    }

    const uint8_t* m_p;
    const uint8_t* m_end;
    int m_flags;
    std::vector<RegExpCharSet>& m_sets;
    std::vector<PatternNode> m_nodes;
    int m_groupCount = 0;
    bool m_usesAnchors = false;
};

// ---------------------------------------------------------------------------------------------------

// Lays the pattern tree out as instructions and builds the program's node tree beside them.
class Emitter {
public:
    Emitter(const std::vector<PatternNode>& pattern, RegExpProgram& program)
        : m_pattern(pattern), m_program(program) {}

    uint32_t Emit(uint32_t index) {
        const PatternNode& p = m_pattern[index];
        using K = PatternNode::Kind;
        switch (p.kind) {
        case K::kChar:
            return Leaf(RegExpOp::kChar, p.value);
        case K::kSet:
            return Leaf(RegExpOp::kSet, p.value);
        case K::kAnyChar:
            return Leaf(RegExpOp::kAnyChar, 0);
        case K::kBeginLine:
            return Leaf(RegExpOp::kBeginLine, 0);
        case K::kEndLine:
            return Leaf(RegExpOp::kEndLine, 0);
        case K::kWordBoundary:
            return Leaf(RegExpOp::kWordBoundary, 0);
        case K::kNotWordBoundary:
            return Leaf(RegExpOp::kNotWordBoundary, 0);
        case K::kEmpty:
            return Leaf(RegExpOp::kEmpty, 0);
        case K::kSequence: {
            uint32_t first = Here();
            std::vector<uint32_t> kids;
            for (uint32_t kid : p.kids)
                kids.push_back(Emit(kid));
            return Node(RegExpNode::Kind::kSequence, first, kids);
        }
        case K::kChoice:
            return EmitChoice(p);
        case K::kGroup:
        case K::kNonCapture: {
            bool capturing = p.kind == K::kGroup;
            uint32_t first = Here();
            Put(capturing ? RegExpOp::kGroupOpen : RegExpOp::kNonCaptureOpen, p.value);
            uint32_t kid = Emit(p.kids[0]);
            Put(capturing ? RegExpOp::kGroupClose : RegExpOp::kNonCaptureClose, p.value);
            uint32_t node =
                Node(capturing ? RegExpNode::Kind::kGroup : RegExpNode::Kind::kNonCapture, first, {kid});
            m_program.nodes[node].group = static_cast<int32_t>(p.value);
            m_program.nodes[node].lastNestedGroup = p.lastNestedGroup;
            m_program.nodes[node].hasGroups = m_program.nodes[node].hasGroups || capturing;
            return node;
        }
        case K::kRepeat:
            return EmitRepeat(p);
        }
        return Leaf(RegExpOp::kEmpty, 0);
    }

private:
    uint32_t Here() const { return static_cast<uint32_t>(m_program.code.size()); }
    uint32_t Put(RegExpOp op, uint32_t operand) {
        m_program.code.push_back(MakeRegExpInstruction(op, operand));
        return Here() - 1;
    }
    void Patch(uint32_t at, uint32_t operand) {
        m_program.code[at] = MakeRegExpInstruction(RegExpOpOf(m_program.code[at]), operand);
    }

    uint32_t Node(RegExpNode::Kind kind, uint32_t first, const std::vector<uint32_t>& kids) {
        RegExpNode node;
        node.kind = kind;
        node.first = first;
        node.end = Here();
        node.firstChild = static_cast<uint32_t>(m_program.children.size());
        node.childCount = static_cast<uint32_t>(kids.size());
        for (uint32_t kid : kids) {
            m_program.children.push_back(kid);
            node.hasGroups = node.hasGroups || m_program.nodes[kid].hasGroups;
        }
        m_program.nodes.push_back(node);
        return static_cast<uint32_t>(m_program.nodes.size() - 1);
    }
    uint32_t Leaf(RegExpOp op, uint32_t operand) {
        uint32_t first = Put(op, operand);
        return Node(RegExpNode::Kind::kLeaf, first, {});
    }

    uint32_t EmitChoice(const PatternNode& p) {
        uint32_t first = Put(RegExpOp::kChoiceBegin, 0);
        uint32_t previousEntry = first;
        std::vector<uint32_t> kids, ends;
        for (size_t i = 0; i < p.kids.size(); ++i) {
            if (i > 0) {
                uint32_t entry = Put(RegExpOp::kAltPart2, 0);
                Patch(previousEntry, entry);
                previousEntry = entry;
            }
            kids.push_back(Emit(p.kids[i]));
            ends.push_back(Put(RegExpOp::kAltPart1, 0));
        }
        uint32_t choiceEnd = Put(RegExpOp::kChoiceEnd, 0);
        for (uint32_t at : ends)
            Patch(at, choiceEnd);
        return Node(RegExpNode::Kind::kChoice, first, kids);
    }

    // One or more iterations of the pattern node `body`.
    uint32_t EmitPlus(uint32_t body) {
        uint32_t first = Put(RegExpOp::kPlusPrefix, 0);
        uint32_t kid = Emit(body);
        Put(RegExpOp::kPlusSuffix, first);
        return Node(RegExpNode::Kind::kRepeated, first, {kid});
    }

    uint32_t EmitRepeat(const PatternNode& p) {
        uint32_t body = p.kids[0];
        if (p.max == 0)
            return Leaf(RegExpOp::kEmpty, 0);
        uint32_t first = Here();
        std::vector<uint32_t> items;
        if (p.max == kUnbounded) {
            // The mandatory copies, then the open end as a repeated last copy (optional when none is
            // mandatory).
            for (int i = 1; i < p.min; ++i)
                items.push_back(Emit(body));
            if (p.min >= 1) {
                items.push_back(EmitPlus(body));
            } else {
                uint32_t prefix = Put(RegExpOp::kQuestPrefix, 0);
                uint32_t plus = EmitPlus(body);
                Patch(prefix, Put(RegExpOp::kQuestSuffix, 0));
                items.push_back(Node(RegExpNode::Kind::kOptional, prefix, {plus}));
            }
        } else {
            for (int i = 0; i < p.min; ++i)
                items.push_back(Emit(body));
            if (p.max > p.min)
                items.push_back(EmitOptionalChain(body, p.max - p.min));
        }
        if (items.size() == 1)
            return items[0];
        return Node(RegExpNode::Kind::kSequence, first, items);
    }

    // `count` optional copies, each inside the one before: x(x(x)?)?)? as prefix, copy, prefix, copy...
    // and then the suffixes from the innermost out. Built without recursion on `count`.
    uint32_t EmitOptionalChain(uint32_t body, int count) {
        std::vector<uint32_t> prefixes, copies;
        for (int i = 0; i < count; ++i) {
            prefixes.push_back(Put(RegExpOp::kQuestPrefix, 0));
            copies.push_back(Emit(body));
        }
        uint32_t inner = 0;
        for (int i = count - 1; i >= 0; --i) {
            uint32_t suffix = Put(RegExpOp::kQuestSuffix, 0);
            Patch(prefixes[i], suffix);
            uint32_t content = copies[i];
            if (i != count - 1) {
                // The copy followed by the next optional level, which ends right before this suffix.
                content =
                    Node(RegExpNode::Kind::kSequence, m_program.nodes[copies[i]].first, {copies[i], inner});
                m_program.nodes[content].end = suffix;
            }
            inner = Node(RegExpNode::Kind::kOptional, prefixes[i], {content});
        }
        return inner;
    }

    const std::vector<PatternNode>& m_pattern;
    RegExpProgram& m_program;
};

// ---------------------------------------------------------------------------------------------------

// Literal runs of a node: `exact` when it matches only `text`; otherwise the literal that starts every
// match (prefix), ends every match (suffix) and the longest one inside every match (must).
struct LiteralInfo {
    bool exact = false;
    std::string text, prefix, suffix, must;
};

const std::string& Longer(const std::string& a, const std::string& b) {
    return b.size() > a.size() ? b : a;
}

LiteralInfo MakeExact(std::string text) {
    LiteralInfo info;
    if (text.size() > kMaxLiteralRun) {
        info.prefix = text.substr(0, kMaxLiteralRun);
        info.suffix = text.substr(text.size() - kMaxLiteralRun);
        info.must = info.prefix;
        return info;
    }
    info.exact = true;
    info.text = info.prefix = info.suffix = info.must = std::move(text);
    return info;
}

std::string Capped(std::string text) {
    if (text.size() > kMaxLiteralRun)
        text.resize(kMaxLiteralRun);
    return text;
}

LiteralInfo Literals(const std::vector<PatternNode>& nodes, uint32_t index) {
    const PatternNode& p = nodes[index];
    using K = PatternNode::Kind;
    switch (p.kind) {
    case K::kChar:
        return MakeExact(std::string(1, static_cast<char>(p.value)));
    case K::kBeginLine:
    case K::kEndLine:
    case K::kWordBoundary:
    case K::kNotWordBoundary:
    case K::kEmpty:
        return MakeExact(""); // zero width: the bytes on both sides are adjacent in the text
    case K::kGroup:
    case K::kNonCapture:
        return Literals(nodes, p.kids[0]);
    case K::kSequence: {
        // `run` is the literal ending at the current child; a run cut at kMaxLiteralRun is still inside
        // every match but no longer ends there, so it cannot serve as the suffix.
        LiteralInfo result;
        std::string run, best;
        bool allExact = true, inPrefix = true, runCut = false;
        auto extend = [&](const std::string& text) {
            runCut = runCut || run.size() + text.size() > kMaxLiteralRun;
            run = Capped(run + text);
        };
        for (uint32_t kid : p.kids) {
            LiteralInfo k = Literals(nodes, kid);
            extend(k.exact ? k.text : k.prefix);
            if (inPrefix)
                result.prefix = run;
            if (k.exact)
                continue;
            allExact = false;
            inPrefix = false;
            best = Longer(best, run);
            best = Longer(best, k.must);
            run = k.suffix;
            runCut = false;
        }
        if (allExact && !runCut)
            return MakeExact(run);
        result.suffix = runCut ? std::string() : run;
        result.must = Longer(best, run);
        return result;
    }
    case K::kRepeat: {
        LiteralInfo k = Literals(nodes, p.kids[0]);
        if (p.min == 0)
            return LiteralInfo{};
        if (k.exact && p.max == p.min) {
            std::string text;
            for (int i = 0; i < p.min && text.size() <= kMaxLiteralRun; ++i)
                text += k.text;
            return MakeExact(text);
        }
        k.exact = false;
        return k;
    }
    default:
        return LiteralInfo{};
    }
}

// ---------------------------------------------------------------------------------------------------

// Empty transitions of instruction `pc`, into out[]; returns how many.
int EmptyTransitions(const std::vector<uint32_t>& code, uint32_t pc, uint32_t out[2]) {
    uint32_t insn = code[pc];
    switch (RegExpOpOf(insn)) {
    case RegExpOp::kEnd:
    case RegExpOp::kChar:
    case RegExpOp::kAnyChar:
    case RegExpOp::kSet:
        return 0;
    case RegExpOp::kPlusSuffix:
    case RegExpOp::kQuestPrefix:
    case RegExpOp::kChoiceBegin:
        out[0] = pc + 1;
        out[1] = RegExpOperandOf(insn);
        return 2;
    case RegExpOp::kAltPart1:
        out[0] = RegExpOperandOf(insn);
        return 1;
    case RegExpOp::kAltPart2:
        out[0] = pc + 1;
        if (RegExpOperandOf(insn) == 0)
            return 1;
        out[1] = RegExpOperandOf(insn);
        return 2;
    default:
        out[0] = pc + 1;
        return 1;
    }
}

void BuildPredecessors(RegExpProgram& program) {
    const size_t n = program.code.size();
    program.predecessorsFirst.assign(n + 1, 0);
    uint32_t out[2];
    for (uint32_t pc = 0; pc < n; ++pc) {
        int count = EmptyTransitions(program.code, pc, out);
        for (int i = 0; i < count; ++i)
            ++program.predecessorsFirst[out[i] + 1];
    }
    for (size_t i = 0; i < n; ++i)
        program.predecessorsFirst[i + 1] += program.predecessorsFirst[i];
    program.predecessors.assign(program.predecessorsFirst[n], 0);
    std::vector<uint32_t> fill(program.predecessorsFirst.begin(), program.predecessorsFirst.end() - 1);
    for (uint32_t pc = 0; pc < n; ++pc) {
        int count = EmptyTransitions(program.code, pc, out);
        for (int i = 0; i < count; ++i)
            program.predecessors[fill[out[i]]++] = pc;
    }
}

// The bytes a match of the instructions [from, exit) can start with, treating every zero-width test
// as passing; `canBeEmpty` tells whether `exit` is reached without consuming.
RegExpCharSet FirstBytes(const RegExpProgram& program, uint32_t from, uint32_t exit, bool& canBeEmpty) {
    std::vector<bool> seen(program.code.size() + 1, false);
    std::vector<uint32_t> stack{from};
    RegExpCharSet first;
    canBeEmpty = false;
    uint32_t out[2];
    while (!stack.empty()) {
        uint32_t pc = stack.back();
        stack.pop_back();
        if (seen[pc])
            continue;
        seen[pc] = true;
        if (pc == exit) {
            canBeEmpty = true;
            continue;
        }
        uint32_t insn = program.code[pc];
        switch (RegExpOpOf(insn)) {
        case RegExpOp::kEnd:
            canBeEmpty = true;
            break;
        case RegExpOp::kChar:
            first.Add(static_cast<uint8_t>(RegExpOperandOf(insn)));
            break;
        case RegExpOp::kSet:
            for (size_t i = 0; i < first.bits.size(); ++i)
                first.bits[i] |= program.sets[RegExpOperandOf(insn)].bits[i];
            break;
        case RegExpOp::kAnyChar:
            for (uint64_t& word : first.bits)
                word = ~uint64_t{0};
            break;
        default:
            for (int i = 0, count = EmptyTransitions(program.code, pc, out); i < count; ++i)
                stack.push_back(out[i]);
            break;
        }
    }
    return first;
}

void FindFirstBytes(RegExpProgram& program) {
    bool canBeEmpty = false;
    program.firstBytes = FirstBytes(program, 0, static_cast<uint32_t>(program.code.size() - 1), canBeEmpty);
    program.canSkip = !canBeEmpty;
    for (RegExpNode& node : program.nodes) {
        if (node.kind != RegExpNode::Kind::kChoice || !node.hasGroups)
            continue;
        for (uint32_t k = 0; k < node.childCount; ++k) {
            RegExpNode& alternative = program.nodes[program.children[node.firstChild + k]];
            RegExpCharSet first =
                FirstBytes(program, alternative.first, alternative.end, alternative.canBeEmpty);
            program.sets.push_back(first);
            alternative.firstBytes = static_cast<int32_t>(program.sets.size() - 1);
        }
    }
}

// Bit tables for the nodes whose dissection simulates all their instructions at every place: sequences,
// repeated nodes and choices that hold groups. Small nodes only, within a total bound, so that the tables
// stay a small multiple of the program; the others are dissected with state sets.
constexpr size_t kMaxFrameTableWords = size_t{1} << 16;

bool IsZeroWidthTestOp(RegExpOp op) {
    return op == RegExpOp::kBeginLine || op == RegExpOp::kEndLine || op == RegExpOp::kWordBoundary ||
           op == RegExpOp::kNotWordBoundary;
}

RegExpFrame MakeFrame(const RegExpProgram& program, const RegExpNode& node) {
    RegExpFrame frame;
    frame.first = node.first;
    frame.size = node.end - node.first + 1;
    frame.words = (frame.size + 63) / 64;
    const uint32_t words = frame.words;
    auto set = [words](std::vector<uint64_t>& rows, uint32_t row, uint32_t bit) {
        rows[size_t(row) * words + bit / 64] |= uint64_t{1} << (bit % 64);
    };
    const bool newlineSensitive = !(program.compileFlags & kRegExpNewlineOrdinary);
    frame.consumes.assign(256 * size_t(words), 0);
    for (uint32_t pc = node.first; pc < node.end; ++pc) {
        uint32_t insn = program.code[pc];
        RegExpOp op = RegExpOpOf(insn);
        uint32_t bit = pc - node.first;
        if (op == RegExpOp::kChar) {
            set(frame.consumes, RegExpOperandOf(insn) & 255, bit);
        } else if (op == RegExpOp::kAnyChar) {
            for (uint32_t c = 0; c < 256; ++c)
                if (!(newlineSensitive && c == '\n'))
                    set(frame.consumes, c, bit);
        } else if (op == RegExpOp::kSet) {
            const RegExpCharSet& bytes = program.sets[RegExpOperandOf(insn)];
            for (uint32_t w = 0; w < bytes.bits.size(); ++w)
                for (uint64_t members = bytes.bits[w]; members != 0; members &= members - 1)
                    set(frame.consumes, w * 64 + static_cast<uint32_t>(__builtin_ctzll(members)), bit);
        } else if (IsZeroWidthTestOp(op)) {
            frame.tests.push_back(bit);
        }
    }
    auto row = [words](std::vector<uint64_t>& rows, uint32_t j) { return &rows[size_t(j) * words]; };
    auto merge = [words](uint64_t* into, const uint64_t* from) {
        bool changed = false;
        for (uint32_t w = 0; w < words; ++w) {
            changed = changed || (from[w] & ~into[w]) != 0;
            into[w] |= from[w];
        }
        return changed;
    };
    uint32_t out[2];

    // Backward rows: whatever reaches an instruction that passes (without a test) to s reaches s. The
    // edges mostly lead forward, so passes in program order settle in a few rounds.
    frame.backward.assign(size_t(frame.size) * words, 0);
    for (uint32_t j = 0; j < frame.size; ++j)
        set(frame.backward, j, j);
    for (bool changed = true; changed;) {
        changed = false;
        for (uint32_t pc = node.first; pc < node.end; ++pc) {
            if (IsZeroWidthTestOp(RegExpOpOf(program.code[pc])))
                continue;
            for (int i = 0, count = EmptyTransitions(program.code, pc, out); i < count; ++i)
                if (out[i] >= node.first && out[i] <= node.end)
                    changed = merge(row(frame.backward, out[i] - node.first),
                                    row(frame.backward, pc - node.first)) ||
                              changed;
        }
    }

    // Forward rows, per part: an instruction reaches what its successors reach, but the part's exit is
    // only reached, never passed.
    if (node.kind == RegExpNode::Kind::kChoice)
        return frame;
    frame.forward.assign(size_t(frame.size) * words, 0);
    for (uint32_t k = 0; k < node.childCount; ++k) {
        const RegExpNode& part = program.nodes[program.children[node.firstChild + k]];
        for (uint32_t pc = part.first; pc < part.end; ++pc)
            set(frame.forward, pc - node.first, pc - node.first);
        for (bool changed = true; changed;) {
            changed = false;
            for (uint32_t pc = part.end; pc-- > part.first;) {
                if (IsZeroWidthTestOp(RegExpOpOf(program.code[pc])))
                    continue;
                uint64_t* into = row(frame.forward, pc - node.first);
                for (int i = 0, count = EmptyTransitions(program.code, pc, out); i < count; ++i) {
                    if (out[i] < part.first || out[i] > part.end)
                        continue;
                    if (out[i] == part.end) {
                        uint32_t bit = part.end - node.first;
                        changed = changed || !((into[bit / 64] >> (bit % 64)) & 1);
                        into[bit / 64] |= uint64_t{1} << (bit % 64);
                    } else {
                        changed = merge(into, row(frame.forward, out[i] - node.first)) || changed;
                    }
                }
            }
        }
    }
    return frame;
}

void BuildFrames(RegExpProgram& program) {
    size_t total = 0;
    for (RegExpNode& node : program.nodes) {
        if (!node.hasGroups ||
            (node.kind != RegExpNode::Kind::kSequence && node.kind != RegExpNode::Kind::kRepeated &&
             node.kind != RegExpNode::Kind::kChoice))
            continue;
        size_t size = node.end - node.first + 1;
        size_t words = (size + 63) / 64;
        size_t tableWords = (2 * size + 260) * words;
        if (words > kMaxRegExpFrameWords || total + tableWords > kMaxFrameTableWords)
            continue;
        total += tableWords;
        node.frame = static_cast<int32_t>(program.frames.size());
        program.frames.push_back(MakeFrame(program, node));
    }
}

} // namespace

int CompileRegExpProgram(const char* pattern, size_t length, int flags, RegExpProgram& program) {
    program = RegExpProgram{};
    if (pattern == nullptr && length != 0)
        return kRegInvArg;
    try {
        Parser parser(pattern, length, flags, program.sets);
        uint32_t root = parser.Parse();
        // The program starts with room for length/2*3+1 instructions and grows as needed.
        program.code.reserve(std::min<size_t>(length / 2 * 3 + 1, kMaxRegExpProgramLength));
        Emitter emitter(parser.Nodes(), program);
        program.root = emitter.Emit(root);
        program.code.push_back(MakeRegExpInstruction(RegExpOp::kEnd, 0));
        program.groupCount = parser.GroupCount();
        program.usesAnchors = parser.UsesAnchors();
        program.compileFlags = flags;
        static std::atomic<uint64_t> serials{0};
        program.serial = ++serials;
        program.mustContain = Literals(parser.Nodes(), root).must;
        BuildPredecessors(program);
        FindFirstBytes(program);
        BuildFrames(program);
        return kRegOkay;
    } catch (const SyntaxError& e) {
        program = RegExpProgram{};
        return e.error;
    } catch (const std::bad_alloc&) {
        program = RegExpProgram{};
        return kRegESpace;
    }
}
