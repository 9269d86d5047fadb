// The error of everything from compilation outward.
//
// Five categories, each carrying one message. The Python layer shows them as
// "Parse error: {}" / "Validation error: {}" (ValueError) and
// "Execution error: {}" / "Numerical error: {}" / "Internal error: {}"
// (RuntimeError). Thrown as a value where the failure arises.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "frontend/errors.hpp"

namespace morvane::core::engine {

enum class ExecErrorKind : uint8_t {
    Parse = 0,       // the program does not parse or cannot be built
    Validation = 1,  // a failed check, or a run-time failure the user can correct
    Execution = 2,   // a fixpoint rule that did not converge
    Numerical = 3,   // reserved; nothing produces it
    Internal = 4,    // a failed lookup or broken invariant
};

struct ExecError {
    ExecErrorKind kind;
    std::string message;

    static ExecError parse(std::string m) { return {ExecErrorKind::Parse, std::move(m)}; }
    static ExecError validation(std::string m) { return {ExecErrorKind::Validation, std::move(m)}; }
    static ExecError execution(std::string m) { return {ExecErrorKind::Execution, std::move(m)}; }
    static ExecError numerical(std::string m) { return {ExecErrorKind::Numerical, std::move(m)}; }
    static ExecError internal(std::string m) { return {ExecErrorKind::Internal, std::move(m)}; }

    bool operator==(const ExecError&) const = default;
};

// Parse keeps its text byte for byte; Validation becomes the diagnostic's text.
ExecError to_exec_error(const frontend::FrontendError& error);

// "Parse", "Validation", ... (the category's name).
const char* kind_name(ExecErrorKind kind);

}  // namespace morvane::core::engine
