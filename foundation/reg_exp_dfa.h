// A lazily built deterministic automaton over the program's state sets, for finding where the
// leftmost-longest match lies without simulating every state at every byte. Its states are the sets
// of instructions a state-set simulation would hold, each with the class of the byte before it (which
// the zero-width tests need); transitions are built on first use and kept per thread.
#pragma once

#include "foundation/reg_exp_program.h"

#include <cstdint>

enum class RegExpDfaResult {
    kMatch,
    kNoMatch,
    kGaveUp, // too many automaton states or too much work: search by state sets instead
};

// The leftmost-longest match of `program` in text[0, length) as [start, end).
RegExpDfaResult FindRegExpMatchByDfa(const RegExpProgram& program, const uint8_t* text, int length, int flags,
                                     int& start, int& end);
