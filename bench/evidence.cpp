// Building a belief graph from a large evidence block: attribute, edge and
// edge-weight observations over a population of nodes, with one independent
// edge type carrying a weight and one competing edge type. The block is
// generated directly (parsing it would measure the parser), in three sizes:
//   1M observations over 100k nodes;
//   10M observations over the same 100k nodes (ten times the observations);
//   10M observations over 1M nodes (everything ten times larger, so the
//   working tables outgrow the caches).
// Reported: observations per second; the ratios of the times show how the
// construction scales.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>

#include "core/engine/errors.hpp"
#include "core/engine/evidence.hpp"
#include "frontend/parser/parse_program.hpp"
#include "frontend/support/fill.hpp"

namespace morvane::core::engine {
namespace {

namespace ast = frontend::ast;

constexpr const char* kProgram = R"(
schema Market {
    node Item { size: Real; score: Real }
    node Hub { load: Real }
    edge link {}
    edge picks {}
}
belief_model Beliefs on Market {
    node Item {
        size ~ Gaussian(mean = 0, precision = 0.1);
        score ~ Gaussian(mean = 1, precision = 1, observation_precision = 2, corr_size = 0.3)
    }
    node Hub { load ~ Gaussian(mean = 0) }
    edge link {
        exist ~ Bernoulli(prior = 0.3, weight = 4);
        weight ~ Gaussian(mean = 1, precision = 1)
    }
    edge picks { exist ~ Categorical(group_by = source, pseudo_count = 2) }
}
evidence Generated on Beliefs {}
)";

// A small deterministic generator (splitmix64).
class Random {
  public:
    uint64_t next() {
        uint64_t z = (state_ += 0x9e3779b97f4a7c15);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9;
        z = (z ^ (z >> 27)) * 0x94d049bb133111eb;
        return z ^ (z >> 31);
    }
    uint64_t below(uint64_t n) { return next() % n; }
    double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }

  private:
    uint64_t state_ = 42;
};

// One program with the evidence block filled: `observations` observations
// over `nodes` nodes, one in ten of them hubs. Attributes 40%, edges 35%
// (two thirds independent present/absent, one third competing choices of an
// item among four hubs), edge weights 25%. Independent edges are drawn from a
// pool of twice as many (source, destination) pairs as there are nodes, so
// many edges are observed several times.
ast::ProgramAst generated_program(uint64_t observations, uint64_t nodes) {
    ast::ProgramAst program = frontend::parser::parse_program(kProgram);
    const uint64_t hubs = nodes / 10;
    const uint64_t items = nodes - hubs;
    const auto item = [](uint64_t i) { return support::cat("i", i); };
    const auto hub = [](uint64_t i) { return support::cat("h", i); };
    const auto pool_pair = [&](uint64_t j) {
        return std::pair{(j * 2654435761u) % items, (j * 40503u + 17u) % items};
    };
    Random random;
    std::vector<ast::ObserveStmt>& out = program.evidences.at(0).observations;
    out.reserve(observations);
    for (uint64_t n = 0; n < observations; ++n) {
        const uint64_t kind = random.below(100);
        if (kind < 40) {
            const bool on_hub = random.below(10) == 0;
            const uint64_t which = random.below(on_hub ? hubs : items);
            const std::string attr = on_hub ? "load" : (random.below(2) ? "size" : "score");
            const std::optional<double> precision =
                random.below(4) == 0 ? std::optional<double>(0.5) : std::nullopt;
            out.push_back(ast::ObserveStmt::Attribute{on_hub ? "Hub" : "Item",
                                                      on_hub ? hub(which) : item(which), attr,
                                                      random.unit() * 10, precision});
        } else if (kind < 75) {
            if (kind < 52) {
                const uint64_t source = random.below(items);
                const uint64_t choice = (source * 31 + random.below(4)) % hubs;
                const auto mode = random.below(8) == 0 ? ast::EvidenceMode::ForcedChoice
                                                       : ast::EvidenceMode::Chosen;
                out.push_back(ast::ObserveStmt::Edge{"picks", "Item", item(source), "Hub",
                                                     hub(choice), mode});
            } else {
                const auto [src, dst] = pool_pair(random.below(2 * nodes));
                const auto mode =
                    random.below(3) == 0 ? ast::EvidenceMode::Absent : ast::EvidenceMode::Present;
                out.push_back(
                    ast::ObserveStmt::Edge{"link", "Item", item(src), "Item", item(dst), mode});
            }
        } else {
            const auto [src, dst] = pool_pair(random.below(2 * nodes));
            const std::optional<double> precision =
                random.below(2) == 0 ? std::optional<double>(3.0) : std::nullopt;
            out.push_back(ast::ObserveStmt::EdgeWeight{"link", "Item", item(src), "Item", item(dst),
                                                       random.unit() * 5, precision});
        }
    }
    return program;
}

// The program of the last size asked for; a 10M block takes gigabytes, so
// only one is kept.
const ast::ProgramAst& cached_program(uint64_t observations, uint64_t nodes) {
    static std::pair<uint64_t, uint64_t> size;
    static std::unique_ptr<ast::ProgramAst> program;
    if (!program || size != std::pair{observations, nodes}) {
        program.reset();
        program = std::make_unique<ast::ProgramAst>(generated_program(observations, nodes));
        size = {observations, nodes};
    }
    return *program;
}

void BM_BuildGraphFromEvidence(benchmark::State& state) {
    const auto observations = static_cast<uint64_t>(state.range(0));
    const auto nodes = static_cast<uint64_t>(state.range(1));
    const ast::ProgramAst& program = cached_program(observations, nodes);
    std::size_t built_nodes = 0, built_edges = 0, built_groups = 0;
    for (auto _ : state) {
        try {
            const BeliefGraph graph = build_graph_from_evidence(program.evidences.at(0), program);
            built_nodes = graph.nodes().size();
            built_edges = graph.edges().size();
            built_groups = graph.competing_groups().size();
        } catch (const ExecError& error) {
            state.SkipWithError(error.message.c_str());
            return;
        }
    }
    const auto count = static_cast<double>(observations);
    state.counters["obs_per_s"] = benchmark::Counter(
        count * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["nodes"] = static_cast<double>(built_nodes);
    state.counters["edges"] = static_cast<double>(built_edges);
    state.counters["groups"] = static_cast<double>(built_groups);
}
BENCHMARK(BM_BuildGraphFromEvidence)
    ->Args({1'000'000, 100'000})
    ->Args({10'000'000, 100'000})
    ->Args({10'000'000, 1'000'000})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace
}  // namespace morvane::core::engine
