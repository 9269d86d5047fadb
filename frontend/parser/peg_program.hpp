// The compiled form of a grammar: code for a backtracking parsing machine.
//
// Each rule body is compiled once per context it can run in:
//   Normal     skips between elements; calls of normal and atomic rules
//              leave pairs and are tracked for error reporting;
//   Lookahead  skips, but leaves no pairs and tracks nothing;
//   Atomic     skips nothing, leaves no pairs, tracks nothing.
// Since context is fixed per call site, the machine needs no context flags.
//
// Choices, options and repetitions are preceded by guards: a test of the
// next byte against the set of bytes the guarded element can begin with. A
// guard only skips elements that would fail anyway, so it never changes a
// successful parse; but skipping a tracked rule would change what an error
// reports, so guards over tracked rules are active only when the machine
// runs without tracking.
//
// Calls of memoised rules use their own call and return instructions, so
// that the machine can remember where such a rule failed (see
// peg_machine.hpp) at no cost to the calls of every other rule.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "frontend/parser/peg_notation.hpp"
#include "frontend/parser/rules.hpp"

namespace morvane::frontend::parser::peg {

struct ByteSet {
    std::array<uint64_t, 4> words{};

    bool test(uint8_t b) const { return (words[b >> 6] >> (b & 63)) & 1; }
    void add(uint8_t b) { words[b >> 6] |= uint64_t{1} << (b & 63); }
    void add_range(unsigned low, unsigned high) {
        for (unsigned b = low; b <= high; ++b) add(static_cast<uint8_t>(b));
    }
    ByteSet& operator|=(const ByteSet& other) {
        for (size_t i = 0; i < 4; ++i) words[i] |= other.words[i];
        return *this;
    }
    bool operator==(const ByteSet&) const = default;
};

enum class Op : uint8_t {
    Lit,            // match literal `arg`
    Set,            // one byte in set `set`
    Range,          // one character in range `arg`
    Any,            // one character
    Soi,            // succeed at offset 0
    AtEnd,          // succeed at the end of the text
    Span,           // consume bytes while in set `set`; never fails
    SpanUntil,      // consume characters up to literal `arg` or the end; never fails
    NotSet,         // fail if the next byte is in set `set`; consumes nothing
    NotLit,         // fail if literal `arg` follows; consumes nothing
    Skip,           // skip whitespace and comments (a call of the skip routine)
    Test,           // guard: jump to `arg` unless the next byte is in set `set`
    TestFail,       // guard: fail unless the next byte is in set `set`
    Choice,         // push a backtrack entry resuming at `arg`
    Commit,         // drop the top backtrack entry, jump to `arg`
    PartialCommit,  // move the top backtrack entry to the current state, jump to `arg`
    FailTwice,      // drop the top backtrack entry, then fail
    Fail,
    Call,           // call through call site `arg`
    CallMemo,       // call through call site `arg`, whose rule is memoised
    Ret,            // return from a rule
    RetMemo,        // return from a memoised rule
    Rts,            // return from the skip routine
    Halt,           // the start rule matched
};

inline constexpr size_t kOpCount = static_cast<size_t>(Op::Halt) + 1;

// For Test and TestFail: the guard also acts when the machine tracks,
// because the guarded element holds no tracked call.
inline constexpr uint8_t kGuardWhileTracking = 1;

struct Instr {
    Op op;
    uint8_t flags = 0;
    uint16_t set = 0;
    uint32_t arg = 0;
};

struct LiteralRef {
    uint32_t offset;
    uint32_t length;
};

struct CharRange {
    char32_t low;
    char32_t high;
};

struct CallSite {
    uint32_t target = 0;        // entry of the callee's body
    uint16_t guard_set = 0;     // bytes the callee can begin with
    uint8_t rule = 0;
    bool opens_pair = false;    // leaves a pair and is tracked
    bool can_be_empty = false;  // the callee can succeed without consuming
    bool guard_while_tracking = false;
};

struct Program {
    std::vector<Instr> code;
    std::vector<ByteSet> sets;
    std::string literal_bytes;
    std::vector<LiteralRef> literals;
    std::vector<CharRange> ranges;
    std::vector<CallSite> calls;
    std::vector<uint32_t> start_entry;  // per rule: code that calls it and halts
    uint32_t skip_entry = 0;
    uint16_t skip_set = 0;              // bytes a skip can begin with
    // When WHITESPACE is one or more bytes of a class, a skip first spans
    // that class directly and enters the skip routine only where a byte of
    // skip_set remains (a comment can begin). Empty otherwise.
    uint16_t skip_span_set = 0;
};

struct RuleTable {
    std::vector<std::string_view> names;
    std::vector<RuleKind> kinds;
    std::vector<bool> memoised;  // per rule; empty means none
};

// Checks the definitions against the table and compiles them. Panics on a
// malformed grammar.
Program compile_program(const RuleTable& rules, std::vector<Definition> definitions);

}  // namespace morvane::frontend::parser::peg
