// Compiler from grammar definitions to parsing-machine code.
//
// Three analyses over the rule bodies feed the code: which elements can
// succeed without consuming anything, which bytes each element can begin
// with (counting the skips that can precede its first consumption), and
// which elements hold a tracked rule call. All three are least fixed points
// over the rules, computed by plain iteration: the grammar is small and this
// runs once per grammar.
#include "frontend/parser/peg_program.hpp"

#include <map>
#include <set>
#include <utility>

#include "frontend/support/fill.hpp"
#include "frontend/support/panic.hpp"
#include "frontend/support/utf8.hpp"

namespace morvane::frontend::parser::peg {
namespace {

enum class Variant : uint8_t { Normal = 0, Lookahead = 1, Atomic = 2 };
constexpr size_t kVariantCount = 3;

constexpr uint32_t kUnpatched = 0xFFFFFFFFu;

// The first byte of the UTF-8 encoding of `c`.
uint8_t lead_byte(char32_t c) {
    std::string bytes;
    support::append_utf8(bytes, c);
    return static_cast<uint8_t>(bytes[0]);
}

// Bytes a character in [low, high] can begin with. UTF-8 lead bytes grow
// with the code point, so the lead bytes of the bounds delimit them.
ByteSet range_lead_bytes(char32_t low, char32_t high) {
    ByteSet set;
    set.add_range(lead_byte(low), lead_byte(high));
    return set;
}

ByteSet all_bytes() {
    ByteSet set;
    set.add_range(0, 255);
    return set;
}

// A choice of single ASCII bytes matches exactly like one byte-set test.
bool byte_class(const Expr& e, ByteSet& out) {
    switch (e.kind) {
        case Expr::Kind::Literal:
            if (e.literal.size() != 1 || static_cast<uint8_t>(e.literal[0]) >= 0x80) return false;
            out.add(static_cast<uint8_t>(e.literal[0]));
            return true;
        case Expr::Kind::Range:
            if (e.high >= 0x80) return false;
            out.add_range(e.low, e.high);
            return true;
        case Expr::Kind::Choice:
            for (const Expr& item : e.items) {
                if (!byte_class(item, out)) return false;
            }
            return true;
        default:
            return false;
    }
}

class Compiler {
public:
    Compiler(const RuleTable& rules, std::vector<Definition> definitions) : rules_(rules) {
        collect_bodies(std::move(definitions));
        analyse();
        check_repetitions();
        check_left_recursion();
    }

    Program compile() {
        for (size_t r = 0; r < rule_count(); ++r) {
            program_.start_entry.push_back(here());
            emit_call(static_cast<uint8_t>(r), Variant::Normal);
            emit(Op::Halt);
        }
        program_.skip_entry = here();
        emit_expr(skip_expr_, Variant::Atomic);
        emit(Op::Rts);
        program_.skip_set = set_index(skip_first_);
        program_.skip_span_set = set_index(whitespace_span_set());
        while (!pending_.empty()) {
            const auto [rule, variant] = pending_.back();
            pending_.pop_back();
            entries_[{rule, variant}] = here();
            emit_expr(bodies_[rule], variant);
            emit(memoised(rule) ? Op::RetMemo : Op::Ret);
        }
        for (auto& [key, site] : site_index_) {
            const auto [rule, caller] = key;
            program_.calls[site].target = entries_.at({rule, callee_variant(caller, rule)});
        }
        return std::move(program_);
    }

private:
    // ---- bodies -------------------------------------------------------

    size_t rule_count() const { return rules_.names.size(); }

    void collect_bodies(std::vector<Definition> definitions) {
        if (rule_count() > 256) support::panic("grammar: more than 256 rules");
        bodies_.resize(rule_count());
        std::vector<bool> defined(rule_count(), false);
        for (Definition& def : definitions) {
            const std::string_view name = rules_.names[def.rule];
            if (name == "EOI") support::panic("grammar: EOI is built in and cannot be written");
            if (defined[def.rule]) support::panic(support::cat("grammar: rule '", name,
                                                               "' is written twice"));
            defined[def.rule] = true;
            bodies_[def.rule] = std::move(def.body);
        }
        always_atomic_.assign(rule_count(), false);
        for (size_t r = 0; r < rule_count(); ++r) {
            const std::string_view name = rules_.names[r];
            if (name == "EOI") {
                bodies_[r] = Expr(Expr::Kind::End);
            } else if (!defined[r]) {
                support::panic(support::cat("grammar: rule '", name, "' is not written"));
            }
            if (name == "WHITESPACE") whitespace_ = static_cast<int>(r);
            if (name == "COMMENT") comment_ = static_cast<int>(r);
            always_atomic_[r] = name == "WHITESPACE" || name == "COMMENT";
        }
        skip_expr_ = make_skip_expr();
    }

