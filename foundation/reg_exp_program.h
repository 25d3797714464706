// The compiled form of a regular expression: a program of 32-bit instructions that a state-set
// simulation runs, the character sets it tests, the tree of its nodes as laid out in the program (used
// to assign groups after a match is found) and the literal every match must contain. A program is
// built once by CompileRegExpProgram and never modified, so any number of threads may match with it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Operations, in the numbering of the instruction format: an instruction holds its operation in bits 26
// to 30 and its operand (a byte, a set index, a group number or an instruction index) in bits 0 to 25.
// Unless said otherwise an instruction continues with the next one.
enum class RegExpOp : uint32_t {
    kEnd = 0,       // the whole pattern has matched
    kChar = 1,      // consumes the byte in the operand
    kBeginLine = 2, // zero-width tests of the place between two bytes
    kEndLine = 3,
    kAnyChar = 4,      // consumes any byte (but a line feed in newline-sensitive mode)
    kSet = 5,          // consumes a byte of the set whose index is the operand
    kBackRefBegin = 6, // never produced: back-references are rejected
    kBackRefEnd = 7,
    kPlusPrefix = 8,   // start of a repeated body
    kPlusSuffix = 9,   // goes on, or back to the kPlusPrefix whose index is the operand
    kQuestPrefix = 10, // enters the optional body, or skips to the kQuestSuffix in the operand
    kQuestSuffix = 11,
    kGroupOpen = 12, // operand: the group number
    kGroupClose = 13,
    kChoiceBegin = 14, // enters the first alternative, or the kAltPart2 in the operand
    kAltPart1 = 15,    // ends an alternative: jumps to the kChoiceEnd in the operand
    kAltPart2 = 16,    // enters its alternative, or the next kAltPart2 in the operand (0: none)
    kChoiceEnd = 17,
    kWordBoundary = 18,
    kNotWordBoundary = 19,
    kEmpty = 20,
    kNonCaptureOpen = 21,
    kNonCaptureClose = 22,
};

constexpr uint32_t kRegExpOperandMask = (1u << 26) - 1;

constexpr uint32_t MakeRegExpInstruction(RegExpOp op, uint32_t operand) {
    return (static_cast<uint32_t>(op) << 26) | (operand & kRegExpOperandMask);
}
constexpr RegExpOp RegExpOpOf(uint32_t instruction) {
    return static_cast<RegExpOp>((instruction >> 26) & 31);
}
constexpr uint32_t RegExpOperandOf(uint32_t instruction) {
    return instruction & kRegExpOperandMask;
}

// Pushes the targets of a control instruction (repetition, choice and alternative jumps) onto a
// traversal stack, as the state-set simulation and the DFA both walk them. False, with nothing
// pushed, for any other instruction: the caller decides for consuming ones and tests.
template <typename Stack>
inline bool PushRegExpControlTargets(uint32_t instruction, uint32_t pc, Stack& stack) {
    switch (RegExpOpOf(instruction)) {
    case RegExpOp::kPlusSuffix:
    case RegExpOp::kQuestPrefix:
    case RegExpOp::kChoiceBegin:
        stack.push_back(RegExpOperandOf(instruction));
        stack.push_back(pc + 1);
        return true;
    case RegExpOp::kAltPart1:
        stack.push_back(RegExpOperandOf(instruction));
        return true;
    case RegExpOp::kAltPart2:
        if (RegExpOperandOf(instruction) != 0)
            stack.push_back(RegExpOperandOf(instruction));
        stack.push_back(pc + 1);
        return true;
    default:
        return false;
    }
}

// The largest program a pattern may compile to. Counted repetitions multiply their operand, so a short
// pattern can ask for an enormous program; beyond this bound compiling fails with "out of memory"
// before anything of that size is allocated. Matching time is proportional to the program length.
constexpr size_t kMaxRegExpProgramLength = 1u << 16;

// How deeply groups may nest; the parser and the tree walks recurse once per level.
constexpr int kMaxRegExpNesting = 500;

// Compile flags.
constexpr int kRegExpIgnoreCase = 2;
constexpr int kRegExpNewlineOrdinary = 4;

// Match flags.
constexpr int kRegExpNotBeginOfLine = 1;
constexpr int kRegExpNotEndOfLine = 2;

// A set of byte values; bytes are taken as unsigned.
struct RegExpCharSet {
    std::array<uint64_t, 4> bits{};

    bool Has(uint8_t c) const { return (bits[c >> 6] >> (c & 63)) & 1; }
    void Add(uint8_t c) { bits[c >> 6] |= uint64_t{1} << (c & 63); }
    void Remove(uint8_t c) { bits[c >> 6] &= ~(uint64_t{1} << (c & 63)); }
};

