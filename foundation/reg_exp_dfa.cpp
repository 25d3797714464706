// Finding the match with the automaton, in two passes:
// 1. An unanchored pass (a new thread at every place) finds the earliest place where some match ends,
//    and the last place before it where no partial match was in progress: no match starts before it.
// 2. From that place on, each start is tried with an anchored pass that runs until its state set dies,
//    keeping the last place where a match ended; the first start with a match is the leftmost one.
// The tries are bounded by a work budget proportional to the text, so a search stays linear: beyond
// the budget, or beyond kMaxDfaStates states, the caller falls back to the state-set search.
#include "foundation/reg_exp_dfa.h"

#include "platform/thread_exit.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

constexpr size_t kMaxDfaStates = 512; // per automaton; about 1 KB each
constexpr size_t kCachedPrograms = 4; // automata kept per thread
constexpr int kUnknown = -1;
constexpr int kEndOfTextEol = 256; // "next byte" at the end of a text that ends a line
constexpr int kEndOfTextNotEol = 257;

// What lies before a place, as far as the zero-width tests care.
enum Before : uint8_t { kEdgeBol, kEdgeNotBol, kNewline, kWord, kOther };

bool IsWordByte(int c) {
    return c == '_' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
uint8_t ClassOf(uint8_t c) {
    return c == '\n' ? kNewline : IsWordByte(c) ? kWord : kOther;
}

class Dfa {
public:
    Dfa(const RegExpProgram& program, bool unanchored)
        : m_program(program), m_unanchored(unanchored), m_mark(program.code.size(), 0),
          m_newlineSensitive(!(program.compileFlags & kRegExpNewlineOrdinary)) {}

    // The state at a start place; -1 when the automaton is full.
    int Start(uint8_t before) {
        int& start = m_start[before];
        if (start < 0) {
            std::vector<uint32_t> kernel;
            if (!m_unanchored)
                kernel.push_back(0);
            start = Intern(std::move(kernel), before);
        }
        return start;
    }

    bool Empty(int state) const { return m_states[state].kernel.empty(); }

    // Steps over byte c; `matchHere` tells whether a match ends at the place before c. Returns -1 when
    // the automaton is full.
    int Step(int state, uint8_t c, bool& matchHere) {
        int32_t cached = m_states[state].next[c];
        if (cached != kUnknown) {
            matchHere = cached & 1;
            return cached >> 1;
        }
        std::vector<uint32_t> kernel;
        matchHere = Close(state, c, &kernel, c);
        int next = Intern(std::move(kernel), ClassOf(c));
        if (next < 0)
            return -1;
        m_states[state].next[c] = (next << 1) | (matchHere ? 1 : 0);
        return next;
    }

    bool MatchAtEnd(int state, bool endsLine) {
        int8_t& known = m_states[state].matchAtEnd[endsLine ? 1 : 0];
        if (known < 0)
            known = Close(state, endsLine ? kEndOfTextEol : kEndOfTextNotEol, nullptr, 0) ? 1 : 0;
        return known == 1;
    }

private:
    struct State {
        std::vector<uint32_t> kernel; // instructions entered by consuming the byte before, sorted
        uint8_t before;
        std::array<int8_t, 2> matchAtEnd{-1, -1}; // at the end of a text not ending / ending a line
        std::array<int32_t, 256> next;            // (state << 1) | match-here, or kUnknown
    };

    int Intern(std::vector<uint32_t> kernel, uint8_t before) {
        std::string key(reinterpret_cast<const char*>(kernel.data()), kernel.size() * sizeof(uint32_t));
        key += static_cast<char>(before);
        auto found = m_index.find(key);
        if (found != m_index.end())
            return found->second;
        if (m_states.size() >= kMaxDfaStates)
            return -1;
        State state;
        state.kernel = std::move(kernel);
        state.before = before;
        state.next.fill(kUnknown);
        m_states.push_back(std::move(state));
        int id = static_cast<int>(m_states.size() - 1);
        m_index.emplace(std::move(key), id);
        return id;
    }

    bool Holds(RegExpOp op, uint8_t before, int next) const {
        bool bol = before == kEdgeBol || (m_newlineSensitive && before == kNewline);
        bool eol = next == kEndOfTextEol || (m_newlineSensitive && next == '\n');
        bool beforeIsByte = before >= kNewline, afterIsByte = next < 256;
        bool beforeWord = before == kWord, afterWord = afterIsByte && IsWordByte(next);
        switch (op) {
        case RegExpOp::kBeginLine:
            return bol;
        case RegExpOp::kEndLine:
            return eol;
        case RegExpOp::kWordBoundary:
            return ((bol || (beforeIsByte && !beforeWord)) && afterWord) ||
                   (beforeWord && (eol || (afterIsByte && !afterWord)));
        case RegExpOp::kNotWordBoundary:
            return !beforeIsByte || !afterIsByte || beforeWord == afterWord;
        default:
            return true;
        }
    }

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

    // Closes the state's kernel over the empty transitions at a place followed by `next`; with
    // `kernel`, collects the instructions entered by consuming byte c. Returns whether kEnd is reached.
    bool Close(int state, int next, std::vector<uint32_t>* kernel, uint8_t c) {
        if (++m_generation == 0) {
            std::fill(m_mark.begin(), m_mark.end(), 0);
            m_generation = 1;
        }
        const uint8_t before = m_states[state].before;
        m_stack.assign(m_states[state].kernel.begin(), m_states[state].kernel.end());
        if (m_unanchored)
            m_stack.push_back(0);
        bool matched = false;
        while (!m_stack.empty()) {
            uint32_t pc = m_stack.back();
            m_stack.pop_back();
            if (m_mark[pc] == m_generation)
                continue;
            m_mark[pc] = m_generation;
            uint32_t insn = m_program.code[pc];
            RegExpOp op = RegExpOpOf(insn);
            switch (op) {
            case RegExpOp::kEnd:
                matched = true;
                break;
            case RegExpOp::kChar:
            case RegExpOp::kAnyChar:
            case RegExpOp::kSet:
                if (kernel && Consumes(insn, c))
                    kernel->push_back(pc + 1);
                break;
            default:
                if (PushRegExpControlTargets(insn, pc, m_stack))
                    break;
                if (Holds(op, before, next))
                    m_stack.push_back(pc + 1);
                break;
            }
        }
        if (kernel) {
            std::sort(kernel->begin(), kernel->end());
            kernel->erase(std::unique(kernel->begin(), kernel->end()), kernel->end());
        }
        return matched;
    }

    const RegExpProgram& m_program;
    bool m_unanchored;
    std::vector<State> m_states;
    std::array<int, 5> m_start{-1, -1, -1, -1, -1}; // per Before class, -1 until built
    std::unordered_map<std::string, int> m_index;
    std::vector<uint32_t> m_mark;
    uint32_t m_generation = 0;
    std::vector<uint32_t> m_stack;
    bool m_newlineSensitive;
};

struct CachedAutomata {
    uint64_t serial = 0;
    std::unique_ptr<Dfa> unanchored, anchored;
    int onlyFirstByte = -1; // the one byte every match starts with, if there is only one
};

// The automata of one thread, for the last few programs it matched with.
struct AutomataCache {
    std::array<CachedAutomata, kCachedPrograms> entries;
    size_t nextVictim = 0;
};

// Caches of threads that have ended, handed to the threads that start next: the HTTP client runs
// every exchange on a thread of its own, which would otherwise build the same automata for the same
// header patterns again for every reply. An entry of a freed program is never matched again (serial
// numbers are not reused), so a cache may pass between threads as it is.
class AutomataCachePool {
public:
    static constexpr size_t kMaxKept = 16;

    std::unique_ptr<AutomataCache> Take() {
        std::lock_guard lock(m_mutex);
        if (m_kept.empty())
            return std::make_unique<AutomataCache>();
        std::unique_ptr<AutomataCache> cache = std::move(m_kept.back());
        m_kept.pop_back();
        return cache;
    }
    void Give(std::unique_ptr<AutomataCache> cache) {
        std::lock_guard lock(m_mutex);
        if (m_kept.size() < kMaxKept)
            m_kept.push_back(std::move(cache));
    }

private:
    std::mutex m_mutex;
    std::vector<std::unique_ptr<AutomataCache>> m_kept;
};

AutomataCachePool& ThePool() {
    // Never destroyed: threads may end, and give back their caches, while the process exits.
    static AutomataCachePool* pool = new AutomataCachePool;
    return *pool;
}

// The calling thread's cache, taken from the pool on first use and given back by a thread-exit
// clean-up when the thread ends (the clean-up's context is the cache itself).
thread_local AutomataCache* t_automata = nullptr;
static_assert(platform::kThreadLocalSafe<decltype(t_automata)>);

void GiveBackAutomata(void* context) {
    std::unique_ptr<AutomataCache> cache(static_cast<AutomataCache*>(context));
    if (t_automata == cache.get())
        t_automata = nullptr;
    ThePool().Give(std::move(cache));
}

AutomataCache& ThreadAutomata() {
    if (t_automata == nullptr) {
        std::unique_ptr<AutomataCache> cache = ThePool().Take();
        platform::AtThreadExit(&GiveBackAutomata, cache.get());
        t_automata = cache.release();
    }
    return *t_automata;
}

// This thread's automata for `program`, built on first use. Programs are told apart by serial number,
// so an entry of a freed program is never used again.
CachedAutomata& AutomataFor(const RegExpProgram& program) {
    AutomataCache& mine = ThreadAutomata();
    auto& cache = mine.entries;
    size_t& nextVictim = mine.nextVictim;
    for (CachedAutomata& entry : cache)
        if (entry.serial == program.serial)
            return entry;
    CachedAutomata& entry = cache[nextVictim];
    nextVictim = (nextVictim + 1) % kCachedPrograms;
    entry.serial = program.serial;
    entry.unanchored = std::make_unique<Dfa>(program, true);
    entry.anchored = std::make_unique<Dfa>(program, false);
    entry.onlyFirstByte = -1;
    int count = 0;
    for (int c = 0; c < 256 && program.canSkip; ++c)
        if (program.firstBytes.Has(uint8_t(c))) {
            entry.onlyFirstByte = c;
            ++count;
        }
    if (count != 1)
        entry.onlyFirstByte = -1;
    return entry;
}

} // namespace