    static Expr call(int rule) {
        Expr e(Expr::Kind::Call);
        e.rule = static_cast<uint8_t>(rule);
        return e;
    }

    static Expr wrap(Expr::Kind kind, Expr inner) {
        Expr e(kind);
        e.items.push_back(std::move(inner));
        return e;
    }

    // WHITESPACE* ~ (COMMENT ~ WHITESPACE*)*, without the parts the grammar
    // lacks; compiled in atomic context, so nothing skips inside it.
    Expr make_skip_expr() const {
        Expr skip(Expr::Kind::Seq);
        if (whitespace_ >= 0) skip.items.push_back(wrap(Expr::Kind::Star, call(whitespace_)));
        if (comment_ >= 0) {
            Expr step(Expr::Kind::Seq);
            step.items.push_back(call(comment_));
            if (whitespace_ >= 0) step.items.push_back(wrap(Expr::Kind::Star, call(whitespace_)));
            skip.items.push_back(wrap(Expr::Kind::Star, std::move(step)));
        }
        return skip;
    }

    // The bytes WHITESPACE spans when its body is `class+`: skipping them
    // directly is what the skip routine's leading WHITESPACE* would do.
    ByteSet whitespace_span_set() const {
        ByteSet set;
        if (whitespace_ < 0) return set;
        const Expr& body = bodies_[whitespace_];
        if (body.kind != Expr::Kind::Plus || !byte_class(body.items[0], set)) return ByteSet{};
        return set;
    }

    // ---- contexts -----------------------------------------------------

    bool body_is_atomic(uint8_t rule) const {
        return rules_.kinds[rule] == RuleKind::Atomic || always_atomic_[rule];
    }

    Variant callee_variant(Variant caller, uint8_t rule) const {
        return caller == Variant::Atomic || body_is_atomic(rule) ? Variant::Atomic : caller;
    }

    static Variant lookahead_variant(Variant v) {
        return v == Variant::Atomic ? Variant::Atomic : Variant::Lookahead;
    }

    bool leaves_pair(Variant caller, uint8_t rule) const {
        return caller == Variant::Normal && rules_.kinds[rule] != RuleKind::Silent;
    }

    // ---- analyses -----------------------------------------------------

    bool nullable(const Expr& e) const {
        switch (e.kind) {
            case Expr::Kind::Literal: return e.literal.empty();
            case Expr::Kind::Range:
            case Expr::Kind::Any: return false;
            case Expr::Kind::Soi:
            case Expr::Kind::End:
            case Expr::Kind::Opt:
            case Expr::Kind::Star:
            case Expr::Kind::Not: return true;
            case Expr::Kind::Call: return nullable_[e.rule];
            case Expr::Kind::Plus: return nullable(e.items[0]);
            case Expr::Kind::Seq:
                for (const Expr& item : e.items) {
                    if (!nullable(item)) return false;
                }
                return true;
            case Expr::Kind::Choice:
                for (const Expr& item : e.items) {
                    if (nullable(item)) return true;
                }
                return false;
        }
        return false;
    }

    // Bytes at which `e` can consume, or look ahead, before anything else.
    // A lookahead's bytes are included so that an element refused by a guard
    // never does any work at all, lookahead included.
    ByteSet first(const Expr& e, bool skipping) const {
        ByteSet set;
        switch (e.kind) {
            case Expr::Kind::Literal:
                if (!e.literal.empty()) set.add(static_cast<uint8_t>(e.literal[0]));
                break;
            case Expr::Kind::Range: set = range_lead_bytes(e.low, e.high); break;
            case Expr::Kind::Any: set = all_bytes(); break;
            case Expr::Kind::Soi:
            case Expr::Kind::End: break;
            case Expr::Kind::Call:
                set = first_[e.rule][skipping && !body_is_atomic(e.rule) ? 1 : 0];
                break;
            case Expr::Kind::Opt:
            case Expr::Kind::Star:
            case Expr::Kind::Plus:
            case Expr::Kind::Not: set = first(e.items[0], skipping); break;
            case Expr::Kind::Choice:
                for (const Expr& item : e.items) set |= first(item, skipping);
                break;
            case Expr::Kind::Seq:
                for (size_t i = 0; i < e.items.size(); ++i) {
                    if (i > 0 && skipping) set |= skip_first_;
                    set |= first(e.items[i], skipping);
                    if (!nullable(e.items[i])) break;
                }
                break;
        }
        return set;
    }

