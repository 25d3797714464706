// Matching a program against a text, without backtracking.
//
// 1. If the pattern has a must-contain literal that the text lacks, there is no match.
// 2. The leftmost-longest match is found by the automaton of reg_exp_dfa.cpp, or when that gives up, by
//    one forward state-set simulation: every thread carries the place where its match started, a new
//    thread starts at every place until a match is found, and where two threads meet in one
//    instruction the one that started earlier survives (their futures are equal).
// 3. Groups are assigned by dissecting the match top-down along the node tree. For a node spanning
//    text[a, b) a backward simulation from b marks, for every place, the instructions of the node from
//    which its end can be reached exactly at b ("live"). Forward simulations restricted to live
//    instructions then find each decision directly: a sequence's part ends at the last place where the
//    part can end and the rest stays live (longest from the left); a choice takes the first alternative
//    that can span its text (mostly told by the first byte alone); an optional node spanning text has
//    entered its body, and an empty one enters it when the body can be empty; a repeated node's
//    iterations are taken longest first, and every iteration is dissected, so that the groups reported
//    are those of the last iteration they took part in. A group's nested groups are cleared each time
//    the group itself is assigned.
// Each simulation visits every place of its span once per instruction of its node, so a match costs
// the text length times the program length, once for finding it and once per nesting level of the
// groups for dissecting it.
// Nodes of up to 512 instructions carry bit tables (RegExpFrame) with which the backward and forward
// simulations handle all their instructions at once, 64 to a machine word; the state-set code remains
// for larger nodes and as the reference the tests compare the tables against. The working memory is
// kept per thread, so a match in the steady state allocates nothing.
#include "foundation/reg_exp_dfa.h"
#include "foundation/reg_exp_error.h"
#include "foundation/reg_exp_program.h"
#include "platform/thread_exit.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

