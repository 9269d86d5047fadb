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
//
// In both modes the machine remembers (peg_memo.hpp) where memoised rules
// failed and where skips over comments stopped, so that backtracking never
// does that work twice and parse time stays linear in the text. A replayed
// failure has exactly the effects of running the rule again: while
// tracking, the furthest failure and the rules expected there; and a replay
// is refused, and the rule run again, whenever running it could reach the
// nesting or pair limits from where it is called now. So memoising changes
// no tree, no error and no limit, only the time taken.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "frontend/parser/parse_tree.hpp"
#include "frontend/parser/peg_expected.hpp"
#include "frontend/parser/peg_memo.hpp"
#include "frontend/parser/peg_program.hpp"

namespace morvane::frontend::parser::peg {

class Machine {
public:
    // TooLarge: the tree would hold more pairs than 32-bit indexes address.
    enum class Outcome : uint8_t { Matched, Failed, TooDeep, TooLarge };

    static constexpr uint32_t kMaxPairs = 0xFFFFFFFEu;

    // With a store, the machine builds pairs into it; without, it tracks.
    // A machine runs once.
    Machine(const Program& program, std::string_view text, uint32_t max_depth,
            detail::TreeStore* store);

    Outcome run(uint32_t entry);

    // Where the run stopped: after Matched, the end of the match; after
    // TooDeep, the call that went too deep.
    uint32_t stopped_at() const { return stopped_at_; }
    // After Failed while tracking: the furthest failure position and the
    // distinct rules expected there, ascending.
    uint32_t furthest_failure() const { return furthest_; }
    std::vector<uint8_t> expected() const { return expected_.rules(); }

private:
    // Every field is a full word: frames are written field by field on the
    // hot path, and mixed widths would make the writes merge badly.
    //   Backtrack: where to resume, the position, pairs and overflow entries
    //              to keep;
    //   Call:      the return address, where the rule started, its own pair
    //              (building) or the expected rules before it (tracking),
    //              its call site;
    //   Memo:      under the Call frame of a memoised rule: the enclosing
    //              deepest nesting (in `pc`), where the rule started, the
    //              pairs (building) or expected rules (tracking) held at the
    //              call, the enclosing pair peak (building) or the furthest
    //              failure at the call (tracking), its call site;
    //   Return:    from the skip routine: the return address, where the skip
    //              began, the enclosing deepest nesting (in `records`).
    enum class FrameKind : uint32_t { Backtrack, Call, Memo, Return };

    struct Frame {
        uint32_t pc;
        uint32_t pos;
        uint32_t records;
        uint32_t extra;
        uint32_t site;
        FrameKind kind;
    };

    // Room for one more frame; returns the frame array, which may move.
    Frame* reserve_frame(uint32_t top);
    void close_pair(uint32_t index, uint32_t pos);
    void track_failure(uint8_t rule, uint32_t start, uint32_t before);
    // Records the failure of the memoised call whose Memo frame is `frame`,
    // called at `depth`, and restores the enclosing peaks.
    void remember_failure(const Frame& frame, uint32_t depth);
    // Whether the remembered failure `entry` may stand for a run of its rule
    // called at `depth`; if so, applies the run's effects.
    bool replay_failure(const MemoEntry& entry, uint32_t depth);

    const Program& program_;
    std::string_view text_;
    uint32_t max_depth_;
    detail::TreeStore scratch_;  // the store while tracking; stays empty
    detail::TreeStore* store_;
    bool tracking_;
    uint32_t stopped_at_ = 0;

    std::vector<Frame> stack_;
    uint32_t furthest_ = 0;
    ExpectedRules expected_;

    Memo memo_;
    // The deepest nesting since the innermost memoised call or skip began,
    // and (building) the most pairs held at once since the innermost
    // memoised call began; their frames keep the enclosing peaks. Members
    // rather than locals of the loop, which has no register to spare.
    uint32_t depth_peak_ = 0;
    uint32_t pair_peak_ = 0;
    // What remembered failures appended to the expected rules.
    std::vector<ExpectedRun> memo_expected_;
};

}  // namespace morvane::frontend::parser::peg
