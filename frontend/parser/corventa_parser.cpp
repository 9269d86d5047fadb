// The language's grammar, compiled once per process on first use.
#include "frontend/parser/corventa_parser.hpp"

#include <vector>

#include "frontend/parser/grammar.hpp"

namespace morvane::frontend::parser {
namespace {

// The rules that enclosing rules try again at the same position after a
// costly failure, so that the engine remembers where they failed:
//   - call_suffix: a postfix tries its suffixes after an operand that itself
//     ends in a postfix (the where-part of `exists`, a pipeline step), at the
//     same "(" the inner postfix just failed on;
//   - unary_expr: every enclosing binary level retries "operator operand"
//     where the inner level gave up, and `not (` falls back to a call of
//     `not` whose argument list reads the same text again;
//   - builder_step: pipelines nested in pipeline steps retry the step that
//     ended the inner one.
// With these, nesting costs a constant per level instead of doubling the
// work; memoising every recursive rule instead measured a third slower on
// valid programs, for no gain.
bool is_memoised(Rule rule) {
    return rule == Rule::call_suffix || rule == Rule::unary_expr || rule == Rule::builder_step;
}

const peg::Grammar& language_grammar() {
    static const peg::Grammar grammar = [] {
        std::vector<peg::RuleInfo> rules;
        for (size_t value = 0; value < kRuleCount; ++value) {
            const auto rule = static_cast<Rule>(value);
            rules.push_back({rule_name(rule), rule_kind(rule), is_memoised(rule)});
        }
        return peg::Grammar(std::move(rules), grammar_notation());
    }();
    return grammar;
}

}  // namespace

ParseResult CorventaParser::parse(Rule start, std::string_view text) {
    return language_grammar().parse(rule_value(start), text);
}

}  // namespace morvane::frontend::parser
