#include <gtest/gtest.h>

#include "frontend/errors.hpp"

namespace morvane::frontend {
namespace {

TEST(ValidationContext, Texts) {
    const std::pair<ValidationContext, const char*> cases[] = {
        {BeliefModelContext{"m"}, "belief_model 'm'"},
        {EvidenceContext{"e"}, "evidence 'e'"},
        {RuleWhereContext{"r"}, "rule 'r' where clause"},
        {RuleActionContext{"r", "soft_update"}, "rule 'r' action 'soft_update'"},
        {FlowMetricContext{"f", "m"}, "flow 'f' metric 'm'"},
        {FlowPruneEdgesContext{"f", "g", "likes"}, "flow 'f' graph 'g' prune_edges likes predicate"},
        {EvidenceContext{"it's {x}"}, "evidence 'it's {x}'"},
    };
    for (const auto& [context, text] : cases) EXPECT_EQ(context_text(context), text);
}

TEST(ValidationDiagnostic, Texts) {
    const SourceSpan span{4, 9, 4, 17};
    EXPECT_EQ(FrontendError::validation("m", std::nullopt, std::nullopt).text(), "validation error: m");
    EXPECT_EQ(FrontendError::validation("m", RuleWhereContext{"r"}, std::nullopt).text(),
              "validation error [rule 'r' where clause]: m");
    EXPECT_EQ(FrontendError::validation("m", FlowPruneEdgesContext{"f", "g", "t"}, span).text(),
              "validation error [flow 'f' graph 'g' prune_edges t predicate]: m (at 4:9-4:17)");
    EXPECT_EQ(FrontendError::validation("m", std::nullopt, span).text(),
              "validation error: m (at 4:9-4:17)");
    EXPECT_EQ(FrontendError::validation("m", std::nullopt, SourceSpan{2, 1, 5, 2}).text(),
              "validation error: m (at 2:1-5:2)");
}

TEST(FrontendError, ParseKeepsText) {
    const auto e = FrontendError::parse(" --> 1:1\n  |\n");
    EXPECT_EQ(e.kind(), FrontendError::Kind::Parse);
    EXPECT_EQ(e.text(), " --> 1:1\n  |\n");
}

}  // namespace
}  // namespace morvane::frontend
