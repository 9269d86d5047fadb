// Fuzzes a flow run with run-time evidence: the observations a caller adds
// to an Evidence object skip the validator and reach graph construction,
// belief propagation, rules, pruning and metrics as given. A fixed valid
// program is compiled once; each input decodes into a list of observations
// (names from small tables or raw bytes, values from a table of hard numbers
// or raw doubles, every edge mode, present, absent or negative precisions),
// which are merged into the program's evidence and run. Rejecting them with
// a Parse, Validation or Execution error is the normal outcome. The fixed
// program reads only attributes its node types have and uses no name the
// language leaves unbound, so any Internal error is a defect, as are a
// crash, a sanitizer report, a Panic and any other exception escaping (see
// fuzz_outcome.hpp).
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/engine/errors.hpp"
#include "core/engine/flow_exec.hpp"
#include "core/parse_and_validate.hpp"
#include "frontend/ast.hpp"
#include "python/runtime_evidence.hpp"
#include "tests/fuzz/fuzz_outcome.hpp"

namespace {

namespace ast = morvane::frontend::ast;
namespace engine = morvane::core::engine;

// Numeric attributes with a correlation, an independent edge with a weight
// posterior, a competing edge group, a rule, a node rule on the group,
// inference, pruning, model selection and metrics over the result.
constexpr const char* kProgram = R"(
schema S {
    node P { x: Real; y: Real }
    node C { size: Real }
    edge k {}
    edge picks {}
}
belief_model M on S {
    node P {
        x ~ Gaussian(mean = 0, precision = 1, corr_y = 0.3);
        y ~ GaussianPosterior(mean = 1, precision = 2, corr_x = 0.3, observation_precision = 3)
    }
    node C { size ~ Gaussian(mean = 10, precision = 0.5) }
    edge k {
        exist ~ Bernoulli(prior = 0.5, weight = 2.0);
        weight ~ Gaussian(mean = 1, precision = 4)
    }
    edge picks {
        exist ~ CategoricalPosterior(group_by = source, prior = uniform, pseudo_count = 2)
    }
}
evidence E on M {
    observe P(a).x = 1 (precision = 2);
    observe P["b"].y = -0.5;
    observe edge k(P(a), P(b)) present;
    observe edge k(P(a), P(b)) weight = 0.8 (precision = 10);
    observe edge picks(P(a), C(acme)) chosen;
    observe edge picks(P(a), C(initech)) unchosen;
    C { acme { size: 12 } }
}
rule Spread on M {
    pattern (a:P)-[e:k]->(b:P)
    where prob(e) > 0.3 and E[a.x] > E[b.x]
    action {
        let gap = E[a.x] - E[b.x];
        b.x ~= E[a.x] precision = 2.0;
        non_bayesian_nudge b.y to E[b.y] + 0.5 * gap variance = decrease(factor = 0.9)
    }
}
rule Choice on M {
    for (p: P) where entropy(p, picks) > 0.1 and winner(p, picks, epsilon = 0.05) != -1 => {
        p.y ~= E[p.y] * 1.1 (count = 2)
    }
}
flow Main on M {
    graph g = from_evidence E
    graph h = g |> apply_ruleset { Spread, Choice } |> infer_beliefs
    graph best = select_model { g, h } by edge_bic
    graph pruned = best |> prune_edges k where prob(edge) < 0.2
    metric n = nodes(P) |> count()
    metric mean_x on pruned = nodes(P) |> avg(by = E[node.x])
    metric linked on pruned = nodes(P) |> where degree(node, min_prob = 0.5) > 0 |> count()
    metric total = nodes(C) |> sum(by = E[node.size])
    metric share = linked / n
    export pruned as "out"
}
)";

const std::shared_ptr<const ast::ProgramAst>& program() {
    static const std::shared_ptr<const ast::ProgramAst> compiled = [] {
        try {
            return std::make_shared<const ast::ProgramAst>(
                morvane::core::parse_and_validate(kProgram));
        } catch (const engine::ExecError& error) {
            std::fprintf(stderr, "the fuzzed program does not compile: %s\n",
                         error.message.c_str());
            std::abort();
        }
    }();
    return compiled;
}

// Names the program declares, and a few it does not. Most observations use
// declared names only, so that whole lists of them get past graph
// construction into the rest of the run.
constexpr std::array<const char*, 2> kNodeTypes = {"P", "C"};
constexpr std::array<const char*, 7> kLabels = {"a",      "b", "c",
                                                "acme",   "initech",
                                                "globex", "a-label-longer-than-fifteen"};
