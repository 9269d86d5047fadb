// The parsing machine's interpreter loop.
//
// The loop keeps the position and program counter in locals and touches the
// stack only at choices, calls and failures. A failure unwinds the stack to
// the newest backtrack entry; every rule call it pops on the way is a rule
// that failed, which is where tracking happens.
#include "frontend/parser/peg_machine.hpp"

#include <cstring>

#include "frontend/support/utf8.hpp"

namespace morvane::frontend::parser::peg {
namespace {

constexpr uint32_t kNoPair = 0xFFFFFFFFu;

// Bytes of the character led by `lead`, never more than remain.
uint32_t char_length(uint8_t lead, uint32_t remaining) {
    const uint32_t length = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    return length < remaining ? length : remaining;
}

}  // namespace

Machine::Machine(const Program& program, std::string_view text, uint32_t max_depth,
                 detail::TreeStore* store)
    : program_(program),
      text_(text),
      max_depth_(max_depth),
      store_(store != nullptr ? store : &scratch_),
      tracking_(store == nullptr) {
    stack_.reserve(256);
}

void Machine::open_pair(uint8_t rule, uint32_t pos) {
    store_->records.push_back(detail::PairRecord{pos, rule});
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
    const auto after = static_cast<uint32_t>(furthest_ == start ? expected_.size() : 0);
    // Exactly one entry recorded at the rule's start while it ran: that
    // entry is the more precise report and stands for the rule.
    if (after == before + 1) return;
    if (furthest_ == start) {
        expected_.resize(before);
        expected_.push_back(rule);
    } else if (start > furthest_) {
        expected_.clear();
        furthest_ = start;
        expected_.push_back(rule);
    }
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
    auto& records = store_->records;
    auto& overflow = store_->overflow;
    const bool tracking = tracking_;

    uint32_t pos = 0;
    uint32_t pc = entry;
    uint32_t depth = 0;

    auto next_in = [&](uint16_t set) { return pos < n && sets[set].test(s[pos]); };
    auto literal_at = [&](uint32_t index) {
        const LiteralRef lit = literals[index];
        return n - pos >= lit.length &&
               std::memcmp(s + pos, literal_bytes + lit.offset, lit.length) == 0;
    };

    for (;;) {
        const Instr in = code[pc];
        switch (in.op) {
            case Op::Lit:
                if (!literal_at(in.arg)) goto fail;
                pos += literals[in.arg].length;
                ++pc;
                continue;
            case Op::Set:
                if (!next_in(in.set)) goto fail;
                ++pos;
                ++pc;
                continue;
            case Op::Range: {
                if (pos >= n) goto fail;
                size_t after = pos;
                const char32_t c = support::decode_next(text_, after);
                const CharRange range = program_.ranges[in.arg];
                if (c < range.low || c > range.high) goto fail;
                pos = static_cast<uint32_t>(after);
                ++pc;
                continue;
            }
            case Op::Any:
                if (pos >= n) goto fail;
                pos += char_length(s[pos], n - pos);
                ++pc;
                continue;
            case Op::Soi:
                if (pos != 0) goto fail;
                ++pc;
                continue;
            case Op::AtEnd:
                if (pos != n) goto fail;
                ++pc;
                continue;
            case Op::Span: {
                const ByteSet& set = sets[in.set];
                while (pos < n && set.test(s[pos])) ++pos;
                ++pc;
                continue;
            }
            case Op::SpanUntil: {
                const LiteralRef lit = literals[in.arg];
                const size_t at =
                    text_.find(std::string_view(literal_bytes + lit.offset, lit.length), pos);
                pos = at == std::string_view::npos ? n : static_cast<uint32_t>(at);
                ++pc;
                continue;
            }
            case Op::NotSet:
                if (next_in(in.set)) goto fail;
                ++pc;
                continue;
            case Op::NotLit:
                if (literal_at(in.arg)) goto fail;
                ++pc;
                continue;
            case Op::Skip:
                if (pos < n && skip_set.test(s[pos])) {
                    stack_.push_back(Frame{pc + 1, 0, 0, 0, 0, FrameKind::Return});
                    pc = program_.skip_entry;
                } else {
                    ++pc;
                }
                continue;
            case Op::Test:
                if ((!tracking || (in.flags & kGuardWhileTracking)) && !next_in(in.set)) {
                    pc = in.arg;
                } else {
                    ++pc;
                }
                continue;
            case Op::TestFail:
                if ((!tracking || (in.flags & kGuardWhileTracking)) && !next_in(in.set)) goto fail;
                ++pc;
                continue;
            case Op::Choice:
                stack_.push_back(Frame{in.arg, pos, static_cast<uint32_t>(records.size()),
                                       static_cast<uint32_t>(overflow.size()), 0,
                                       FrameKind::Backtrack});
                ++pc;
                continue;
            case Op::Commit:
                stack_.pop_back();
                pc = in.arg;
                continue;
            case Op::PartialCommit: {
                Frame& top = stack_.back();
                top.pos = pos;
                top.records = static_cast<uint32_t>(records.size());
                top.extra = static_cast<uint32_t>(overflow.size());
                pc = in.arg;
                continue;
            }
            case Op::FailTwice:
                stack_.pop_back();
                goto fail;
            case Op::Fail:
                goto fail;
            case Op::Call: {
                const CallSite& site = calls[in.arg];
                if ((!tracking || site.guard_while_tracking) && !site.can_be_empty &&
                    !next_in(site.guard_set)) {
                    goto fail;
                }
                if (depth >= max_depth_) {
                    stopped_at_ = pos;
                    return Outcome::TooDeep;
                }
                ++depth;
                Frame frame{pc + 1, pos, kNoPair, 0, in.arg, FrameKind::Call};
                if (site.opens_pair) {
                    if (tracking) {
                        frame.extra =
                            static_cast<uint32_t>(furthest_ == pos ? expected_.size() : 0);
                    } else {
                        frame.records = static_cast<uint32_t>(records.size());
                        open_pair(site.rule, pos);
                    }
                }
                stack_.push_back(frame);
                pc = site.target;
                continue;
            }
            case Op::Ret: {
                const Frame frame = stack_.back();
                stack_.pop_back();
                --depth;
                if (frame.records != kNoPair) close_pair(frame.records, pos);
                pc = frame.pc;
                continue;
            }
            case Op::Rts:
                pc = stack_.back().pc;
                stack_.pop_back();
                continue;
            case Op::Halt:
                stopped_at_ = pos;
                return Outcome::Matched;
        }
    fail:
        for (;;) {
            if (stack_.empty()) {
                stopped_at_ = pos;
                return Outcome::Failed;
            }
            const Frame frame = stack_.back();
            stack_.pop_back();
            if (frame.kind == FrameKind::Backtrack) {
                pos = frame.pos;
                records.resize(frame.records);
                overflow.resize(frame.extra);
                pc = frame.pc;
                break;
            }
            if (frame.kind == FrameKind::Call) {
                --depth;
                const CallSite& site = calls[frame.site];
                if (tracking && site.opens_pair) track_failure(site.rule, frame.pos, frame.extra);
            }
        }
    }
}

}  // namespace morvane::frontend::parser::peg
