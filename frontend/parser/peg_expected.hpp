// The rules expected at the furthest failure, as error tracking keeps them.
//
// Tracking appends one entry per failing rule, cuts the list back to a
// length it had earlier, and asks whether exactly one entry was appended
// since then; the error reports the distinct rules left. A remembered
// failure appends, at once, every entry its run appended, and replays nest,
// so the number of entries can double with each level of nesting. Since only
// the rules among the entries, and whether one entry or more were appended,
// ever matter, the list is kept as runs: each entry appended by a rule is a
// run of its own, and each replay is one run holding the set of its rules.
// Cuts always fall between runs: a length to cut back to was taken before
// every run appended after it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace morvane::frontend::parser::peg {

// Entries of the expected list that were appended together.
struct ExpectedRun {
    std::array<uint64_t, 4> rules{};  // one bit per rule value
    bool single = false;              // exactly one entry

    void add(uint8_t rule) { rules[rule >> 6] |= uint64_t{1} << (rule & 63); }
};

class ExpectedRules {
public:
    // A length of the list.
    using Mark = uint32_t;

    Mark mark() const { return static_cast<Mark>(runs_.size()); }

    void push(uint8_t rule) {
        ExpectedRun run;
        run.add(rule);
        run.single = true;
        runs_.push_back(run);
    }
    void append(const ExpectedRun& run) { runs_.push_back(run); }
    // Back to the length the list had at `mark`.
    void cut(Mark mark) { runs_.resize(mark); }
    void clear() { runs_.clear(); }

    // Whether exactly one entry was appended since `mark`.
    bool one_since(Mark mark) const {
        return runs_.size() == size_t{mark} + 1 && runs_[mark].single;
    }
    // The entries appended since `mark`, as one run; at least one.
    ExpectedRun since(Mark mark) const;

    // The distinct rules of the list, ascending.
    std::vector<uint8_t> rules() const;

private:
    std::vector<ExpectedRun> runs_;
};

}  // namespace morvane::frontend::parser::peg