    // Whether running `e` in context `v` can make a tracked call.
    bool tracked(const Expr& e, Variant v) const {
        switch (e.kind) {
            case Expr::Kind::Call:
                return leaves_pair(v, e.rule) ||
                       tracked_[e.rule][static_cast<size_t>(callee_variant(v, e.rule))];
            case Expr::Kind::Not: return tracked(e.items[0], lookahead_variant(v));
            default:
                for (const Expr& item : e.items) {
                    if (tracked(item, v)) return true;
                }
                return false;
        }
    }

    void analyse() {
        const size_t n = rule_count();
        nullable_.assign(n, false);
        for (bool changed = true; changed;) {
            changed = false;
            for (size_t r = 0; r < n; ++r) {
                const bool value = nullable(bodies_[r]);
                if (value != nullable_[r]) changed = true;
                nullable_[r] = value;
            }
        }
        first_.assign(n, {});
        for (bool changed = true; changed;) {
            changed = false;
            const ByteSet skip = first(skip_expr_, false);
            if (!(skip == skip_first_)) changed = true;
            skip_first_ = skip;
            for (size_t r = 0; r < n; ++r) {
                for (int mode = 0; mode < 2; ++mode) {
                    const ByteSet set = first(bodies_[r], mode == 1);
                    if (!(set == first_[r][mode])) changed = true;
                    first_[r][mode] = set;
                }
            }
        }
        tracked_.assign(n, {});
        for (bool changed = true; changed;) {
            changed = false;
            for (size_t r = 0; r < n; ++r) {
                for (size_t v = 0; v < kVariantCount; ++v) {
                    const bool value = tracked(bodies_[r], static_cast<Variant>(v));
                    if (value != tracked_[r][v]) changed = true;
                    tracked_[r][v] = value;
                }
            }
        }
    }

    // ---- checks -------------------------------------------------------

    // A repetition of something that can match nothing would never end.
    void check_repetitions() const {
        for (size_t r = 0; r < rule_count(); ++r) check_repetitions(bodies_[r], r);
    }

    void check_repetitions(const Expr& e, size_t rule) const {
        if ((e.kind == Expr::Kind::Star || e.kind == Expr::Kind::Plus) && nullable(e.items[0])) {
            support::panic(support::cat("grammar: rule '", rules_.names[rule],
                                        "' repeats an element that can match nothing"));
        }
        for (const Expr& item : e.items) check_repetitions(item, rule);
    }

    // Rules `e` can call before consuming anything.
    void left_calls(const Expr& e, std::vector<uint8_t>& out) const {
        switch (e.kind) {
            case Expr::Kind::Call: out.push_back(e.rule); break;
            case Expr::Kind::Seq:
                for (const Expr& item : e.items) {
                    left_calls(item, out);
                    if (!nullable(item)) break;
                }
                break;
            default:
                for (const Expr& item : e.items) left_calls(item, out);
                break;
        }
    }

    // A rule that can call itself before consuming anything would recurse
    // forever.
    void check_left_recursion() const {
        const size_t n = rule_count();
        std::vector<std::vector<uint8_t>> calls(n);
        for (size_t r = 0; r < n; ++r) left_calls(bodies_[r], calls[r]);
        enum : uint8_t { kUnseen, kOnPath, kDone };
        std::vector<uint8_t> state(n, kUnseen);
        // Iterative depth-first search: (rule, next callee to visit).
        std::vector<std::pair<size_t, size_t>> path;
        for (size_t root = 0; root < n; ++root) {
            if (state[root] != kUnseen) continue;
            path.push_back({root, 0});
            state[root] = kOnPath;
            while (!path.empty()) {
                auto& [rule, next] = path.back();
                if (next == calls[rule].size()) {
                    state[rule] = kDone;
                    path.pop_back();
                    continue;
                }
                const uint8_t callee = calls[rule][next++];
                if (state[callee] == kOnPath) {
                    support::panic(support::cat("grammar: rule '", rules_.names[callee],
                                                "' is left-recursive"));
                }
                if (state[callee] == kUnseen) {
                    state[callee] = kOnPath;
                    path.push_back({callee, 0});
                }
            }
        }
    }

