// Parse throughput from `program` to a full parse tree, on generated valid
// programs of about 100 KB, 1 MB and 10 MB.
//
// A program is a schema and a belief model followed by repeated units, each
// an evidence block with observations of every form, three rules and a flow
// with pipelines and metrics, so that bulk data and expression-heavy code
// both weigh in. Reported per size: bytes per second, and the parse tree's
// memory per source byte.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "frontend/parser/corventa_parser.hpp"

namespace {

using morvane::frontend::parser::CorventaParser;
using morvane::frontend::parser::ParseResult;
using morvane::frontend::parser::Rule;

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
        activity ~ Gaussian(mean = 0.5, precision = 2.0)
    }
    node Hub { load ~ Gaussian(mean = 0.5, precision = 2) }
    edge knows {
        exist ~ Bernoulli(prior = 0.4);
        weight ~ Gaussian(mean = 1.0, precision = 4.0)
    }
    edge picks { exist ~ Categorical(group_by = source, pseudo_count = 1.0) }
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
                  "    observe edge knows(Person[\"p%d_0\"], Person[\"p%d_3\"]) weight = 0.75;\n"
                  "    choose edge picks(Person(p%d_1), Hub(h%d))\n",
                  i, i, i, i);
    out += line;
    out += "    Person {\n";
    for (int k = 0; k < 6; ++k) {
        std::snprintf(line, sizeof line, "        q%d_%d { trust: 0.%d, activity: 1.%d },\n", i,
                      k, k, 9 - k);
        out += line;
    }
    out += "        q" + n + "_last {}\n    }\n";
    out += "    knows(Person -> Person) { q" + n + "_0 -> q" + n + "_1; q" + n + "_1 -/> q" + n +
           "_2, q" + n + "_2 -> q" + n + "_0 }\n}\n";

    out += "\nrule Spread" + n + R"( on NetBeliefs {
    pattern (a:Person)-[k:knows]->(b:Person)
    where prob(k) > 0.5 and E[a.trust] > E[b.trust] + 0.1
    action {
        let gap = E[a.trust] - E[b.trust];
        non_bayesian_nudge b.trust to E[b.trust] + 0.5 * gap variance = decrease(factor = 0.9);
        b.activity ~= E[a.activity] * 0.8 (precision = 2.0, count = 1)
    }
    mode: for_each
}
rule Fade)" + n + R"( on NetBeliefs {
    (a:Person)-[k:knows]->(b:Person) where E[a.activity] < 0.2 or stddev(b.activity) >= 3 => {
        suppress k weight = 0.5;
    }
}
rule Check)" + n + R"( on NetBeliefs {
    pattern (a:Person)-[k:knows]->(b:Person)
    where not exists (b:Person)-[j:knows]->(a:Person) where prob(j) > 0.25
    action { delete k (confidence = low) }
}
)";
    out += "\nflow Main" + n + R"( on NetBeliefs {
    graph observed = from_evidence Survey)" + n + R"(
    graph spread = observed |> apply_ruleset { Spread)" + n + ", Fade" + n + R"( } |> infer_beliefs
    graph pruned = spread |> apply_rule Check)" + n + R"(
        |> prune_edges knows where prob(edge) < 0.1
    metric people = nodes(Person) |> count()
    metric trusted on pruned = nodes(Person)
        |> where E[node.trust] > 1 and degree(node) >= 1
        |> count()
    metric mean_trust = nodes(Person) |> avg(by = E[node.trust])
    metric share = (trusted + 1) / (people + 1) - 0.5 * mean_trust
    export pruned as "social)" + n + R"("
    export_metric share as "share)" + n + R"("
}
)";
}

std::string generate_program(size_t target_bytes) {
    std::string out = kHeader;
    for (int i = 0; out.size() < target_bytes; ++i) append_unit(out, i);
    return out;
}

void BM_ParseProgram(benchmark::State& state) {
    const std::string text = generate_program(static_cast<size_t>(state.range(0)));
    size_t tree_bytes = 0;
    size_t pairs = 0;
    for (auto _ : state) {
        ParseResult result = CorventaParser::parse(Rule::program, text);
        if (!result) {
            state.SkipWithError(result.error().text().c_str());
            return;
        }
        tree_bytes = result.tree().memory_bytes();
        pairs = result.tree().pair_count();
        benchmark::DoNotOptimize(result);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.counters["source_bytes"] = static_cast<double>(text.size());
    state.counters["tree_bytes_per_byte"] =
        static_cast<double>(tree_bytes) / static_cast<double>(text.size());
    state.counters["pairs_per_byte"] =
        static_cast<double>(pairs) / static_cast<double>(text.size());
}

BENCHMARK(BM_ParseProgram)
    ->Arg(100 * 1000)
    ->Arg(1000 * 1000)
    ->Arg(10 * 1000 * 1000)
    ->Unit(benchmark::kMillisecond);

}  // namespace