// A node of the pattern's tree as laid out in the program: its instructions are [first, end), control
// enters at `first` and leaves to `end`. Every copy of a counted repetition is a node of its own.
struct RegExpNode {
    enum class Kind : uint8_t {
        kLeaf,       // a byte, a set, an anchor, a boundary or the empty string
        kSequence,   // children one after the other
        kChoice,     // children are the alternatives; each ends at its kAltPart1
        kOptional,   // kQuestPrefix, the child, kQuestSuffix
        kRepeated,   // kPlusPrefix, the child, kPlusSuffix: one or more iterations
        kGroup,      // kGroupOpen, the child, kGroupClose
        kNonCapture, // kNonCaptureOpen, the child, kNonCaptureClose
    };
    Kind kind = Kind::kLeaf;
    bool hasGroups = false; // a capturing group lies inside (or is this node)
    uint32_t first = 0;
    uint32_t end = 0;
    int32_t group = 0;           // kGroup: its number
    int32_t lastNestedGroup = 0; // kGroup: groups group+1 .. lastNestedGroup lie inside it
    uint32_t firstChild = 0;     // index into RegExpProgram::children
    uint32_t childCount = 0;
    // Alternatives of a choice: whether the node can match the empty string and the bytes a non-empty
    // match can start with (zero-width tests taken as passing), so most choices are decided by the
    // first byte alone.
    bool canBeEmpty = true;
    int32_t firstBytes = -1; // index into RegExpProgram::sets, -1 when not computed
    int32_t frame = -1;      // index into RegExpProgram::frames, -1 when the node has none
};

// Bit tables that let the dissection of a node (a sequence, repeated node or choice holding groups)
// simulate all its instructions at once, 64 to a word. Bit j of a row stands for instruction first + j;
// the frame covers the node's instructions and its exit, [node.first, node.end].
constexpr uint32_t kMaxRegExpFrameWords = 8; // frames of up to 512 instructions
struct RegExpFrame {
    uint32_t first = 0;
    uint32_t size = 0;  // instructions covered, node.end - node.first + 1
    uint32_t words = 0; // 1, 2, 4 or 8 words per row
    // backward[j]: the instructions that reach first + j by empty transitions inside the node without
    // a zero-width test on the way (first + j itself included). A zero-width test is in no row but its
    // own: whether it may be passed depends on the place.
    std::vector<uint64_t> backward;
    // forward[j] (sequences and repeated nodes): the instructions reached from first + j by empty
    // transitions without a zero-width test, inside the part (a sequence's child, a repeated node's
    // body) it belongs to, stopping at the part's exit.
    std::vector<uint64_t> forward;
    std::vector<uint64_t> consumes; // row c: the instructions that consume byte c
    std::vector<uint32_t> tests;    // the bits of the zero-width tests (^, $, \b, \B), in order
};

struct RegExpProgram {
    std::vector<uint32_t> code;
    std::vector<RegExpCharSet> sets;
    std::vector<RegExpNode> nodes;
    std::vector<uint32_t> children;
    std::vector<RegExpFrame> frames;
    uint32_t root = 0;

    // The instructions with an empty (non-consuming) transition into instruction i are
    // predecessors[predecessorsFirst[i] .. predecessorsFirst[i + 1]); a consuming instruction's only
    // successor is the next one.
    std::vector<uint32_t> predecessorsFirst;
    std::vector<uint32_t> predecessors;

    int groupCount = 0;       // capturing groups, counted by their opening parentheses
    std::string mustContain;  // every match contains this literal (may be empty)
    bool usesAnchors = false; // the pattern holds ^ or $
    int compileFlags = 0;
    uint64_t serial = 0; // unique per compiled program, for per-thread caches of derived data

    // The bytes a match can begin with, when no match can be empty; lets the search skip ahead.
    bool canSkip = false;
    RegExpCharSet firstBytes;
};

// Compiles pattern[0, length) (which may hold NUL bytes) with the compile flags into `program`.
// Returns kRegOkay or the number of the first error found, reading from the left.
int CompileRegExpProgram(const char* pattern, size_t length, int flags, RegExpProgram& program);

// Searches text[0, length) for the leftmost-longest match. On kRegOkay `groups` holds groupCount + 1
// (start, end) pairs, (-1, -1) for a group that took no part. Returns kRegOkay, kRegNoMatch,
// kRegInvArg for a negative length, or kRegESpace when the working sets cannot be had.
int ExecuteRegExpProgram(const RegExpProgram& program, const char* text, int length, int flags,
                         std::vector<std::pair<int, int>>& groups);

// Tests only: false makes this thread's matches take the general paths (state sets instead of the
// frames' bit tables), so that a test can check that both give the same groups.
void SetRegExpFastPathsForTesting(bool enabled);
