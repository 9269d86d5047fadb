// Throughput of compilation (parse, tree, validation), on generated valid programs of
// about 1 MB and 10 MB, and of its stages taken apart:
//   Compile            the whole pipeline: parse, build the tree, validate;
//   BuildTree          parse and build the tree, no validation;
//   Validate           validation alone: its own parse for positions, the
//                      source map and every check;
//   ValidateWithTree   validation given an existing parse: map and checks.
//
// A program is a schema and a belief model followed by repeated units, each
// an evidence block, three rules whose expressions call the built-in
// functions, and a flow with pipelines, prune predicates, model selection and
// metric pipelines, so that every check of the validator has work to do.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "core/engine/errors.hpp"
#include "core/parse_and_validate.hpp"
#include "frontend/parser/corventa_parser.hpp"
#include "frontend/parser/parse_program.hpp"
#include "frontend/validate/validate.hpp"

namespace {

namespace frontend = morvane::frontend;

constexpr const char* kHeader = R"(// Generated benchmark program.
schema Net {
    node Person { trust: Real; activity: Real }
    node Hub { load: Real }
    edge knows {}
    edge picks {}
}

belief_model NetBeliefs on Net {
    node Person {
        trust ~ Gaussian(mean = 0.0, precision = 1.0, corr_activity = 0.3);
        activity ~ Gaussian(mean = 0.5, precision = 2.0, corr_trust = 0.3)
    }
    node Hub { load ~ Gaussian(mean = 0.5, precision = 2, observation_precision = 4) }
    edge knows {
        exist ~ Bernoulli(prior = 0.4, weight = 2);
        weight ~ Gaussian(mean = 1.0, precision = 4.0)
    }
    edge picks {
        exist ~ Categorical(group_by = source, prior = [1, 2, 3], categories = ["a", "b", "c"])
    }
}
)";

// One unit of the program; `i` makes its names unique.
void append_unit(std::string& out, int i) {
    const std::string n = std::to_string(i);
    char line[256];
    out += "\nevidence Survey" + n + " on NetBeliefs {\n";
    for (int k = 0; k < 12; ++k) {
        std::snprintf(line, sizeof line,
                      "    observe Person[\"p%d_%d\"].trust = %d.%02d (precision = 2.5);\n", i, k,
                      k % 7, (i * 13 + k) % 100);
        out += line;
        std::snprintf(line, sizeof line,
                      "    observe edge knows(Person[\"p%d_%d\"], Person(p%d_%d)) present\n", i, k,
                      i, (k + 1) % 12);
        out += line;
    }
    std::snprintf(line, sizeof line,
                  "    observe edge knows(Person[\"p%d_0\"], Person[\"p%d_3\"]) weight = 0.75 "
                  "(precision = 2);\n"
                  "    choose edge picks(Person(p%d_1), Hub(h%d))\n",
                  i, i, i, i);
    out += line;
    out += "    Person { q" + n + "_0 { trust: 0.5, activity: 1.5 }, q" + n + "_1 {} }\n";
    out += "    knows(Person -> Person) { q" + n + "_0 -> q" + n + "_1; q" + n + "_1 -/> q" + n +
           "_0 }\n}\n";

    out += "\nrule Spread" + n + R"( on NetBeliefs {
    pattern (a:Person)-[k:knows]->(b:Person)
    where prob(k) > 0.5 and E[a.trust] > E[b.trust] + 0.1 and credible(a.trust > b.trust, p = 0.9)
    action {
        let gap = E[a.trust] - E[b.trust];
        let spread = quantile(a.trust, 0.9) - ci_lo(b.trust, 0.1) + cov(a.trust, b.activity);
        non_bayesian_nudge b.trust to E[b.trust] + 0.5 * gap variance = decrease(factor = 0.9);
        b.activity ~= E[a.activity] * 0.8 + spread (precision = 2.0, count = 1)
    }
    mode: for_each
}
rule Fade)" +
           n + R"( on NetBeliefs {
    (a:Person)-[k:knows]->(b:Person) where E[a.activity] < 0.2 or stddev(b.activity) >= 3 => {
        suppress k weight = 0.5;
    }
    where weight(k) < 2 and degree(a) > 1 and entropy(a, picks) < 1
}
rule Check)" +
           n + R"( on NetBeliefs {
    for (p: Person) where not exists (p:Person)-[j:knows]->(q:Person) where prob(j) > 0.25 => {
        let w = winner(p, picks) + prob_correlated(p.trust > 0.5, rho = 0.1);
        p.trust ~= w
    }
    mode: fixpoint
}
)";
    out += "\nflow Main" + n + R"( on NetBeliefs {
    import_metric prior_share as prior
    graph observed = from_evidence Survey)" +
           n + R"(
    graph spread = observed |> apply_ruleset { Spread)" +
           n + ", Fade" + n + R"( } |> infer_beliefs
    graph pruned = spread |> apply_rule Check)" +
           n + R"( |> prune_edges knows where prob(edge) < 0.1 or weight(edge) > 9
    graph best = select_model { spread, pruned } by edge_bic
    metric people = nodes(Person) |> count()
    metric trusted on pruned = nodes(Person) |> where E[node.trust] > 1 and degree(node) >= 1 |> count()
    metric mean_trust = nodes(Person) |> avg(by = E[node.trust])
    metric top = nodes(Person) |> order_by(E[node.trust]) |> fold(init = 0, step = value + stddev(node.trust))
    metric share = (trusted + 1) / (people + 1) - 0.5 * mean_trust + prior + avg_degree(Person, knows)
    export pruned as "social)" +
           n + R"("
    export_metric share as "share)" +
           n + R"("
}
)";
}