    // ---- code ---------------------------------------------------------

    uint32_t here() const { return static_cast<uint32_t>(program_.code.size()); }

    uint32_t emit(Op op, uint8_t flags = 0, uint16_t set = 0, uint32_t arg = 0) {
        program_.code.push_back(Instr{op, flags, set, arg});
        return here() - 1;
    }

    void patch(uint32_t at, uint32_t target) { program_.code[at].arg = target; }

    uint16_t set_index(const ByteSet& set) {
        for (size_t i = 0; i < program_.sets.size(); ++i) {
            if (program_.sets[i] == set) return static_cast<uint16_t>(i);
        }
        if (program_.sets.size() > 0xFFFF) support::panic("grammar: too many byte sets");
        program_.sets.push_back(set);
        return static_cast<uint16_t>(program_.sets.size() - 1);
    }

    uint32_t literal_index(const std::string& text) {
        program_.literals.push_back(LiteralRef{static_cast<uint32_t>(program_.literal_bytes.size()),
                                               static_cast<uint32_t>(text.size())});
        program_.literal_bytes += text;
        return static_cast<uint32_t>(program_.literals.size() - 1);
    }

    uint32_t call_site(uint8_t rule, Variant caller) {
        const auto key = std::make_pair(rule, caller);
        if (const auto found = site_index_.find(key); found != site_index_.end()) {
            return found->second;
        }
        const Variant callee = callee_variant(caller, rule);
        CallSite site;
        site.target = kUnpatched;
        site.rule = rule;
        site.opens_pair = leaves_pair(caller, rule);
        site.can_be_empty = nullable_[rule];
        site.guard_set = set_index(first_[rule][callee == Variant::Atomic ? 0 : 1]);
        site.guard_while_tracking =
            !site.opens_pair && !tracked_[rule][static_cast<size_t>(callee)];
        program_.calls.push_back(site);
        const auto index = static_cast<uint32_t>(program_.calls.size() - 1);
        site_index_[key] = index;
        if (requested_.insert({rule, callee}).second) pending_.push_back({rule, callee});
        return index;
    }

    bool memoised(uint8_t rule) const {
        return rule < rules_.memoised.size() && rules_.memoised[rule];
    }

    void emit_call(uint8_t rule, Variant v) {
        emit(memoised(rule) ? Op::CallMemo : Op::Call, 0, 0, call_site(rule, v));
    }

    // A guard before element `e`; returns the instruction to patch, or
    // kUnpatched when `e` can succeed on any input and needs none.
    uint32_t emit_guard(Op op, const Expr& e, Variant v) {
        if (nullable(e)) return kUnpatched;
        const uint8_t flags = tracked(e, v) ? 0 : kGuardWhileTracking;
        return emit(op, flags, set_index(first(e, v != Variant::Atomic)));
    }

    void emit_expr(const Expr& e, Variant v) {
        switch (e.kind) {
            case Expr::Kind::Literal:
                if (!e.literal.empty()) emit(Op::Lit, 0, 0, literal_index(e.literal));
                return;
            case Expr::Kind::Range: {
                ByteSet set;
                if (byte_class(e, set)) {
                    emit(Op::Set, 0, set_index(set));
                } else {
                    program_.ranges.push_back(CharRange{e.low, e.high});
                    emit(Op::Range, 0, 0, static_cast<uint32_t>(program_.ranges.size() - 1));
                }
                return;
            }
            case Expr::Kind::Any: emit(Op::Any); return;
            case Expr::Kind::Soi: emit(Op::Soi); return;
            case Expr::Kind::End: emit(Op::AtEnd); return;
            case Expr::Kind::Call: emit_call(e.rule, v); return;
            case Expr::Kind::Seq:
                for (size_t i = 0; i < e.items.size(); ++i) {
                    if (i > 0 && v != Variant::Atomic) emit(Op::Skip);
                    emit_expr(e.items[i], v);
                }
                return;
            case Expr::Kind::Choice: emit_choice(e, v); return;
            case Expr::Kind::Opt: emit_optional(e.items[0], v); return;
            case Expr::Kind::Star: emit_star(e.items[0], v); return;
            case Expr::Kind::Plus: emit_plus(e.items[0], v); return;
            case Expr::Kind::Not: emit_not(e.items[0], v); return;
        }
    }

