// Generated valid programs for the benchmarks, of any size.
//
// A program is a schema and a belief model followed by repeated units, each
// an evidence block with observations of every form, three rules whose
// expressions call the built-in functions, and a flow with pipelines, prune
// predicates, model selection, metric pipelines and exports, so that bulk
// data, expression-heavy code and every check of the validator weigh in.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace morvane::bench {

inline constexpr const char* kHeader = R"(// Generated benchmark program.
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
inline void append_unit(std::string& out, int i) {
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

// The header, then whole units until the text reaches `target_bytes`.
inline std::string generate_program(size_t target_bytes) {
    std::string out = kHeader;
    for (int i = 0; out.size() < target_bytes; ++i) append_unit(out, i);
    return out;
}

}  // namespace morvane::bench
