// Fuzzes whole flow runs of valid programs. The input chooses a program
// (flowgen/program_gen.hpp: several node and edge types, every posterior
// family, evidence of every kind, rules of every form and action, flows
// with every transform, model selection, metrics, exports and imports),
// which is compiled and then run flow by flow:
//   - directly, twice, with run_flow;
//   - chained, twice, on the result of the flow before (the first flow on
//     its own direct result), which from_graph and import_metric read;
//   - for some flows once more through run_flow_with_builder with the
//     binding's run-time evidence builder, chained like the above.
// A defect aborts (see fuzz_outcome.hpp): a crash, a sanitizer report, a
// Panic, an escaping exception, an Internal error that the program's
// declared causes do not explain, two identical runs that differ in
// anything (result or error), the builder path differing from run_flow, or
// a returned graph holding a non-finite or broken value. A program that
// does not compile is a generator defect, not a finding: it is skipped, and
// counted when FUZZ_FLOWS_STATS is set in the environment, which prints
// tallies of outcomes and of what the runs reached at exit.
// FUZZ_FLOWS_PRINT=1 prints each generated program (to look at a saved
// input: FUZZ_FLOWS_PRINT=1 fuzz_flows FILE). The seeds in corpus/flows
// are generator inputs: after a change to the generator they choose other
// programs, valid ones still.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "core/engine/errors.hpp"
#include "core/engine/flow_exec.hpp"
#include "core/parse_and_validate.hpp"
#include "frontend/ast.hpp"
#include "python/runtime_evidence.hpp"
#include "tests/fuzz/flow_result_checks.hpp"
#include "tests/fuzz/flowgen/flow_gen.hpp"
#include "tests/fuzz/flowgen/program_gen.hpp"
#include "tests/fuzz/fuzz_outcome.hpp"

namespace {

namespace ast = morvane::frontend::ast;
namespace engine = morvane::core::engine;
namespace flowgen = morvane::fuzz::flowgen;
using morvane::fuzz::finding;

// Development tallies, printed at exit when FUZZ_FLOWS_STATS is set.
class Tally {
public:
    Tally() : on_(std::getenv("FUZZ_FLOWS_STATS") != nullptr) {}
    ~Tally() {
        if (!on_) return;
        std::fprintf(stderr, "\n==== fuzz_flows tallies\n");
        for (const auto& [what, n] : counts_)
            std::fprintf(stderr, "%10zu  %s\n", n, what.c_str());
    }
    bool on() const { return on_; }
    void add(const std::string& what, std::size_t n = 1) {
        if (on_) counts_[what] += n;
    }

private:
    bool on_;
    std::map<std::string, std::size_t> counts_;
};

Tally tally;

// A message cut before its first quote or digit, so that tallies group
// messages of one kind.
std::string message_kind(const engine::ExecError& error) {
    std::string kind = std::string(engine::kind_name(error.kind)) + ": ";
    for (const char ch : error.message) {
        if (ch == '\'' || ch == '"' || (ch >= '0' && ch <= '9') || kind.size() > 90) break;
        kind += ch;
    }
    return kind;
}

struct Outcome {
    std::optional<engine::FlowResult> result;
    std::optional<engine::ExecError> error;
};

class FlowChecks {
public:
    FlowChecks(const flowgen::GeneratedProgram& generated,
               std::shared_ptr<const ast::ProgramAst> program)
        : generated_(generated), program_(std::move(program)) {}

    void run_all();

private:
    template <typename F>
    Outcome outcome(const char* path, F&& call);
    void same(const Outcome& a, const Outcome& b, const std::string& what);
    void sound(const Outcome& o, const std::string& what);
    void reached(const Outcome& o, const flowgen::GeneratedFlow& flow);

