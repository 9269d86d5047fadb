#include <gtest/gtest.h>

#include "core/engine/errors.hpp"

namespace morvane::core::engine {
namespace {

TEST(ExecError, FromFrontendError) {
    const auto parse = to_exec_error(frontend::FrontendError::parse("bad\ntext"));
    EXPECT_EQ(parse, ExecError::parse("bad\ntext"));
    const auto validation = to_exec_error(frontend::FrontendError::validation(
        "m", frontend::EvidenceContext{"e"}, frontend::SourceSpan{1, 2, 3, 4}));
    EXPECT_EQ(validation.kind, ExecErrorKind::Validation);
    EXPECT_EQ(validation.message, "validation error [evidence 'e']: m (at 1:2-3:4)");
}

TEST(ExecError, Codes) {
    EXPECT_EQ(static_cast<int>(ExecErrorKind::Parse), 0);
    EXPECT_EQ(static_cast<int>(ExecErrorKind::Internal), 4);
    EXPECT_STREQ(kind_name(ExecErrorKind::Numerical), "Numerical");
}

}  // namespace
}  // namespace morvane::core::engine
