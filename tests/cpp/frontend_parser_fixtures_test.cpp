// The example programs under tests/fixtures/programs: they all parse, and
// together they use every construct of the language.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "frontend/parser/corventa_parser.hpp"

namespace morvane::frontend::parser {
namespace {

std::vector<std::filesystem::path> fixture_programs() {
    std::vector<std::filesystem::path> paths;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(MORVANE_FIXTURES_DIR) + "/programs")) {
        if (entry.path().extension() == ".mv") paths.push_back(entry.path());
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Every pair's text, by rule.
using TextsByRule = std::map<Rule, std::set<std::string>>;

void collect(const Pairs& pairs, TextsByRule& out) {
    for (const Pair& pair : pairs) {
        out[pair.as_rule()].insert(std::string(pair.as_str()));
        collect(pair.into_inner(), out);
    }
}

// The first word of each text.
std::set<std::string> leading_words(const std::set<std::string>& texts) {
    std::set<std::string> words;
    for (const std::string& text : texts) {
        size_t end = 0;
        while (end < text.size() && (std::isalnum(static_cast<unsigned char>(text[end])) ||
                                     text[end] == '_')) {
            ++end;
        }
        words.insert(text.substr(0, end));
    }
    return words;
}

TEST(ParserFixtures, EveryProgramParses) {
    const auto paths = fixture_programs();
    ASSERT_GE(paths.size(), 4u);
    for (const auto& path : paths) {
        const std::string text = read_file(path);
        const ParseResult result = CorventaParser::parse(Rule::program, text);
        ASSERT_TRUE(result) << path << "\n" << result.error().text();
        const Pair program = *result.tree().pairs().peek();
        EXPECT_EQ(program.as_span(), (ByteSpan{0, static_cast<uint32_t>(text.size())})) << path;
    }
}

TEST(ParserFixtures, TogetherTheyUseEveryConstruct) {
    TextsByRule texts;
    for (const auto& path : fixture_programs()) {
        const std::string text = read_file(path);
        const ParseResult result = CorventaParser::parse(Rule::program, text);
        ASSERT_TRUE(result) << path;
        collect(result.tree().pairs(), texts);
    }
    // Rules a program can never hold: start rules only, and the negated
    // existence test, which the prefix "not" always takes first.
    const std::set<Rule> unreachable = {Rule::observe_target, Rule::block, Rule::primary,
                                        Rule::not_exists_expr};
    for (size_t value = 0; value < kRuleCount; ++value) {
        const auto rule = static_cast<Rule>(value);
        if (rule_kind(rule) == RuleKind::Silent || unreachable.count(rule)) continue;
        EXPECT_TRUE(texts.count(rule)) << "no fixture uses " << rule_name(rule);
    }
    using Words = std::set<std::string>;
    EXPECT_EQ(texts[Rule::evidence_mode],
              (Words{"present", "absent", "chosen", "unchosen", "forced_choice"}));
    EXPECT_EQ(texts[Rule::op_cmp], (Words{"==", "!=", "<", "<=", ">", ">="}));
    EXPECT_EQ(texts[Rule::op_add], (Words{"+", "-"}));
    EXPECT_EQ(texts[Rule::op_mul], (Words{"*", "/"}));
    EXPECT_EQ(texts[Rule::op_unary], (Words{"-", "not"}));
    EXPECT_EQ(texts[Rule::edge_op], (Words{"->", "-/>"}));
    EXPECT_EQ(leading_words(texts[Rule::soft_arg]), (Words{"precision", "count"}));
    EXPECT_EQ(leading_words(texts[Rule::fold_arg]), (Words{"init", "step", "order_by"}));
    EXPECT_EQ(leading_words(texts[Rule::gaussian_posterior]),
              (Words{"Gaussian", "GaussianPosterior"}));
    EXPECT_EQ(leading_words(texts[Rule::bernoulli_posterior]),
              (Words{"Bernoulli", "BernoulliPosterior"}));
    EXPECT_EQ(leading_words(texts[Rule::categorical_posterior]),
              (Words{"Categorical", "CategoricalPosterior"}));
    EXPECT_TRUE(texts[Rule::categorical_param_value].count("uniform"));
    EXPECT_TRUE(texts[Rule::categorical_param_value].count("\"source\""));
}

}  // namespace
}  // namespace morvane::frontend::parser
