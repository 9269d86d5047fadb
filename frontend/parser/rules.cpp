// Names and kinds of the grammar's rules, from the one list in rules.hpp.
#include "frontend/parser/rules.hpp"

#include <array>

namespace morvane::frontend::parser {
namespace {

struct RuleEntry {
    std::string_view name;
    RuleKind kind;
};

constexpr std::array<RuleEntry, kRuleCount> kRules = {{
#define MORVANE_RULE_ENTRY(name, kind) {#name, RuleKind::kind},
    MORVANE_GRAMMAR_RULES(MORVANE_RULE_ENTRY)
#undef MORVANE_RULE_ENTRY
}};

}  // namespace

std::string_view rule_name(Rule rule) { return kRules[rule_value(rule)].name; }

RuleKind rule_kind(Rule rule) { return kRules[rule_value(rule)].kind; }

}  // namespace morvane::frontend::parser