std::string generate_program(size_t target_bytes) {
    std::string out = kHeader;
    for (int i = 0; out.size() < target_bytes; ++i)
        append_unit(out, i);
    return out;
}

const std::string& program_of_size(int64_t bytes) {
    static std::string small, large;
    std::string& slot = bytes < 5'000'000 ? small : large;
    if (slot.empty()) slot = generate_program(static_cast<size_t>(bytes));
    return slot;
}

// Reports a compile failure (the generated program must be valid).
template <typename F>
bool run_or_skip(benchmark::State& state, F&& compile) {
    try {
        compile();
        return true;
    } catch (const morvane::core::engine::ExecError& error) {
        state.SkipWithError(error.message.c_str());
    } catch (const frontend::FrontendError& error) {
        state.SkipWithError(error.text().c_str());
    }
    return false;
}

void report(benchmark::State& state, const std::string& text) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.counters["MB"] = static_cast<double>(text.size()) / 1e6;
}

void BM_Compile(benchmark::State& state) {
    const std::string& text = program_of_size(state.range(0));
    for (auto _ : state) {
        if (!run_or_skip(state, [&] {
                benchmark::DoNotOptimize(morvane::core::parse_and_validate(text));
            })) {
            return;
        }
    }
    report(state, text);
}

void BM_BuildTree(benchmark::State& state) {
    const std::string& text = program_of_size(state.range(0));
    for (auto _ : state) {
        if (!run_or_skip(
                state, [&] { benchmark::DoNotOptimize(frontend::parser::parse_program(text)); })) {
            return;
        }
    }
    report(state, text);
}

void BM_Validate(benchmark::State& state) {
    const std::string& text = program_of_size(state.range(0));
    const auto program = frontend::parser::parse_program(text);
    for (auto _ : state) {
        if (!run_or_skip(
                state, [&] { frontend::validate::validate_program_with_source(program, text); })) {
            return;
        }
    }
    report(state, text);
}

void BM_ValidateWithTree(benchmark::State& state) {
    const std::string& text = program_of_size(state.range(0));
    const auto program = frontend::parser::parse_program(text);
    const auto parsed =
        frontend::parser::CorventaParser::parse(frontend::parser::Rule::program, text);
    for (auto _ : state) {
        if (!run_or_skip(state, [&] {
                frontend::validate::validate_program_with_parse_tree(program, parsed.tree());
            })) {
            return;
        }
    }
    report(state, text);
}

constexpr int64_t kOneMB = 1'000'000;
constexpr int64_t kTenMB = 10'000'000;

BENCHMARK(BM_Compile)->Arg(kOneMB)->Arg(kTenMB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BuildTree)->Arg(kOneMB)->Arg(kTenMB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Validate)->Arg(kOneMB)->Arg(kTenMB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ValidateWithTree)->Arg(kOneMB)->Arg(kTenMB)->Unit(benchmark::kMillisecond);

}  // namespace
