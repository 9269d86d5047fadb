// What counts as a finding, shared by the fuzz targets.
//
// A target runs system code and sorts the outcome: an ExecError of the
// Parse, Validation or Execution category is a normal answer to the input;
// a support::Panic, any other exception and an Internal error are defects,
// except for the few Internal errors that the language itself gives for
// valid programs (the table below). Those are allowed only when the target
// says its input may produce them, so each target states exactly which it
// expects (none, for the targets that do not generate programs). A defect
// is reported on standard error and aborts, so that libFuzzer keeps the
// input.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>

#include "core/engine/errors.hpp"
#include "frontend/errors.hpp"
#include "frontend/support/panic.hpp"

namespace morvane::fuzz {

// The Internal errors a valid program may meet, one flag per cause.
enum InternalCause : uint32_t {
    kNone = 0,
    // A rule expression calls a function the rule library does not have;
    // the validator checks only the arguments of such a call.
    kUnknownRuleFunction = 1u << 0,
    // A node rule (for (p: L) => ...) reads or acts on its reserved edge
    // variable, which the validator counts as bound but no match binds.
    kForDummyEdge = 1u << 1,
    // A node pipeline of a metric reads an imported metric that the prior
    // did not export (or that was read without a prior): the import is
    // skipped and the per-node evaluator finds no such variable.
    kSkippedImportInPipeline = 1u << 2,
    // from_graph names an alias the prior has neither exported nor kept as
    // a snapshot (always so without a prior).
    kMissingPriorGraph = 1u << 3,
    // A rule or a metric names an attribute that the node's type lacks; the
    // validator does not check attribute names there.
    kMistypedAttribute = 1u << 4,
    // A prune predicate reads a bare name; the validator accepts any name
    // there, the predicate context binds none.
    kPruneBareName = 1u << 5,
    // A prune predicate holds an exists sub-query, which only rule
    // where-clauses evaluate.
    kPruneExists = 1u << 6,
};

struct AllowedInternal {
    const char* prefix;  // the message is prefix + name + suffix,
    const char* suffix;  // or exactly prefix when suffix is null
    uint32_t causes;     // allowed when any of these causes was declared
};

// Every Internal text a valid program may legitimately produce, with the
// causes that produce it.
inline constexpr AllowedInternal kAllowedInternal[] = {
    {"unknown function '", "'", kUnknownRuleFunction},
    {"unknown edge var '__for_dummy'", nullptr, kForDummyEdge},
    {"unbound variable '__for_dummy'", nullptr, kForDummyEdge},
    {"unbound variable '", "'", kSkippedImportInPipeline | kPruneBareName},
    {"graph '", "' not found in prior flow exports or snapshots", kMissingPriorGraph},
    {"missing attr '", "'", kMistypedAttribute},
    {"Exists subqueries must be handled by RuleExprContext", nullptr, kPruneExists},
};

inline bool matches(std::string_view message, const AllowedInternal& allowed) {
    const std::string_view prefix = allowed.prefix;
    if (allowed.suffix == nullptr) return message == prefix;
    const std::string_view suffix = allowed.suffix;
    if (message.size() < prefix.size() + suffix.size() + 1) return false;
    if (!message.starts_with(prefix) || !message.ends_with(suffix)) return false;
    // The name in between is one name: no quote, no line break.
    const std::string_view name =
        message.substr(prefix.size(), message.size() - prefix.size() - suffix.size());
    return name.find_first_of("'\n") == std::string_view::npos;
}

inline bool internal_allowed(std::string_view message, uint32_t causes) {
    for (const AllowedInternal& allowed : kAllowedInternal) {
        if ((allowed.causes & causes) != 0 && matches(message, allowed)) return true;
    }
    return false;
}

// Reports a defect and aborts. `input` (a generated program, say) is
// printed after the message when given.
[[noreturn]] inline void finding(std::string_view what, std::string_view input = {}) {
    std::fprintf(stderr, "\n==== FUZZ FINDING: %.*s\n", static_cast<int>(what.size()), what.data());
    if (!input.empty()) {
        std::fprintf(stderr, "==== input:\n%.*s\n==== end of input\n",
                     static_cast<int>(input.size()), input.data());
    }
    std::fflush(stderr);
    std::abort();
}

inline std::string error_text(const core::engine::ExecError& error) {
    return std::string(core::engine::kind_name(error.kind)) + ": " + error.message;
}

// Aborts on an Internal error that none of `causes` explains.
inline void check_error(const core::engine::ExecError& error, uint32_t causes,
                        std::string_view input = {}) {
    if (error.kind == core::engine::ExecErrorKind::Internal &&
        !internal_allowed(error.message, causes)) {
        finding("unexpected " + error_text(error), input);
    }
}

// Runs `call`, turning a Panic or any exception other than ExecError and
// FrontendError into a finding; those two pass through to the caller.
template <typename F>
decltype(auto) guarded(F&& call, std::string_view input = {}) {
    try {
        return call();
    } catch (const core::engine::ExecError&) {
        throw;
    } catch (const frontend::FrontendError&) {
        throw;
    } catch (const support::Panic& panic) {
        finding("Panic: " + panic.message(), input);
    } catch (const std::exception& e) {
        finding(std::string("exception escaped: ") + e.what(), input);
    } catch (...) {
        finding("unknown exception escaped", input);
    }
}

}  // namespace morvane::fuzz
