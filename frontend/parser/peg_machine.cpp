// The parsing machine's interpreter loop.
//
// The loop keeps the position and program counter in locals and touches the
// stack only at choices, calls and failures. A failure unwinds the stack to
// the newest backtrack entry; every rule call it pops on the way is a rule
// that failed, which is where tracking happens, and every memoised call it
// pops is a failure to remember.
#include "frontend/parser/peg_machine.hpp"

#include <algorithm>
#include <cstring>

#include "frontend/support/panic.hpp"
#include "frontend/support/utf8.hpp"

namespace morvane::frontend::parser::peg {
namespace {

constexpr uint32_t kNoPair = 0xFFFFFFFFu;

// Bytes of the character at `p`: its lead byte and the continuation bytes
// that follow it, so that text that is not valid UTF-8 still advances by
// whole characters as line_col counts them.
uint32_t char_length(const uint8_t* p, uint32_t remaining) {
    const uint8_t lead = p[0];
    const uint32_t expected = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    uint32_t length = 1;
    while (length < expected && length < remaining && (p[length] & 0xC0) == 0x80) ++length;
    return length;
}

}  // namespace

Machine::Machine(const Program& program, std::string_view text, uint32_t max_depth,
                 detail::TreeStore* store)
    : program_(program),
      text_(text),
      max_depth_(max_depth),
      store_(store != nullptr ? store : &scratch_),
      tracking_(store == nullptr),
      memo_(static_cast<uint32_t>(text.size())) {
    stack_.resize(256);
}

Machine::Frame* Machine::reserve_frame(uint32_t top) {
    if (top == stack_.size()) stack_.resize(stack_.size() * 2);
    return stack_.data();
}

void Machine::close_pair(uint32_t index, uint32_t pos) {
    auto& records = store_->records;
    detail::PairRecord& record = records[index];
    const uint32_t length = pos - record.start;
    const auto descendants = static_cast<uint32_t>(records.size() - index - 1);
    constexpr uint32_t kMax = detail::kPackedFieldMax;
    constexpr uint32_t kBits = detail::kPackedFieldBits;
    if (length < kMax && descendants < kMax) {
        record.packed |= (length << 8) | (descendants << (8 + kBits));
    } else {
        record.packed |= (kMax << 8) | (kMax << (8 + kBits));
        store_->overflow.push_back(detail::PairOverflow{index, length, descendants});
    }
}

void Machine::track_failure(uint8_t rule, uint32_t start, uint32_t before) {
    // Exactly one entry recorded at the rule's start while it ran: that
    // entry is the more precise report and stands for the rule.
    if (furthest_ == start && expected_.one_since(before)) return;
    if (furthest_ == start) {
        expected_.cut(before);
        expected_.push(rule);
    } else if (start > furthest_) {
        expected_.clear();
        furthest_ = start;
        expected_.push(rule);
    }
}

void Machine::remember_failure(const Frame& frame, uint32_t depth) {
    MemoEntry& entry = memo_.insert(program_.calls[frame.site].target, frame.pos);
    entry.depth_used = depth_peak_ - depth;
    if (tracking_) {
        // A failure only ever appends to the expected rules at the furthest
        // position, or moves that position on and starts them afresh.
        const uint32_t furthest_at_call = frame.extra;
        const ExpectedRules::Mark expected_at_call = frame.records;
        entry.furthest = furthest_;
        entry.expected_run = 0;
        if (furthest_ > furthest_at_call || expected_.mark() > expected_at_call) {
            const ExpectedRules::Mark kept = furthest_ > furthest_at_call ? 0 : expected_at_call;
            memo_expected_.push_back(expected_.since(kept));
            entry.expected_run = static_cast<uint32_t>(memo_expected_.size());
        }
    } else {
        const auto held = std::max(pair_peak_, static_cast<uint32_t>(store_->records.size()));
        entry.pairs_used = held - frame.records;
        pair_peak_ = std::max(frame.extra, held);
    }
    depth_peak_ = std::max(frame.pc, depth_peak_);
}

bool Machine::replay_failure(const MemoEntry& entry, uint32_t depth) {
    if (entry.depth_used > max_depth_ - depth) return false;
    if (tracking_) {
        if (entry.expected_run > 0) {
            // The furthest failure never moves back, so the run's position is
            // either still the furthest, and the run appends there, or
            // behind it, and the run changes nothing.
            if (entry.furthest > furthest_) support::panic("parse: memo past the furthest failure");
            if (entry.furthest == furthest_) {
                expected_.append(memo_expected_[entry.expected_run - 1]);
            }
        }
    } else {
        const auto held = static_cast<uint32_t>(store_->records.size());
        if (entry.pairs_used > kMaxPairs - held) return false;
        pair_peak_ = std::max(pair_peak_, held + entry.pairs_used);
    }
    depth_peak_ = std::max(depth_peak_, depth + entry.depth_used);
    return true;
}

Machine::Outcome Machine::run(uint32_t entry) {
    const Instr* const code = program_.code.data();
    const ByteSet* const sets = program_.sets.data();
    const CallSite* const calls = program_.calls.data();
    const LiteralRef* const literals = program_.literals.data();
    const char* const literal_bytes = program_.literal_bytes.data();
    const auto* const s = reinterpret_cast<const uint8_t*>(text_.data());
    const auto n = static_cast<uint32_t>(text_.size());
    const ByteSet& skip_set = sets[program_.skip_set];
    const ByteSet& skip_span_set = sets[program_.skip_span_set];
    auto& records = store_->records;
    auto& overflow = store_->overflow;
    const bool tracking = tracking_;

    uint32_t pos = 0;
    uint32_t pc = entry;
    uint32_t depth = 0;
    uint32_t site_index = 0;  // of the call being entered
    // The stack lives in stack_; `top` counts the frames in use.
    Frame* frames = stack_.data();
    uint32_t top = 0;
    auto push = [&](uint32_t resume, uint32_t at, uint32_t records_kept, uint32_t extra,
                    uint32_t site, FrameKind kind) {
        if (top == stack_.size()) frames = reserve_frame(top);
        Frame& frame = frames[top++];
        frame.pc = resume;
        frame.pos = at;
        frame.records = records_kept;
        frame.extra = extra;
        frame.site = site;
        frame.kind = kind;
    };

    auto next_in = [&](uint16_t set) { return pos < n && sets[set].test(s[pos]); };
    auto literal_at = [&](uint32_t index) {
        const LiteralRef lit = literals[index];
        return n - pos >= lit.length &&
               std::memcmp(s + pos, literal_bytes + lit.offset, lit.length) == 0;
    };

    // Threaded dispatch: each handler jumps straight to the next one, so
    // the branch predictor learns every handler's likely successors (the
    // device CPython's and Lua's interpreters use). Listed in Op order.
    static const void* const kHandlers[] = {
        &&op_lit,       &&op_set,    &&op_range,  &&op_any,
        &&op_soi,       &&op_at_end, &&op_span,   &&op_span_until,
        &&op_not_set,   &&op_not_lit, &&op_skip,  &&op_test,
        &&op_test_fail, &&op_choice, &&op_commit, &&op_partial_commit,
        &&op_fail_twice, &&op_fail,  &&op_call,   &&op_call_memo,
        &&op_ret,       &&op_ret_memo, &&op_rts,  &&op_halt,
    };
    static_assert(sizeof kHandlers / sizeof kHandlers[0] == kOpCount);
#define MORVANE_NEXT() goto* kHandlers[static_cast<uint8_t>(code[pc].op)]

    MORVANE_NEXT();

op_lit: {
    const LiteralRef lit = literals[code[pc].arg];
    if (pos >= n || s[pos] != static_cast<uint8_t>(literal_bytes[lit.offset]) ||
        !literal_at(code[pc].arg)) {
        goto fail;
    }
    pos += lit.length;
    ++pc;
    MORVANE_NEXT();
}
op_set:
    if (!next_in(code[pc].set)) goto fail;
    ++pos;
    ++pc;
    MORVANE_NEXT();
op_range: {
    if (pos >= n) goto fail;
    size_t after = pos;
    const char32_t c = support::decode_next(text_, after);
    const CharRange range = program_.ranges[code[pc].arg];
    if (c < range.low || c > range.high) goto fail;
    pos = static_cast<uint32_t>(after);
    ++pc;
    MORVANE_NEXT();
}
op_any:
    if (pos >= n) goto fail;
    pos += char_length(s + pos, n - pos);
    ++pc;
    MORVANE_NEXT();
op_soi:
    if (pos != 0) goto fail;
    ++pc;
    MORVANE_NEXT();
op_at_end:
    if (pos != n) goto fail;
    ++pc;
    MORVANE_NEXT();
op_span: {
    const ByteSet& set = sets[code[pc].set];
    while (pos < n && set.test(s[pos])) ++pos;
    ++pc;
    MORVANE_NEXT();
}
op_span_until: {
    const LiteralRef lit = literals[code[pc].arg];
    const size_t at = text_.find(std::string_view(literal_bytes + lit.offset, lit.length), pos);
    pos = at == std::string_view::npos ? n : static_cast<uint32_t>(at);
    ++pc;
    MORVANE_NEXT();
}
op_not_set:
    if (next_in(code[pc].set)) goto fail;
    ++pc;
    MORVANE_NEXT();
op_not_lit:
    if (literal_at(code[pc].arg)) goto fail;
    ++pc;
    MORVANE_NEXT();
op_skip:
    while (pos < n && skip_span_set.test(s[pos])) ++pos;
    if (pos < n && skip_set.test(s[pos])) {
        // Every enclosing rule may skip the same comment; a skip depends on
        // its position alone.
        const MemoEntry* skipped = memo_.find(Memo::kSkip, pos);
        if (skipped != nullptr && skipped->depth_used <= max_depth_ - depth) {
            depth_peak_ = std::max(depth_peak_, depth + skipped->depth_used);
            pos = skipped->skip_end;
            ++pc;
            MORVANE_NEXT();
        }
        push(pc + 1, pos, depth_peak_, 0, 0, FrameKind::Return);
        depth_peak_ = depth;
        pc = program_.skip_entry;
    } else {
        ++pc;
    }
    MORVANE_NEXT();
op_test: {
    const Instr& in = code[pc];
    if ((!tracking || (in.flags & kGuardWhileTracking)) && !next_in(in.set)) {
        pc = in.arg;
    } else {
        ++pc;
    }
    MORVANE_NEXT();
}
op_test_fail: {
    const Instr& in = code[pc];
    if ((!tracking || (in.flags & kGuardWhileTracking)) && !next_in(in.set)) goto fail;
    ++pc;
    MORVANE_NEXT();
}
op_choice:
    push(code[pc].arg, pos, static_cast<uint32_t>(records.size()),
         static_cast<uint32_t>(overflow.size()), 0, FrameKind::Backtrack);
    ++pc;
    MORVANE_NEXT();
op_commit:
    --top;
    pc = code[pc].arg;
    MORVANE_NEXT();
op_partial_commit: {
    Frame& frame = frames[top - 1];
    frame.pos = pos;
    frame.records = static_cast<uint32_t>(records.size());
    frame.extra = static_cast<uint32_t>(overflow.size());
    pc = code[pc].arg;
    MORVANE_NEXT();
}
op_fail_twice:
    --top;
    goto fail;
op_fail:
    goto fail;
op_call_memo: {
    site_index = code[pc].arg;
    const CallSite& site = calls[site_index];
    if ((!tracking || site.guard_while_tracking) && !site.can_be_empty &&
        !next_in(site.guard_set)) {
        goto fail;
    }
    const MemoEntry* failed = memo_.find(site.target, pos);
    if (failed != nullptr && replay_failure(*failed, depth)) goto fail;
    if (depth >= max_depth_) {
        stopped_at_ = pos;
        return Outcome::TooDeep;
    }
    if (tracking) {
        push(depth_peak_, pos, expected_.mark(), furthest_, site_index, FrameKind::Memo);
    } else {
        push(depth_peak_, pos, static_cast<uint32_t>(records.size()), pair_peak_, site_index,
             FrameKind::Memo);
        pair_peak_ = static_cast<uint32_t>(records.size());
    }
    depth_peak_ = depth;
    goto enter_rule;
}
op_call: {
    site_index = code[pc].arg;
    const CallSite& site = calls[site_index];
    if ((!tracking || site.guard_while_tracking) && !site.can_be_empty &&
        !next_in(site.guard_set)) {
        goto fail;
    }
    if (depth >= max_depth_) {
        stopped_at_ = pos;
        return Outcome::TooDeep;
    }
}
enter_rule: {
    const CallSite& site = calls[site_index];
    if (++depth > depth_peak_) depth_peak_ = depth;
    uint32_t own_pair = kNoPair;
    uint32_t before = 0;
    if (site.opens_pair) {
        if (tracking) {
            before = furthest_ == pos ? expected_.mark() : 0;
        } else {
            if (records.size() >= kMaxPairs) {
                stopped_at_ = pos;
                return Outcome::TooLarge;
            }
            own_pair = static_cast<uint32_t>(records.size());
            records.push_back(detail::PairRecord{pos, site.rule});
        }
    }
    push(pc + 1, pos, own_pair, before, site_index, FrameKind::Call);
    pc = site.target;
    MORVANE_NEXT();
}
op_ret: {
    const Frame& frame = frames[--top];
    --depth;
    if (frame.records != kNoPair) close_pair(frame.records, pos);
    pc = frame.pc;
    MORVANE_NEXT();
}
op_ret_memo: {
    const Frame& frame = frames[--top];
    --depth;
    if (frame.records != kNoPair) close_pair(frame.records, pos);
    const Frame& memo = frames[--top];
    depth_peak_ = std::max(depth_peak_, memo.pc);
    if (!tracking) pair_peak_ = std::max(pair_peak_, memo.extra);
    pc = frame.pc;
    MORVANE_NEXT();
}
op_rts: {
    const Frame& frame = frames[--top];
    MemoEntry& skipped = memo_.insert(Memo::kSkip, frame.pos);
    skipped.skip_end = pos;
    skipped.depth_used = depth_peak_ - depth;
    depth_peak_ = std::max(depth_peak_, frame.records);
    pc = frame.pc;
    MORVANE_NEXT();
}
op_halt:
    stopped_at_ = pos;
    return Outcome::Matched;

fail:
    for (;;) {
        if (top == 0) {
            stopped_at_ = pos;
            return Outcome::Failed;
        }
        const Frame& frame = frames[--top];
        switch (frame.kind) {
            case FrameKind::Backtrack:
                if (!tracking && records.size() > pair_peak_) {
                    pair_peak_ = static_cast<uint32_t>(records.size());
                }
                pos = frame.pos;
                records.resize(frame.records);
                overflow.resize(frame.extra);
                pc = frame.pc;
                MORVANE_NEXT();
            case FrameKind::Call: {
                --depth;
                const CallSite& site = calls[frame.site];
                if (tracking && site.opens_pair) track_failure(site.rule, frame.pos, frame.extra);
                break;
            }
            case FrameKind::Memo:
                remember_failure(frame, depth);
                break;
            case FrameKind::Return:
                depth_peak_ = std::max(depth_peak_, frame.records);
                break;
        }
    }
#undef MORVANE_NEXT
}

}  // namespace morvane::frontend::parser::peg