constexpr std::array<const char*, 2> kAttrsOfP = {"x", "y"};
constexpr std::array<const char*, 1> kAttrsOfC = {"size"};
constexpr std::array<const char*, 2> kEdgeTypes = {"k", "picks"};
constexpr std::array<const char*, 6> kOddNames = {"", "Q", "z", "knows", "x", "P "};
constexpr std::array<ast::EvidenceMode, 5> kModes = {
    ast::EvidenceMode::Present, ast::EvidenceMode::Absent, ast::EvidenceMode::Chosen,
    ast::EvidenceMode::Unchosen, ast::EvidenceMode::ForcedChoice};

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr std::array<double, 20> kValues = {
    std::numeric_limits<double>::quiet_NaN(),
    kInf,
    -kInf,
    std::numeric_limits<double>::denorm_min(),
    -std::numeric_limits<double>::denorm_min(),
    std::numeric_limits<double>::min(),
    std::numeric_limits<double>::max(),
    -std::numeric_limits<double>::max(),
    1e308,
    -1e308,
    1e-300,
    0.0,
    -0.0,
    -1.0,
    1.0,
    0.5,
    2.0,
    -3.5,
    100.0,
    1e9};

template <std::size_t N>
std::string name(FuzzedDataProvider& in, const std::array<const char*, N>& table) {
    switch (in.ConsumeIntegralInRange<int>(0, 31)) {
        case 0: return in.ConsumeRandomLengthString(24);  // raw bytes, NULs included
        case 1: return in.PickValueInArray(kOddNames);
        default: return in.PickValueInArray(table);
    }
}

double number(FuzzedDataProvider& in) {
    if (in.ConsumeIntegralInRange<int>(0, 7) == 0) return in.ConsumeFloatingPoint<double>();
    return in.PickValueInArray(kValues);
}

std::optional<double> precision(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
        case 0: return number(in);  // zero, negative and non-finite included
        case 1: return in.ConsumeFloatingPoint<double>();
        default: return std::nullopt;
    }
}

// The endpoint types and the mode an edge of `edge_type` is declared for,
// and now and then any other.
std::string endpoint_type(FuzzedDataProvider& in, const std::string& edge_type, bool source) {
    if (in.ConsumeIntegralInRange<int>(0, 7) == 0) return name(in, kNodeTypes);
    return source || edge_type != "picks" ? "P" : "C";
}

ast::EvidenceMode mode(FuzzedDataProvider& in, const std::string& edge_type) {
    if (in.ConsumeIntegralInRange<int>(0, 7) == 0) return in.PickValueInArray(kModes);
    if (edge_type == "picks") return kModes[in.ConsumeIntegralInRange<std::size_t>(2, 4)];
    return kModes[in.ConsumeIntegralInRange<std::size_t>(0, 1)];
}

ast::ObserveStmt observation(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange<int>(0, 4)) {
        case 0:
        case 1: {
            ast::ObserveStmt::Edge edge;
            edge.edge_type = name(in, kEdgeTypes);
            edge.src_type = endpoint_type(in, edge.edge_type, true);
            edge.src_label = name(in, kLabels);
            edge.dst_type = endpoint_type(in, edge.edge_type, false);
            edge.dst_label = name(in, kLabels);
            edge.mode = mode(in, edge.edge_type);
            return edge;
        }
        case 2: {
            ast::ObserveStmt::EdgeWeight weight;
            weight.edge_type = name(in, kEdgeTypes);
            weight.src_type = endpoint_type(in, weight.edge_type, true);
            weight.src_label = name(in, kLabels);
            weight.dst_type = endpoint_type(in, weight.edge_type, false);
            weight.dst_label = name(in, kLabels);
            weight.value = number(in);
            weight.precision = precision(in);
            return weight;
        }
        default: {
            ast::ObserveStmt::Attribute attribute;
            attribute.node_type = name(in, kNodeTypes);
            attribute.node_label = name(in, kLabels);
            attribute.attr =
                attribute.node_type == "C" ? name(in, kAttrsOfC) : name(in, kAttrsOfP);
            attribute.value = number(in);
            attribute.precision = precision(in);
            return attribute;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    // Now and then a model the block is not on, so the block runs unmerged.
    std::string model = in.ConsumeIntegralInRange<int>(0, 31) == 0 ? "N" : "M";
    std::vector<ast::ObserveStmt> observations;
    while (in.remaining_bytes() > 0 && observations.size() < 64) {
        observations.push_back(observation(in));
    }
    try {
        morvane::fuzz::guarded([&] {
            const engine::EvidenceGraphBuilder builder = morvane::python::runtime_evidence_builder(
                std::move(model), std::move(observations), program());
            (void)engine::run_flow_with_builder(*program(), "Main", builder);
        });
    } catch (const engine::ExecError& error) {
        morvane::fuzz::check_error(error, morvane::fuzz::kNone);
    }
    return 0;
}