    void emit_choice(const Expr& e, Variant v) {
        ByteSet set;
        if (byte_class(e, set)) {
            emit(Op::Set, 0, set_index(set));
            return;
        }
        std::vector<uint32_t> to_end;
        for (size_t i = 0; i < e.items.size(); ++i) {
            const Expr& alt = e.items[i];
            if (i + 1 == e.items.size()) {
                emit_guard(Op::TestFail, alt, v);
                emit_expr(alt, v);
                break;
            }
            const uint32_t guard = emit_guard(Op::Test, alt, v);
            const uint32_t choice = emit(Op::Choice);
            emit_expr(alt, v);
            to_end.push_back(emit(Op::Commit));
            patch(choice, here());
            if (guard != kUnpatched) patch(guard, here());
        }
        for (uint32_t at : to_end) patch(at, here());
    }

    void emit_optional(const Expr& item, Variant v) {
        const uint32_t guard = emit_guard(Op::Test, item, v);
        const uint32_t choice = emit(Op::Choice);
        emit_expr(item, v);
        const uint32_t commit = emit(Op::Commit);
        patch(choice, here());
        patch(commit, here());
        if (guard != kUnpatched) patch(guard, here());
    }

    // e* : the first step is e alone, every further step a skip and e
    // (outside atomic context). A failing step is given back whole.
    void emit_star(const Expr& item, Variant v) {
        if (v == Variant::Atomic && emit_atomic_span(item)) return;
        const uint32_t guard = emit_guard(Op::Test, item, v);
        const uint32_t choice = emit(Op::Choice);
        emit_expr(item, v);
        const uint32_t step = here() + 1;
        emit(Op::PartialCommit, 0, 0, step);
        if (v != Variant::Atomic) emit(Op::Skip);
        emit_guard(Op::TestFail, item, v);
        emit_expr(item, v);
        emit(Op::PartialCommit, 0, 0, step);
        patch(choice, here());
        if (guard != kUnpatched) patch(guard, here());
    }

    // Repetitions in atomic context that need no backtracking: a byte class,
    // or any character up to a literal.
    bool emit_atomic_span(const Expr& item) {
        ByteSet set;
        if (byte_class(item, set)) {
            emit(Op::Span, 0, set_index(set));
            return true;
        }
        if (item.kind == Expr::Kind::Seq && item.items.size() == 2 &&
            item.items[0].kind == Expr::Kind::Not &&
            item.items[0].items[0].kind == Expr::Kind::Literal &&
            !item.items[0].items[0].literal.empty() && item.items[1].kind == Expr::Kind::Any) {
            emit(Op::SpanUntil, 0, 0, literal_index(item.items[0].items[0].literal));
            return true;
        }
        return false;
    }

    // e+ is e ~ e*.
    void emit_plus(const Expr& item, Variant v) {
        emit_expr(item, v);
        if (v != Variant::Atomic) emit(Op::Skip);
        emit_star(item, v);
    }

    void emit_not(const Expr& item, Variant v) {
        ByteSet set;
        if (byte_class(item, set)) {
            emit(Op::NotSet, 0, set_index(set));
            return;
        }
        if (item.kind == Expr::Kind::Literal && !item.literal.empty()) {
            emit(Op::NotLit, 0, 0, literal_index(item.literal));
            return;
        }
        const uint32_t begin = emit(Op::Choice);
        emit_expr(item, lookahead_variant(v));
        emit(Op::FailTwice);
        patch(begin, here());
    }

    const RuleTable& rules_;
    std::vector<Expr> bodies_;
    std::vector<bool> always_atomic_;
    int whitespace_ = -1;
    int comment_ = -1;
    Expr skip_expr_;

    std::vector<bool> nullable_;
    std::vector<std::array<ByteSet, 2>> first_;  // [rule][skipping]
    ByteSet skip_first_;
    std::vector<std::array<bool, kVariantCount>> tracked_;

    Program program_;
    std::map<std::pair<uint8_t, Variant>, uint32_t> site_index_;
    std::map<std::pair<uint8_t, Variant>, uint32_t> entries_;
    std::set<std::pair<uint8_t, Variant>> requested_;
    std::vector<std::pair<uint8_t, Variant>> pending_;
};

}  // namespace

Program compile_program(const RuleTable& rules, std::vector<Definition> definitions) {
    return Compiler(rules, std::move(definitions)).compile();
}

}  // namespace morvane::frontend::parser::peg
