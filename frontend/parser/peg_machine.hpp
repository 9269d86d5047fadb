// The parsing machine: runs compiled grammar code over one text.
//
// The machine keeps its own stack of backtrack entries and rule calls, so
// the depth of the input never reaches the C++ stack. It runs in one of two
// modes:
//   - building: guards skip every element that cannot start at the next
//     byte, and pairs are written to the tree store; nothing is tracked;
//   - tracking: guards that would skip a tracked rule stay silent, and every
//     failing tracked call updates the furthest failure and its expected
//     rules; no pairs are written.
// A text that parses in one mode parses in the other (guards only skip what
// would fail), so the parser builds first and tracks only after a failure.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "frontend/parser/parse_tree.hpp"
#include "frontend/parser/peg_program.hpp"

namespace morvane::frontend::parser::peg {

class Machine {
public:
    enum class Outcome : uint8_t { Matched, Failed, TooDeep };

    // With a store, the machine builds pairs into it; without, it tracks.
    Machine(const Program& program, std::string_view text, uint32_t max_depth,
            detail::TreeStore* store);

    Outcome run(uint32_t entry);

    // Where the run stopped: after Matched, the end of the match; after
    // TooDeep, the call that went too deep.
    uint32_t stopped_at() const { return stopped_at_; }
    // After Failed while tracking: the furthest failure position and the
    // rules expected there, in the order recorded.
    uint32_t furthest_failure() const { return furthest_; }
    const std::vector<uint8_t>& expected() const { return expected_; }

private:
    enum class FrameKind : uint8_t { Backtrack, Call, Return };

    struct Frame {
        uint32_t pc;        // Backtrack: where to resume; Call, Return: return address
        uint32_t pos;       // Backtrack: saved position; Call: where the rule started
        uint32_t records;   // Backtrack: pairs to keep; Call: the rule's own pair
        uint32_t extra;     // Backtrack: overflow entries to keep; Call: entries before
        uint32_t site;      // Call: its call site
        FrameKind kind;
    };

    void open_pair(uint8_t rule, uint32_t pos);
    void close_pair(uint32_t index, uint32_t pos);
    void track_failure(uint8_t rule, uint32_t start, uint32_t before);

    const Program& program_;
    std::string_view text_;
    uint32_t max_depth_;
    detail::TreeStore scratch_;  // the store while tracking; stays empty
    detail::TreeStore* store_;
    bool tracking_;
    uint32_t stopped_at_ = 0;

    std::vector<Frame> stack_;
    uint32_t furthest_ = 0;
    std::vector<uint8_t> expected_;
};

}  // namespace morvane::frontend::parser::peg
