#include "core/engine/errors.hpp"

namespace morvane::core::engine {

ExecError to_exec_error(const frontend::FrontendError& error) {
    using Kind = frontend::FrontendError::Kind;
    if (error.kind() == Kind::Parse) return ExecError::parse(error.parse_text());
    return ExecError::validation(frontend::diagnostic_text(error.diagnostic()));
}

const char* kind_name(ExecErrorKind kind) {
    switch (kind) {
        case ExecErrorKind::Parse: return "Parse";
        case ExecErrorKind::Validation: return "Validation";
        case ExecErrorKind::Execution: return "Execution";
        case ExecErrorKind::Numerical: return "Numerical";
        case ExecErrorKind::Internal: return "Internal";
    }
    return "Internal";
}

}  // namespace morvane::core::engine
