// Throughput of compilation from source text to syntax tree, on generated
// programs of about 1 MB and 10 MB. Each program repeats a unit that uses
// every declaration kind and most constructs of the language (posterior
// families, all observation forms, rule clauses and short forms, every
// action, expressions with every operator level, metric pipelines, every
// graph expression and transform), so the figure reflects a realistic mix
// rather than one hot path. Bytes per second are reported; equal rates at
// both sizes mean linear growth.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <string>

#include "frontend/parser/parse_program.hpp"
#include "frontend/support/fill.hpp"

namespace morvane::frontend::parser {
namespace {

using support::cat;

// One unit of the generated program; `i` keeps its names apart.
void append_unit(std::string& out, size_t i) {
    const std::string n = std::to_string(i);
    out += cat("// unit ", n, "\nschema S", n, " {\n",
               "    node Person { age: Real; income: Real; score: Real }\n",
               "    node Company { size: Real }\n",
               "    edge KNOWS { }\n    edge WORKS_AT { }\n}\n\n");
    out += cat("belief_model M", n, " on S", n, " {\n",
               "    node Person {\n",
               "        age ~ Gaussian(mean = 40.0, precision = 0.01);\n",
               "        income ~ GaussianPosterior(mean = 50000, precision = 0.0001)\n",
               "        score ~ Gaussian(mean = 0, precision = 1)\n",
               "    }\n",
               "    node Company { size ~ Gaussian(mean = 100, precision = 0.5) }\n",
               "    edge KNOWS { exist ~ Bernoulli(prior = 0.3, weight = 2); ",
               "weight ~ Gaussian(mean = 1, precision = 2) }\n",
               "    edge WORKS_AT { exist ~ Categorical(group_by = source, prior = [1, 2, 3], "
               "categories = [\"a\", \"b\", \"c\"]) }\n",
               "}\n\n");
    out += cat("evidence E", n, " on M", n, " {\n",
               "    observe Person[\"alice\"].age = 34 (precision = 2.5);\n",
               "    observe Person(bob).income = 61000.5\n",
               "    observe edge KNOWS(Person[\"alice\"], Person(bob)) present;\n",
               "    observe edge KNOWS(Person(bob), Person(7)) weight = 0.75 (precision = 4)\n",
               "    choose edge WORKS_AT(Person(bob), Company(\"acme\"))\n",
               "    unchoose edge WORKS_AT(Person(alice), Company(\"acme\"))\n",
               "    Person { carol { age: 29, score: 0.5 (precision = 3) }, ",
               "\"dave\" { income: 1200 } }\n",
               "    KNOWS(Person -> Person) { alice -> bob; bob -/> carol, carol -> \"dave\" }\n",
               "}\n\n");
    out += cat("rule R", n, " on M", n, " {\n",
               "    pattern (a:Person)-[e:KNOWS]->(b:Person), ",
               "(b:Person)-[w:WORKS_AT]->(c:Company)\n",
               "    where E[a.age] > 30 and (prob(e) >= 0.5 or not exists "
               "(b:Person)-[k:KNOWS]->(a:Person) where prob(k) < 0.1)\n",
               "    action {\n",
               "        let d = E[b.score] - E[a.score] * 2 / (1 + abs(-3))\n",
               "        non_bayesian_nudge a.score to d variance = increase(factor = 1.5);\n",
               "        b.income ~= E[a.income] (precision = 0.5, count = 2)\n",
               "        suppress e weight = 0.2\n",
               "        delete w (confidence = high)\n",
               "    }\n",
               "    mode: fixpoint\n",
               "}\n",
               "rule N", n, " on M", n, " {\n",
               "    for (p: Person) where E[p.age] != 0 => { p.score ~= 1 precision = 2 }\n",
               "    (x:Person)-[r:KNOWS]->(y:Person) => ",
               "{ non_bayesian_nudge y.age to E[x.age] }\n",
               "}\n\n");
    out += cat("flow F", n, " on M", n, " {\n",
               "    graph base = from_evidence E", n, "\n",
               "    graph prior = from_graph \"previous_", n, "\"\n",
               "    graph g1 = base |> apply_rule R", n, " |> infer_beliefs |> snapshot \"s", n,
               "\"\n",
               "    graph g2 = g1 |> apply_ruleset { R", n, ", N", n,
               " } |> prune_edges KNOWS where prob(edge) < 0.1\n",
               "    graph best = select_model { g1, g2 } by edge_bic\n",
               "    metric adults on best = ",
               "nodes(Person) |> where E[node.age] >= 18 |> count()\n",
               "    metric mean_income = nodes(Person) |> avg(by = E[node.income])\n",
               "    metric ranked = nodes(Person) |> order_by(E[node.score]) ",
               "|> fold(init = 0, step = value + E[node.score])\n",
               "    metric ratio = (nodes(Person) |> sum(by = E[node.score])) ",
               "/ (1 + edge_count(KNOWS))\n",
               "    export best as \"best_", n, "\"\n",
               "    export_metric adults as \"adults_", n, "\"\n",
               "    import_metric previous_adults as prev\n",
               "}\n\n");
}

const std::string& generated_program(size_t bytes) {
    static std::string programs[2];
    std::string& program = programs[bytes > (4u << 20) ? 1 : 0];
    if (program.empty()) {
        program.reserve(bytes + 4096);
        for (size_t i = 0; program.size() < bytes; ++i) append_unit(program, i);
    }
    return program;
}

void BM_ParseProgram(benchmark::State& state) {
    const std::string& source = generated_program(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        ast::ProgramAst program = parse_program(source);
        benchmark::DoNotOptimize(program);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * source.size()));
    state.counters["source_bytes"] = static_cast<double>(source.size());
}

BENCHMARK(BM_ParseProgram)->Arg(1 << 20)->Arg(10 << 20)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace morvane::frontend::parser
