// The language's grammar, compiled once per process on first use.
#include "frontend/parser/corventa_parser.hpp"

#include <vector>

#include "frontend/parser/grammar.hpp"

namespace morvane::frontend::parser {
namespace {

const peg::Grammar& language_grammar() {
    static const peg::Grammar grammar = [] {
        std::vector<peg::RuleInfo> rules;
        for (size_t value = 0; value < kRuleCount; ++value) {
            const auto rule = static_cast<Rule>(value);
            rules.push_back({rule_name(rule), rule_kind(rule)});
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