namespace {

// Bound on the live table of one dissection step (span + 1 places times the node's instructions, in
// bits); beyond it the match fails with "out of memory" rather than allocating without limit.
constexpr size_t kMaxLiveTableWords = size_t{1} << 24;

bool IsWordByte(uint8_t c) {
    return c == '_' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The text and how the zero-width tests read it.
class Text {
public:
    Text(const RegExpProgram& program, const uint8_t* bytes, int length, int flags)
        : m_program(program), m_bytes(bytes), m_length(length), m_flags(flags),
          m_newlineSensitive(!(program.compileFlags & kRegExpNewlineOrdinary)) {}

    int Length() const { return m_length; }
    uint8_t At(int i) const { return m_bytes[i]; }

    bool Consumes(uint32_t insn, uint8_t c) const {
        switch (RegExpOpOf(insn)) {
        case RegExpOp::kChar:
            return c == RegExpOperandOf(insn);
        case RegExpOp::kAnyChar:
            return !(m_newlineSensitive && c == '\n');
        case RegExpOp::kSet:
            return m_program.sets[RegExpOperandOf(insn)].Has(c);
        default:
            return false;
        }
    }

    // Whether the zero-width test `op` holds at place i (between byte i - 1 and byte i).
    bool Holds(RegExpOp op, int i) const {
        switch (op) {
        case RegExpOp::kBeginLine:
            return BeginLine(i);
        case RegExpOp::kEndLine:
            return EndLine(i);
        case RegExpOp::kWordBoundary: {
            bool before = i > 0 && IsWordByte(m_bytes[i - 1]);
            bool after = i < m_length && IsWordByte(m_bytes[i]);
            bool wordStart = (BeginLine(i) || (i > 0 && !before)) && after;
            bool wordEnd = before && (EndLine(i) || (i < m_length && !after));
            return wordStart || wordEnd;
        }
        case RegExpOp::kNotWordBoundary:
            // The text's edges count as both kinds of neighbour.
            if (i == 0 || i == m_length)
                return true;
            return IsWordByte(m_bytes[i - 1]) == IsWordByte(m_bytes[i]);
        default:
            return true;
        }
    }

private:
    bool BeginLine(int i) const {
        if (i == 0)
            return !(m_flags & kRegExpNotBeginOfLine);
        return m_newlineSensitive && m_bytes[i - 1] == '\n';
    }
    bool EndLine(int i) const {
        if (i == m_length)
            return !(m_flags & kRegExpNotEndOfLine);
        return m_newlineSensitive && m_bytes[i] == '\n';
    }

    const RegExpProgram& m_program;
    const uint8_t* m_bytes;
    int m_length;
    int m_flags;
    bool m_newlineSensitive;
};

bool IsZeroWidthTest(RegExpOp op) {
    return op == RegExpOp::kBeginLine || op == RegExpOp::kEndLine || op == RegExpOp::kWordBoundary ||
           op == RegExpOp::kNotWordBoundary;
}

// A set of instructions with a value each, cleared in constant time (sparse-set representation).
class StateSet {
public:
    explicit StateSet(size_t capacity = 0) : m_dense(capacity), m_sparse(capacity), m_value(capacity) {}

    // Makes room for instructions 0 to capacity - 1 and empties the set.
    void Reserve(size_t capacity) {
        if (m_dense.size() < capacity) {
            m_dense.resize(capacity);
            m_sparse.resize(capacity);
            m_value.resize(capacity);
        }
        m_size = 0;
    }
    size_t Capacity() const { return m_dense.size(); }

    bool Contains(uint32_t pc) const { return m_sparse[pc] < m_size && m_dense[m_sparse[pc]] == pc; }
    void Add(uint32_t pc, int value) {
        m_sparse[pc] = m_size;
        m_dense[m_size] = pc;
        m_value[m_size] = value;
        ++m_size;
    }
    void Clear() { m_size = 0; }
    bool Empty() const { return m_size == 0; }
    uint32_t Size() const { return m_size; }
    uint32_t At(uint32_t i) const { return m_dense[i]; }
    int ValueAt(uint32_t i) const { return m_value[i]; }

private:
    std::vector<uint32_t> m_dense;
    std::vector<uint32_t> m_sparse;
    std::vector<int> m_value;
    uint32_t m_size = 0;
};

// Appends the empty transitions of `pc` that may be taken at place i to `stack`.
void PushEmptyTransitions(const RegExpProgram& program, const Text& text, uint32_t pc, int i,
                          std::vector<uint32_t>& stack) {
    uint32_t insn = program.code[pc];
    RegExpOp op = RegExpOpOf(insn);
    switch (op) {
    case RegExpOp::kEnd:
    case RegExpOp::kChar:
    case RegExpOp::kAnyChar:
    case RegExpOp::kSet:
        return;
    default:
        if (PushRegExpControlTargets(insn, pc, stack))
            return;
        if (!IsZeroWidthTest(op) || text.Holds(op, i))
            stack.push_back(pc + 1);
        return;
    }
}

// ---------------------------------------------------------------------------------------------------

// Step 2: the leftmost-longest match as [start, end); false when there is none.
class Searcher {
public:
    Searcher(const RegExpProgram& program, const Text& text)
        : m_program(program), m_text(text), m_current(program.code.size()), m_next(program.code.size()) {}

    bool Find(int& start, int& end) {
        const int n = m_text.Length();
        for (int i = 0;; ++i) {
            if (m_best < 0) {
                if (m_current.Empty() && m_program.canSkip) {
                    while (i < n && !m_program.firstBytes.Has(m_text.At(i)))
                        ++i;
                    if (i >= n)
                        break;
                }
                // Threads already running started earlier and so were added first: the first
                // thread to reach an instruction is the one with the earliest start.
                AddThread(m_current, 0, i, i);
            }
            if (m_current.Empty() || i == n)
                break;
            m_next.Clear();
            uint8_t c = m_text.At(i);
            for (uint32_t k = 0; k < m_current.Size(); ++k) {
                int threadStart = m_current.ValueAt(k);
                if (m_best >= 0 && threadStart > m_best)
                    continue;
                uint32_t pc = m_current.At(k);
                if (m_text.Consumes(m_program.code[pc], c))
                    AddThread(m_next, pc + 1, threadStart, i + 1);
            }
            std::swap(m_current, m_next);
        }
        start = m_best;
        end = m_bestEnd;
        return m_best >= 0;
    }

private:
    void AddThread(StateSet& set, uint32_t pc, int threadStart, int i) {
        m_stack.push_back(pc);
        while (!m_stack.empty()) {
            pc = m_stack.back();
            m_stack.pop_back();
            if (set.Contains(pc))
                continue;
            set.Add(pc, threadStart);
            if (RegExpOpOf(m_program.code[pc]) == RegExpOp::kEnd) {
                if (m_best < 0 || threadStart < m_best || (threadStart == m_best && i > m_bestEnd)) {
                    m_best = threadStart;
                    m_bestEnd = i;
                }
                continue;
            }
            PushEmptyTransitions(m_program, m_text, pc, i, m_stack);
        }
    }

    const RegExpProgram& m_program;
    const Text& m_text;
    StateSet m_current, m_next;
    std::vector<uint32_t> m_stack;
    int m_best = -1, m_bestEnd = -1;
};

// ---------------------------------------------------------------------------------------------------

struct InternalError {
    int error;
};

// Whether this thread's matches may use the frames' bit tables (tests turn them off to compare).
thread_local bool t_fastPaths = true;
static_assert(platform::kThreadLocalSafe<decltype(t_fastPaths)>);

// The dissection's working memory, kept per thread from one match to the next so that a match in the
// steady state allocates nothing. Buffers that grew beyond kKeptScratchBytes are given back after the
// match that needed them.
constexpr size_t kKeptScratchBytes = size_t{1} << 20;
struct DissectScratch {
    StateSet current, next;
    std::vector<uint32_t> stack;
    std::vector<uint64_t> table; // the one live table in use at a time
    std::vector<int> bounds;     // parts' boundaries, a stack shared by the nested dissections

    void Trim() {
        if (current.Capacity() * 12 > kKeptScratchBytes) {
            current = StateSet();
            next = StateSet();
        }
        if (table.capacity() * sizeof(uint64_t) > kKeptScratchBytes)
            std::vector<uint64_t>().swap(table);
        if ((stack.capacity() + bounds.capacity()) * 4 > kKeptScratchBytes) {
            std::vector<uint32_t>().swap(stack);
            std::vector<int>().swap(bounds);
        }
    }
};

// The calling thread's scratch, made on first use and freed by a thread-exit clean-up (whose context
// is the scratch itself).
thread_local DissectScratch* t_scratch = nullptr;
static_assert(platform::kThreadLocalSafe<decltype(t_scratch)>);

void FreeScratch(void* context) {
    auto* scratch = static_cast<DissectScratch*>(context);
    if (t_scratch == scratch)
        t_scratch = nullptr;
    delete scratch;
}

// Raises std::bad_alloc.
DissectScratch& ThreadScratch() {
    if (t_scratch == nullptr) {
        auto scratch = std::make_unique<DissectScratch>();
        platform::AtThreadExit(&FreeScratch, scratch.get());
        t_scratch = scratch.release();
    }
    return *t_scratch;
}

// Bit rows of a frame: at most kMaxRegExpFrameWords words, bit j standing for instruction first + j.
static_assert(kMaxRegExpFrameWords == 8, "ComputeLiveBits is instantiated for 1 to 8 words");

bool HasBit(const uint64_t* row, uint32_t j) {
    return (row[j / 64] >> (j % 64)) & 1;
}
void SetBit(uint64_t* row, uint32_t j) {
    row[j / 64] |= uint64_t{1} << (j % 64);
}
bool IsZero(const uint64_t* row, uint32_t words) {
    uint64_t any = 0;
    for (uint32_t w = 0; w < words; ++w)
        any |= row[w];
    return any == 0;
}

// Step 3: assigns the groups of a match.
class Dissector {
public:
    Dissector(const RegExpProgram& program, const Text& text, std::vector<std::pair<int, int>>& groups,
              DissectScratch& scratch)
        : m_program(program), m_text(text), m_groups(groups), m_current(scratch.current),
          m_next(scratch.next), m_stack(scratch.stack), m_tableBits(scratch.table), m_bounds(scratch.bounds) {
        m_current.Reserve(program.code.size() + 1);
        m_next.Reserve(program.code.size() + 1);
        m_stack.clear();
    }

    void Dissect(uint32_t index, int a, int b) {
        // The last child of a sequence and the body of an optional node, a choice or a group are
        // followed in this loop rather than by recursion, so that long chains of optional copies do
        // not deepen the stack.
        for (;;) {
            const RegExpNode& node = m_program.nodes[index];
            if (!node.hasGroups)
                return;
            switch (node.kind) {
            case RegExpNode::Kind::kLeaf:
                return;
            case RegExpNode::Kind::kGroup:
                m_groups[node.group] = {a, b};
                for (int g = node.group + 1; g <= node.lastNestedGroup; ++g)
                    m_groups[g] = {-1, -1};
                index = Child(node, 0);
                continue;
            case RegExpNode::Kind::kNonCapture:
                index = Child(node, 0);
                continue;
            case RegExpNode::Kind::kOptional: {
                // A non-empty span was taken by the body, since skipping it takes nothing.
                uint32_t body = Child(node, 0);
                if (a == b && !CanSpanEmpty(m_program.nodes[body], a))
                    return;
                index = body;
                continue;
            }
            case RegExpNode::Kind::kChoice:
                index = a == b ? FirstEmptyAlternative(node, a) : FirstSpanningAlternative(node, a, b);
                continue;
            case RegExpNode::Kind::kSequence:
                index = DissectSequence(node, a, b);
                continue;
            case RegExpNode::Kind::kRepeated:
                DissectRepeated(node, a, b);
                return;
            }
        }
    }

private:
    uint32_t Child(const RegExpNode& node, uint32_t i) const {
        return m_program.children[node.firstChild + i];
    }

    // The live table of instructions [first, end] (end being the exit) for the span [a, b], held in the
    // scratch buffer; computed with the node's frame when it has one.
    struct LiveTable {
        uint32_t first = 0;
        int a = 0;
        size_t words = 0;
        uint64_t* bits = nullptr;
        const RegExpFrame* frame = nullptr;

        const uint64_t* Row(int i) const { return bits + size_t(i - a) * words; }
        bool Has(int i, uint32_t pc) const { return HasBit(Row(i), pc - first); }
        void Set(int i, uint32_t pc) { SetBit(bits + size_t(i - a) * words, pc - first); }
    };

    // Fills `table` for the instructions of `node` and the span [a, b]; only place a when `onlyStart`.
    void ComputeLive(const RegExpNode& node, int a, int b, bool onlyStart, LiveTable& table) {
        table.first = node.first;
        table.a = a;
        const bool bits = node.frame >= 0 && t_fastPaths;
        table.words = (node.end - node.first + 1 + 63) / 64;
        size_t rows = onlyStart ? 1 : size_t(b - a) + 1;
        if (rows > kMaxLiveTableWords / table.words)
            throw InternalError{kRegESpace};
        if (m_tableBits.size() < rows * table.words)
            m_tableBits.resize(rows * table.words);
        table.bits = m_tableBits.data();
        table.frame = nullptr;
        if (!bits)
            std::fill_n(table.bits, rows * table.words, 0);
        else {
            table.frame = &m_program.frames[node.frame];
            switch (table.frame->words) {
            case 1:
                return ComputeLiveBits<1>(*table.frame, a, b, onlyStart, table);
            case 2:
                return ComputeLiveBits<2>(*table.frame, a, b, onlyStart, table);
            case 3:
                return ComputeLiveBits<3>(*table.frame, a, b, onlyStart, table);
            case 4:
                return ComputeLiveBits<4>(*table.frame, a, b, onlyStart, table);
            case 5:
                return ComputeLiveBits<5>(*table.frame, a, b, onlyStart, table);
            case 6:
                return ComputeLiveBits<6>(*table.frame, a, b, onlyStart, table);
            case 7:
                return ComputeLiveBits<7>(*table.frame, a, b, onlyStart, table);
            default:
                return ComputeLiveBits<8>(*table.frame, a, b, onlyStart, table);
            }
        }

        m_current.Clear();
        m_stack.clear();
        m_stack.push_back(node.end);
        for (int i = b;; --i) {
            // Close backwards over the empty transitions inside the node.
            while (!m_stack.empty()) {
                uint32_t pc = m_stack.back();
                m_stack.pop_back();
                if (m_current.Contains(pc))
                    continue;
                m_current.Add(pc, 0);
                for (uint32_t k = m_program.predecessorsFirst[pc]; k < m_program.predecessorsFirst[pc + 1];
                     ++k) {
                    uint32_t from = m_program.predecessors[k];
                    if (from < node.first || from >= node.end || m_current.Contains(from))
                        continue;
                    RegExpOp op = RegExpOpOf(m_program.code[from]);
                    if (IsZeroWidthTest(op) && !m_text.Holds(op, i))
                        continue;
                    m_stack.push_back(from);
                }
            }
            if (!onlyStart || i == a)
                for (uint32_t k = 0; k < m_current.Size(); ++k)
                    table.Set(onlyStart ? a : i, m_current.At(k));
            if (i == a || m_current.Empty())
                return;
            // Step back over byte i - 1: a consuming instruction is live if its successor is.
            uint8_t c = m_text.At(i - 1);
            for (uint32_t k = 0; k < m_current.Size(); ++k) {
                uint32_t pc = m_current.At(k);
                if (pc == 0 || pc - 1 < node.first)
                    continue;
                if (m_text.Consumes(m_program.code[pc - 1], c))
                    m_stack.push_back(pc - 1);
            }
            m_current.Clear();
        }
    }

    // The zero-width tests of `frame` in word w of its rows that hold at place i.
    uint64_t HoldingTestsInWord(const RegExpFrame& frame, int i, uint32_t w) const {
        uint64_t hold = 0;
        for (uint32_t bit : frame.tests)
            if (bit / 64 == w && m_text.Holds(RegExpOpOf(m_program.code[frame.first + bit]), i))
                hold |= uint64_t{1} << (bit % 64);
        return hold;
    }
    void HoldingTests(const RegExpFrame& frame, int i, uint32_t lo, uint32_t hi, uint64_t* hold) const {
        for (uint32_t w = lo; w < hi; ++w)
            hold[w] = HoldingTestsInWord(frame, i, w);
    }

    // ComputeLive with bit rows: at each place the kernel (the instructions entered backwards over the
    // byte after it) is closed with the backward rows, then with those of the zero-width tests that
    // hold there and lead into the set, until no more do.
    template <uint32_t kWords>
    void ComputeLiveBits(const RegExpFrame& frame, int a, int b, bool onlyStart, LiveTable& table) {
        constexpr uint32_t words = kWords;
        const bool hasTests = !frame.tests.empty();
        uint64_t kernel[kWords] = {}, live[kWords] = {}, hold[kWords] = {}, more[kWords] = {};
        SetBit(kernel, frame.size - 1); // the node's exit, at b
        for (int i = b;; --i) {
            if (hasTests)
                HoldingTests(frame, i, 0, kWords, hold);
            for (uint32_t w = 0; w < words; ++w)
                live[w] = 0;
            const uint64_t* pending = kernel;
            for (;;) {
                for (uint32_t w = 0; w < words; ++w)
                    for (uint64_t bits = pending[w]; bits != 0; bits &= bits - 1) {
                        uint32_t j = w * 64 + static_cast<uint32_t>(__builtin_ctzll(bits));
                        // A row holds the rows of its members, so a member needs no row of its own.
                        if (HasBit(live, j))
                            continue;
                        const uint64_t* row = &frame.backward[size_t(j) * words];
                        for (uint32_t v = 0; v < words; ++v)
                            live[v] |= row[v];
                    }
                if (!hasTests)
                    break;
                // Tests t not yet live whose successor t + 1 is.
                uint64_t any = 0;
                for (uint32_t w = 0; w < words; ++w) {
                    uint64_t successorLive = (live[w] >> 1) | (w + 1 < words ? live[w + 1] << 63 : 0);
                    more[w] = hold[w] & ~live[w] & successorLive;
                    any |= more[w];
                }
                if (any == 0)
                    break;
                pending = more;
            }
            if (!onlyStart || i == a) {
                uint64_t* row = table.bits + (onlyStart ? 0 : size_t(i - a) * words);
                for (uint32_t w = 0; w < words; ++w)
                    row[w] = live[w];
            }
            if (i == a)
                return;
            if (IsZero(live, words)) {
                // Nothing is live before this place either.
                if (!onlyStart)
                    std::fill_n(table.bits, size_t(i - a) * words, 0);
                else
                    std::fill_n(table.bits, words, 0);
                return;
            }
            // Step back over byte i - 1: a consuming instruction is live if its successor is.
            const uint64_t* consumes = &frame.consumes[size_t(m_text.At(i - 1)) * words];
            for (uint32_t w = 0; w < words; ++w)
                kernel[w] = ((live[w] >> 1) | (w + 1 < words ? live[w + 1] << 63 : 0)) & consumes[w];
        }
    }

    // The words [lo, hi) of a frame's rows that a part's instructions occupy, the zero-width tests
    // among them that hold at a place, and its exit's bit: the forward simulation of a part looks at
    // these words only.
    struct PartWords {
        uint32_t lo, hi, exit;
        bool hasTests;
    };

    // The forward closure at place i of `pending` inside the part, restricted to the live instructions
    // `liveRow`, into `out`. An instruction reached on a path to a live one is itself live, so closing
    // first and restricting afterwards gives the same set as following live instructions only.
    void ForwardClose(const RegExpFrame& frame, const PartWords& part, uint64_t* pending, int i,
                      const uint64_t* liveRow, uint64_t* out) const {
        const uint32_t words = frame.words;
        uint64_t hold[kMaxRegExpFrameWords], passed[kMaxRegExpFrameWords];
        if (part.hasTests) {
            HoldingTests(frame, i, part.lo, part.hi, hold);
            hold[part.exit / 64] &= ~(uint64_t{1} << (part.exit % 64)); // the exit is never passed
        }
        for (uint32_t w = part.lo; w < part.hi; ++w)
            out[w] = passed[w] = 0;
        for (;;) {
            for (uint32_t w = part.lo; w < part.hi; ++w)
                for (uint64_t bits = pending[w]; bits != 0; bits &= bits - 1) {
                    uint32_t j = w * 64 + static_cast<uint32_t>(__builtin_ctzll(bits));
                    // A row holds the rows of its members, so a member needs no row of its own.
                    if (HasBit(out, j))
                        continue;
                    if (j == part.exit) {
                        SetBit(out, j);
                        continue;
                    }
                    const uint64_t* row = &frame.forward[size_t(j) * words];
                    for (uint32_t v = part.lo; v < part.hi; ++v)
                        out[v] |= row[v];
                }
            if (!part.hasTests)
                break;
            // Pass the tests reached that hold here: their successors join.
            uint64_t any = 0;
            uint64_t tests[kMaxRegExpFrameWords];
            for (uint32_t w = part.lo; w < part.hi; ++w) {
                tests[w] = hold[w] & out[w] & ~passed[w];
                passed[w] |= tests[w];
                any |= tests[w];
            }
            if (any == 0)
                break;
            for (uint32_t w = part.lo; w < part.hi; ++w)
                pending[w] = (tests[w] << 1) | (w > part.lo ? tests[w - 1] >> 63 : 0);
        }
        for (uint32_t w = part.lo; w < part.hi; ++w)
            out[w] &= liveRow[w];
    }

    // LongestLiveBits for a part whose instructions lie in one word of the rows, the common case.
    int LongestLiveInWord(const RegExpFrame& frame, const PartWords& part, uint32_t first, int p, int minEnd,
                          int b, const LiveTable& table) const {
        const uint32_t words = frame.words, w = part.lo;
        const uint64_t exitMask = uint64_t{1} << (part.exit % 64);
        auto close = [&](uint64_t pending, int i) {
            uint64_t out = 0, passed = 0, hold = 0;
            if (part.hasTests) {
                hold = HoldingTestsInWord(frame, i, w) & ~exitMask;
            }
            for (;;) {
                for (uint64_t bits = pending & ~out; bits != 0; bits &= bits - 1) {
                    uint64_t bit = bits & (~bits + 1);
                    if (out & bit)
                        continue;
                    out |= bit == exitMask
                               ? bit
                               : frame.forward[size_t(w * 64 + __builtin_ctzll(bits)) * words + w];
                }
                uint64_t tests = hold & out & ~passed;
                if (tests == 0)
                    break;
                passed |= tests;
                pending = tests << 1;
            }
            return out & table.Row(i)[w];
        };
        uint64_t current = close(uint64_t{1} << (first % 64), p);
        int last = (current & exitMask) && p >= minEnd ? p : -1;
        for (int i = p; i < b; ++i) {
            uint64_t pending = ((current & ~exitMask) & frame.consumes[size_t(m_text.At(i)) * words + w])
                               << 1;
            if (pending == 0)
                break;
            current = close(pending, i + 1);
            if ((current & exitMask) && i + 1 >= minEnd)
                last = i + 1;
        }
        return last;
    }

    // LongestLive with bit rows.
    int LongestLiveBits(uint32_t first, uint32_t exit, int p, int minEnd, int b, const LiveTable& table) {
        const RegExpFrame& frame = *table.frame;
        const uint32_t words = frame.words;
        if (exit == first + 1) {
            // A single instruction (a byte, a set, a test or the empty string) spans one byte or none.
            if (!table.Has(p, first))
                return -1;
            uint32_t insn = m_program.code[first];
            RegExpOp op = RegExpOpOf(insn);
            if (op == RegExpOp::kChar || op == RegExpOp::kAnyChar || op == RegExpOp::kSet)
                return p < b && p + 1 >= minEnd && m_text.Consumes(insn, m_text.At(p)) &&
                               table.Has(p + 1, exit)
                           ? p + 1
                           : -1;
            if (op == RegExpOp::kEmpty || IsZeroWidthTest(op))
                return p >= minEnd && m_text.Holds(op, p) && table.Has(p, exit) ? p : -1;
        }
        PartWords part{(first - frame.first) / 64, (exit - frame.first) / 64 + 1, exit - frame.first, false};
        for (uint32_t bit : frame.tests)
            part.hasTests = part.hasTests || (bit >= first - frame.first && bit < part.exit);
        if (part.lo + 1 == part.hi)
            return LongestLiveInWord(frame, part, first - frame.first, p, minEnd, b, table);
        uint64_t pending[kMaxRegExpFrameWords] = {}, current[kMaxRegExpFrameWords] = {};
        SetBit(pending, first - frame.first);
        ForwardClose(frame, part, pending, p, table.Row(p), current);
        int last = HasBit(current, part.exit) && p >= minEnd ? p : -1;
        for (int i = p; i < b; ++i) {
            const uint64_t* consumes = &frame.consumes[size_t(m_text.At(i)) * words];
            current[part.exit / 64] &= ~(uint64_t{1} << (part.exit % 64));
            uint64_t any = 0;
            for (uint32_t w = part.lo; w < part.hi; ++w) {
                uint64_t stepped = current[w] & consumes[w];
                uint64_t below = w > part.lo ? current[w - 1] & consumes[w - 1] : 0;
                pending[w] = (stepped << 1) | (below >> 63);
                any |= pending[w];
            }
            if (any == 0)
                break;
            ForwardClose(frame, part, pending, i + 1, table.Row(i + 1), current);
            if (HasBit(current, part.exit) && i + 1 >= minEnd)
                last = i + 1;
        }
        return last;
    }

    // Whether `node` matches the empty string at place a.
    bool CanSpanEmpty(const RegExpNode& node, int a) {
        m_current.Clear();
        m_stack.clear();
        m_stack.push_back(node.first);
        while (!m_stack.empty()) {
            uint32_t pc = m_stack.back();
            m_stack.pop_back();
            if (pc == node.end)
                return true;
            if (pc < node.first || pc > node.end || m_current.Contains(pc))
                continue;
            m_current.Add(pc, 0);
            PushEmptyTransitions(m_program, m_text, pc, a, m_stack);
        }
        return false;
    }

    uint32_t FirstEmptyAlternative(const RegExpNode& node, int a) {
        for (uint32_t k = 0; k < node.childCount; ++k)
            if (CanSpanEmpty(m_program.nodes[Child(node, k)], a))
                return Child(node, k);
        throw InternalError{kRegAssert};
    }

    uint32_t FirstSpanningAlternative(const RegExpNode& node, int a, int b) {
        // Usually the first byte leaves a single alternative that can start the span.
        uint32_t candidate = 0, candidates = 0;
        for (uint32_t k = 0; k < node.childCount && candidates < 2; ++k) {
            const RegExpNode& alternative = m_program.nodes[Child(node, k)];
            if (alternative.canBeEmpty || m_program.sets[alternative.firstBytes].Has(m_text.At(a))) {
                candidate = Child(node, k);
                ++candidates;
            }
        }
        if (candidates == 1)
            return candidate;
        LiveTable table;
        ComputeLive(node, a, b, true, table);
        for (uint32_t k = 0; k < node.childCount; ++k) {
            uint32_t alternative = Child(node, k);
            if (table.Has(a, m_program.nodes[alternative].first))
                return alternative;
        }
        throw InternalError{kRegAssert};
    }

    // The last place at or after `minEnd` where the instructions [first, exit) started at place p
    // reach `exit`, following only live instructions; -1 when there is none.
    int LongestLive(uint32_t first, uint32_t exit, int p, int minEnd, int b, const LiveTable& table) {
        if (table.frame != nullptr)
            return LongestLiveBits(first, exit, p, minEnd, b, table);
        int last = -1;
        m_current.Clear();
        bool reached = AddLive(m_current, first, first, exit, p, table);
        if (reached && p >= minEnd)
            last = p;
        for (int i = p; i < b && !m_current.Empty(); ++i) {
            m_next.Clear();
            reached = false;
            uint8_t c = m_text.At(i);
            for (uint32_t k = 0; k < m_current.Size(); ++k) {
                uint32_t pc = m_current.At(k);
                if (pc != exit && m_text.Consumes(m_program.code[pc], c))
                    reached = AddLive(m_next, pc + 1, first, exit, i + 1, table) || reached;
            }
            if (reached && i + 1 >= minEnd)
                last = i + 1;
            std::swap(m_current, m_next);
        }
        return last;
    }

    // Adds `pc` and its empty closure at place i, within [first, exit] and live only; true when the
    // closure reaches `exit`.
    bool AddLive(StateSet& set, uint32_t pc, uint32_t first, uint32_t exit, int i, const LiveTable& table) {
        bool reached = false;
        m_stack.push_back(pc);
        while (!m_stack.empty()) {
            pc = m_stack.back();
            m_stack.pop_back();
            if (pc < first || pc > exit || set.Contains(pc) || !table.Has(i, pc))
                continue;
            set.Add(pc, 0);
            if (pc == exit) {
                reached = true;
                continue;
            }
            PushEmptyTransitions(m_program, m_text, pc, i, m_stack);
        }
        return reached;
    }

    // Finds the parts' boundaries, longest from the left, dissects all parts but the last that hold
    // groups, and returns the last one holding groups for the caller to follow, with [a, b) updated.
    uint32_t DissectSequence(const RegExpNode& node, int& a, int& b) {
        uint32_t lastWithGroups = 0;
        for (uint32_t k = 0; k < node.childCount; ++k)
            if (m_program.nodes[Child(node, k)].hasGroups)
                lastWithGroups = k;
        // The boundaries go on the shared stack (read by index: nested dissections push above them).
        const size_t base = m_bounds.size();
        m_bounds.push_back(a);
        {
            LiveTable table;
            ComputeLive(node, a, b, false, table);
            int p = a;
            for (uint32_t k = 0; k < lastWithGroups; ++k) {
                const RegExpNode& part = m_program.nodes[Child(node, k)];
                p = LongestLive(part.first, part.end, p, p, b, table);
                if (p < 0)
                    throw InternalError{kRegAssert};
                m_bounds.push_back(p);
            }
            const RegExpNode& last = m_program.nodes[Child(node, lastWithGroups)];
            int end =
                lastWithGroups + 1 == node.childCount ? b : LongestLive(last.first, last.end, p, p, b, table);
            if (end < 0)
                throw InternalError{kRegAssert};
            m_bounds.push_back(end);
        }
        for (uint32_t k = 0; k < lastWithGroups; ++k)
            Dissect(Child(node, k), m_bounds[base + k], m_bounds[base + k + 1]);
        a = m_bounds[base + lastWithGroups];
        b = m_bounds[base + lastWithGroups + 1];
        m_bounds.resize(base);
        return Child(node, lastWithGroups);
    }

    void DissectRepeated(const RegExpNode& node, int a, int b) {
        uint32_t bodyIndex = Child(node, 0);
        if (a == b) {
            Dissect(bodyIndex, a, b); // one empty iteration
            return;
        }
        const RegExpNode& body = m_program.nodes[bodyIndex];
        const size_t base = m_bounds.size();
        m_bounds.push_back(a);
        {
            LiveTable table;
            ComputeLive(node, a, b, false, table);
            // Iterations are never empty once the span is not: an empty one could be left out.
            for (int p = a; p < b;) {
                p = LongestLive(body.first, body.end, p, p + 1, b, table);
                if (p < 0)
                    throw InternalError{kRegAssert};
                m_bounds.push_back(p);
            }
        }
        for (size_t k = base; k + 1 < m_bounds.size(); ++k)
            Dissect(bodyIndex, m_bounds[k], m_bounds[k + 1]);
        m_bounds.resize(base);
    }

    const RegExpProgram& m_program;
    const Text& m_text;
    std::vector<std::pair<int, int>>& m_groups;
    StateSet& m_current;
    StateSet& m_next;
    std::vector<uint32_t>& m_stack;
    std::vector<uint64_t>& m_tableBits;
    std::vector<int>& m_bounds;
};

// Whether `needle` occurs in text[0, length).
bool Contains(const uint8_t* text, int length, const std::string& needle) {
    if (needle.empty())
        return true;
    std::string_view haystack(reinterpret_cast<const char*>(text), static_cast<size_t>(length));
    return haystack.find(needle) != std::string_view::npos;
}

} // namespace

int ExecuteRegExpProgram(const RegExpProgram& program, const char* text, int length, int flags,
                         std::vector<std::pair<int, int>>& groups) {
    if (program.code.empty())
        return kRegBadPat;
    if (length < 0 || (text == nullptr && length > 0))
        return kRegInvArg;
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(text != nullptr ? text : "");
    if (!Contains(bytes, length, program.mustContain))
        return kRegNoMatch;
    try {
        Text view(program, bytes, length, flags);
        int start = -1, end = -1;
        RegExpDfaResult found = FindRegExpMatchByDfa(program, bytes, length, flags, start, end);
        if (found == RegExpDfaResult::kNoMatch)
            return kRegNoMatch;
        if (found == RegExpDfaResult::kGaveUp) {
            Searcher searcher(program, view);
            if (!searcher.Find(start, end))
                return kRegNoMatch;
        }
        groups.assign(static_cast<size_t>(program.groupCount) + 1, {-1, -1});
        groups[0] = {start, end};
        if (program.nodes[program.root].hasGroups) {
            DissectScratch& scratch = ThreadScratch();
            scratch.bounds.clear();
            try {
                Dissector dissector(program, view, groups, scratch);
                dissector.Dissect(program.root, start, end);
            } catch (...) {
                scratch.Trim();
                throw;
            }
            scratch.Trim();
        }
        return kRegOkay;
    } catch (const InternalError& e) {
        return e.error;
    } catch (const std::bad_alloc&) {
        return kRegESpace;
    }
}

void SetRegExpFastPathsForTesting(bool enabled) {
    t_fastPaths = enabled;
}