RegExpDfaResult FindRegExpMatchByDfa(const RegExpProgram& program, const uint8_t* text, int length, int flags,
                                     int& start, int& end) {
    CachedAutomata& automata = AutomataFor(program);
    const bool endsLine = !(flags & kRegExpNotEndOfLine);
    const uint8_t atStart = (flags & kRegExpNotBeginOfLine) ? kEdgeNotBol : kEdgeBol;

    // Pass 1: the earliest match end, and the last place before it without a partial match.
    Dfa& unanchored = *automata.unanchored;
    int state = unanchored.Start(atStart);
    if (state < 0)
        return RegExpDfaResult::kGaveUp;
    int firstEnd = -1, noPartial = 0;
    for (int i = 0;; ++i) {
        if (unanchored.Empty(state)) {
            // No partial match is in progress: skip to the next byte a match can start with. Matches
            // are never empty here, so none ends at the bytes skipped, and the state there is the start
            // state after the byte before.
            if (program.canSkip && i < length && !program.firstBytes.Has(text[i])) {
                if (automata.onlyFirstByte >= 0) {
                    const void* found = memchr(text + i, automata.onlyFirstByte, size_t(length - i));
                    i = found ? int(static_cast<const uint8_t*>(found) - text) : length;
                } else {
                    while (i < length && !program.firstBytes.Has(text[i]))
                        ++i;
                }
                if (i == length)
                    return RegExpDfaResult::kNoMatch;
                state = unanchored.Start(ClassOf(text[i - 1]));
                if (state < 0)
                    return RegExpDfaResult::kGaveUp;
            }
            noPartial = i;
        }
        if (i == length) {
            if (unanchored.MatchAtEnd(state, endsLine))
                firstEnd = i;
            break;
        }
        bool matchHere = false;
        int next = unanchored.Step(state, text[i], matchHere);
        if (matchHere) {
            firstEnd = i;
            break;
        }
        if (next < 0)
            return RegExpDfaResult::kGaveUp;
        state = next;
    }
    if (firstEnd < 0)
        return RegExpDfaResult::kNoMatch;

    // Pass 2: the first start from there with a match, and its longest end.
    Dfa& anchored = *automata.anchored;
    long budget = 8L * (length + 1) + 1024;
    for (int s = noPartial; s <= firstEnd; ++s) {
        if (program.canSkip && (s == length || !program.firstBytes.Has(text[s])))
            continue;
        state = anchored.Start(s == 0 ? atStart : ClassOf(text[s - 1]));
        if (state < 0)
            return RegExpDfaResult::kGaveUp;
        int last = -1;
        for (int i = s;; ++i) {
            if (i == length) {
                if (anchored.MatchAtEnd(state, endsLine))
                    last = i;
                break;
            }
            bool matchHere = false;
            int next = anchored.Step(state, text[i], matchHere);
            if (matchHere)
                last = i;
            if (next < 0 || --budget < 0)
                return RegExpDfaResult::kGaveUp;
            state = next;
            if (anchored.Empty(state))
                break;
        }
        if (last >= 0) {
            start = s;
            end = last;
            return RegExpDfaResult::kMatch;
        }
    }
    return RegExpDfaResult::kGaveUp; // cannot happen: pass 1 saw a match end
}