    const flowgen::GeneratedProgram& generated_;
    std::shared_ptr<const ast::ProgramAst> program_;
};

template <typename F>
Outcome FlowChecks::outcome(const char* path, F&& call) {
    try {
        Outcome o{morvane::fuzz::guarded(call, generated_.source), std::nullopt};
        tally.add(std::string(path) + " ok");
        return o;
    } catch (const engine::ExecError& error) {
        morvane::fuzz::check_error(error, generated_.causes, generated_.source);
        tally.add(std::string(path) + " " + message_kind(error));
        return Outcome{std::nullopt, error};
    }
}

void FlowChecks::same(const Outcome& a, const Outcome& b, const std::string& what) {
    if (a.error || b.error) {
        if (a.error && b.error && *a.error == *b.error) return;
        const auto text = [](const Outcome& o) {
            return o.error ? morvane::fuzz::error_text(*o.error) : std::string("a result");
        };
        finding(what + ": " + text(a) + " vs " + text(b), generated_.source);
    }
    const std::string difference = morvane::fuzz::result_difference(*a.result, *b.result);
    if (!difference.empty()) finding(what + ": " + difference, generated_.source);
}

void FlowChecks::sound(const Outcome& o, const std::string& what) {
    if (!o.result) return;
    const std::string defect = morvane::fuzz::graph_defect(*o.result);
    if (!defect.empty()) finding(what + " returned " + defect, generated_.source);
}

void FlowChecks::reached(const Outcome& o, const flowgen::GeneratedFlow& flow) {
    if (!tally.on() || !o.result) return;
    static constexpr std::pair<uint32_t, const char*> kFeatures[] = {
        {flowgen::kRules, "rules"},          {flowgen::kInference, "infer_beliefs"},
        {flowgen::kPrune, "prune_edges"},    {flowgen::kSnapshot, "snapshot"},
        {flowgen::kSelectModel, "select_model"}, {flowgen::kFromGraph, "from_graph"},
        {flowgen::kImport, "import_metric"}};
    for (const auto& [bit, name] : kFeatures) {
        if ((flow.features & bit) != 0) tally.add(std::string("reached: chained run with ") + name);
    }
    std::size_t matched = 0;
    for (const auto& event : o.result->intervention_audit)
        matched += event.matches > 0 ? 1 : 0;
    tally.add("reached: rule applications", o.result->intervention_audit.size());
    tally.add("reached: rule applications with matches", matched);
    tally.add("reached: inferences", o.result->inference_diagnostics.size());
    tally.add("reached: metrics", o.result->metrics.size());
    tally.add("reached: graph exports", o.result->exports.size());
    tally.add("reached: snapshots", o.result->snapshots.size());
}

void FlowChecks::run_all() {
    std::optional<engine::FlowResult> last;  // the prior of the next flow's chained runs
    for (const flowgen::GeneratedFlow& flow : generated_.flows) {
        const std::string& name = flow.name;
        const auto direct = [&] { return engine::run_flow(*program_, name); };
        Outcome d1 = outcome("direct", direct);
        const Outcome d2 = outcome("direct", direct);
        same(d1, d2, "two direct runs of " + name + " differ");
        sound(d1, "a direct run of " + name);

        const engine::FlowResult* prior = last ? &*last : (d1.result ? &*d1.result : nullptr);
        const auto chained = [&] { return engine::run_flow(*program_, name, prior); };
        Outcome c1 = outcome("chained", chained);
        const Outcome c2 = outcome("chained", chained);
        same(c1, c2, "two chained runs of " + name + " differ");
        sound(c1, "a chained run of " + name);
        reached(c1, flow);

        if (flow.through_builder) {
            const engine::EvidenceGraphBuilder builder =
                morvane::python::runtime_evidence_builder("M", {}, program_);
            const Outcome b = outcome("builder", [&] {
                return engine::run_flow_with_builder(*program_, name, builder, prior);
            });
            same(c1, b, "run_flow_with_builder and run_flow of " + name + " differ");
        }
        if (c1.result) {
            last = std::move(c1.result);
        } else if (d1.result && !last) {
            last = std::move(d1.result);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const flowgen::GeneratedProgram generated = flowgen::generate_program(in);
    if (std::getenv("FUZZ_FLOWS_PRINT") != nullptr) {
        std::fprintf(stderr, "%s\n", generated.source.c_str());
    }
    std::shared_ptr<const ast::ProgramAst> program;
    try {
        program = morvane::fuzz::guarded(
            [&] {
                return std::make_shared<const ast::ProgramAst>(
                    morvane::core::parse_and_validate(generated.source));
            },
            generated.source);
    } catch (const engine::ExecError& error) {
        morvane::fuzz::check_error(error, morvane::fuzz::kNone, generated.source);
        tally.add("program invalid");
        if (tally.on()) {
            tally.add("invalid: " + message_kind(error));
            if (std::getenv("FUZZ_FLOWS_SHOW_INVALID") != nullptr) {
                std::fprintf(stderr, "---- invalid: %s\n%s\n", error.message.c_str(),
                             generated.source.c_str());
            }
        }
        return 0;
    }
    tally.add("program valid");
    FlowChecks(generated, std::move(program)).run_all();
    return 0;
}
