// The grammar engine's entry: compile once, then parse by building first
// and tracking only when the text turns out not to parse.
#include "frontend/parser/peg.hpp"

#include <algorithm>
#include <limits>
#include <optional>

#include "frontend/parser/peg_machine.hpp"
#include "frontend/parser/peg_notation.hpp"
#include "frontend/parser/peg_program.hpp"
#include "frontend/support/fill.hpp"
#include "frontend/support/panic.hpp"

namespace morvane::frontend::parser::peg {
namespace {

// Spans are 32-bit offsets.
constexpr size_t kMaxTextBytes = std::numeric_limits<uint32_t>::max();

Error nesting_error(std::string_view text, uint32_t position, uint32_t max_depth) {
    return Error(Error::Kind::NestingTooDeep, text, position, {},
                 support::cat("nesting too deep (more than ", max_depth, " nested rules)"));
}

}  // namespace

Grammar::Grammar(std::vector<RuleInfo> rules, std::string_view notation, uint32_t max_depth)
    : max_depth_(max_depth) {
    RuleTable table;
    for (const RuleInfo& info : rules) {
        table.names.push_back(info.name);
        table.kinds.push_back(info.kind);
        table.memoised.push_back(info.memoised);
    }
    names_ = table.names;
    auto lookup = [&](std::string_view name) -> std::optional<uint8_t> {
        const auto found = std::find(names_.begin(), names_.end(), name);
        if (found == names_.end()) return std::nullopt;
        return static_cast<uint8_t>(found - names_.begin());
    };
    program_ = std::make_unique<const Program>(
        compile_program(table, read_notation(notation, lookup)));
}

Grammar::~Grammar() = default;
Grammar::Grammar(Grammar&&) noexcept = default;
Grammar& Grammar::operator=(Grammar&&) noexcept = default;

ParseResult Grammar::parse(uint8_t start, std::string_view text) const {
    if (start >= names_.size()) support::panic("parse: unknown start rule");
    if (text.size() > kMaxTextBytes) {
        return Error::too_large(
            text, 0, support::cat("source text too large (more than ", kMaxTextBytes, " bytes)"));
    }
    const uint32_t entry = program_->start_entry[start];

    auto store = std::make_unique<detail::TreeStore>();
    store->text = text;
    // Programs hold about one pair per three to five bytes; room for one in
    // three spares most of them any regrowth of the buffer.
    store->records.reserve(text.size() / 3 + 16);
    Machine builder(*program_, text, max_depth_, store.get());
    switch (builder.run(entry)) {
        case Machine::Outcome::Matched:
            // Pairs close in postorder; readers look overflow entries up by
            // pair index.
            std::sort(store->overflow.begin(), store->overflow.end(),
                      [](const auto& a, const auto& b) { return a.index < b.index; });
            // Give back room only where much of it went unused.
            if (store->records.capacity() > store->records.size() / 4 * 5 + 16) {
                store->records.shrink_to_fit();
            }
            store->overflow.shrink_to_fit();
            return ParseTree(std::move(store));
        case Machine::Outcome::TooDeep:
            return nesting_error(text, builder.stopped_at(), max_depth_);
        case Machine::Outcome::TooLarge:
            return Error::too_large(text, builder.stopped_at(),
                                    support::cat("source text too large (more than ",
                                                 Machine::kMaxPairs, " pairs)"));
        case Machine::Outcome::Failed:
            break;
    }
    store.reset();

    // Tracking runs every rule the builder's guards skipped. Those can nest
    // only as deep as there are rules (a rule cannot call itself before
    // consuming), so the extra room keeps both runs in step.
    const uint32_t room = max_depth_ + static_cast<uint32_t>(names_.size()) + 1;
    Machine tracker(*program_, text, room, nullptr);
    const Machine::Outcome outcome = tracker.run(entry);
    if (outcome == Machine::Outcome::TooDeep) {
        return nesting_error(text, tracker.stopped_at(), max_depth_);
    }
    if (outcome != Machine::Outcome::Failed) {
        support::panic("parse: the tracking run disagrees with the building run");
    }
    std::vector<Rule> expected;
    for (uint8_t rule : tracker.expected()) expected.push_back(static_cast<Rule>(rule));
    // Only a start rule with nothing tracked below it (a silent rule over
    // literals) can fail without an entry; it then stands for itself.
    if (expected.empty()) expected.push_back(static_cast<Rule>(start));
    std::string message = expected_message(expected, names_);
    return Error(Error::Kind::ParsingError, text, tracker.furthest_failure(),
                 std::move(expected), std::move(message));
}

}  // namespace morvane::frontend::parser::peg
