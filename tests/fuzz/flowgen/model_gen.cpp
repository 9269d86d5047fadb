// Schema, belief model and evidence of a generated program.
//
// Everything written here passes the validator by construction: parameter
// values stay in their legal ranges (extremes included), correlations are
// declared once per pair with one value, competing edges are observed with
// competing modes only, a group with an explicit prior gets exactly as many
// destinations as the prior has entries, and destinations of a restricted
// categorical edge come from its categories list.
#include "tests/fuzz/flowgen/model_gen.hpp"

#include <algorithm>
#include <array>
#include <map>
#include <utility>

namespace morvane::fuzz::flowgen {
namespace {

constexpr std::array<const char*, 3> kNodeNames = {"A", "B", "C"};
constexpr std::array<const char*, 4> kAttrPool = {"x", "y", "z", "w"};
constexpr std::array<const char*, 4> kEdgeNames = {"k", "picks", "m", "ranks"};

std::string join(const std::vector<std::string>& parts, const char* separator) {
    std::string out;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) out += separator;
        out += parts[i];
    }
    return out;
}

// A statement end: the language makes ";" optional almost everywhere.
const char* end_of_statement(Choices& c) { return c.one_in(4) ? "\n" : ";\n"; }

// ---- Belief model -----------------------------------------------------------------------

std::string gaussian_params(Choices& c, const NodeType& type, std::size_t attr,
                            const std::map<std::pair<std::size_t, std::size_t>, std::string>& corr,
                            const std::map<std::pair<std::size_t, std::size_t>, int>& sides) {
    std::vector<std::string> params;
    if (!c.one_in(4)) params.push_back((c.one_in(6) ? "prior_mean = " : "mean = ") + any_number(c));
    if (!c.one_in(4)) {
        params.push_back((c.one_in(6) ? "prior_precision = " : "precision = ") +
                         positive_number(c));
    }
    if (c.one_in(3)) params.push_back("observation_precision = " + positive_number(c));
    // A pair's correlation is written on one side or on both, with one value.
    for (const auto& [pair, rho] : corr) {
        const int side = sides.at(pair);
        if (pair.first == attr && side != 1) {
            params.push_back("corr_" + type.attrs[pair.second] + " = " + rho);
        } else if (pair.second == attr && side != 0) {
            params.push_back("corr_" + type.attrs[pair.first] + " = " + rho);
        }
    }
    if (c.one_in(10)) params.push_back("corr_" + type.attrs[attr] + " = 1");
    if (params.empty()) params.push_back("mean = 0");
    return join(params, ", ");
}

void write_node_beliefs(std::string& out, Choices& c, const NodeType& type) {
    std::map<std::pair<std::size_t, std::size_t>, std::string> corr;
    std::map<std::pair<std::size_t, std::size_t>, int> sides;
    for (std::size_t i = 0; i < type.attrs.size(); ++i) {
        for (std::size_t j = i + 1; j < type.attrs.size(); ++j) {
            if (!c.one_in(3)) continue;
            corr[{i, j}] = correlation(c);
            sides[{i, j}] = static_cast<int>(c.below(3));
        }
    }
    out += "    node " + type.name + " {\n";
    for (std::size_t a = 0; a < type.attrs.size(); ++a) {
        const char* family = c.one_in(2) ? "GaussianPosterior" : "Gaussian";
        out += "        " + type.attrs[a] + " ~ " + family + "(" +
               gaussian_params(c, type, a, corr, sides) + ")" + end_of_statement(c);
    }
    out += "    }\n";
}

std::string existence(Choices& c, const EdgeType& e) {
    std::vector<std::string> params;
    if (!e.competing) {
        if (!c.one_in(3)) params.push_back("prior = " + open_probability(c));
        if (c.one_in(2)) params.push_back("weight = " + positive_number(c));
        if (params.empty()) params.push_back("prior = 0.5");
        return std::string(c.one_in(2) ? "BernoulliPosterior" : "Bernoulli") + "(" +
               join(params, ", ") + ")";
    }
    params.push_back(c.one_in(3) ? "group_by = \"source\"" : "group_by = source");
    if (e.explicit_k > 0) {
        std::vector<std::string> prior;
        for (std::size_t i = 0; i < e.explicit_k; ++i)
            prior.push_back(positive_number(c));
        params.push_back("prior = [" + join(prior, ", ") + "]");
    } else {
        if (c.one_in(2)) params.push_back("prior = uniform");
        params.push_back("pseudo_count = " + positive_number(c));
    }
    if (!e.categories.empty()) {
        std::vector<std::string> quoted;
        for (const std::string& label : e.categories)
            quoted.push_back("\"" + label + "\"");
        params.push_back("categories = [" + join(quoted, ", ") + "]");
    }
    if (c.one_in(2)) std::swap(params.front(), params.back());
    return std::string(c.one_in(2) ? "CategoricalPosterior" : "Categorical") + "(" +
           join(params, ", ") + ")";
}

std::string weight_posterior(Choices& c) {
    std::vector<std::string> params;
    if (!c.one_in(4)) params.push_back("mean = " + any_number(c));
    if (!c.one_in(4)) params.push_back("precision = " + positive_number(c));
    if (c.one_in(3)) params.push_back("observation_precision = " + positive_number(c));
    if (params.empty()) params.push_back("precision = 1");
    return "Gaussian(" + join(params, ", ") + ")";
}

// ---- Evidence -----------------------------------------------------------------------------

std::string node_ref(Choices& c, const std::string& type, const std::string& label) {
    if (is_numeric_label(label) || c.one_in(2)) {
        return c.one_in(3) ? type + "[\"" + label + "\"]" : type + "(" + label + ")";
    }
    return c.one_in(2) ? type + "[\"" + label + "\"]" : type + "(\"" + label + "\")";
}

std::string precision_annotation(Choices& c) {
    if (c.one_in(2)) return "";
    // Attribute observations take any precision: the engine floors it.
    if (c.one_in(6)) return c.one_in(2) ? " (precision = 0)" : " (precision = -1)";
    return " (precision = " + positive_number(c) + ")";
}

void attribute_observations(std::string& out, Choices& c, const Vocabulary& v) {
    const std::size_t count = c.below(5);
    for (std::size_t i = 0; i < count; ++i) {
        const NodeType& type = c.pick(v.nodes);
        out += "    observe " + node_ref(c, type.name, c.pick(label_pool())) + "." +
               c.pick(type.attrs) + " = " + any_number(c) + precision_annotation(c) +
               end_of_statement(c);
    }
    if (!c.one_in(3)) return;
    const NodeType& type = c.pick(v.nodes);
    std::vector<std::string> entries;
    const std::size_t entry_count = 1 + c.below(3);
    for (std::size_t i = 0; i < entry_count; ++i) {
        std::vector<std::string> keys;
        const std::size_t key_count = c.below(type.attrs.size() + 1);
        for (std::size_t k = 0; k < key_count; ++k) {
            keys.push_back(type.attrs[k] + ": " + any_number(c) + precision_annotation(c));
        }
        const std::string& label = c.pick(label_pool());
        const std::string written = !is_numeric_label(label) && c.one_in(3)
                                        ? "\"" + label + "\""
                                        : label;
        entries.push_back(written + " { " + join(keys, ", ") + " }");
    }
    out += "    " + type.name + " { " + join(entries, ", ") + " }\n";
}

std::string edge_ref(Choices& c, const Vocabulary& v, const EdgeType& e, const std::string& src,
                     const std::string& dst) {
    return "edge " + e.name + "(" + node_ref(c, v.nodes[e.src].name, src) + ", " +
           node_ref(c, v.nodes[e.dst].name, dst) + ")";
}

void independent_observations(std::string& out, Choices& c, const Vocabulary& v,
                              const EdgeType& e) {
    const std::size_t count = c.below(5);
    for (std::size_t i = 0; i < count; ++i) {
        const std::string& src = c.pick(label_pool());
        const std::string& dst = c.pick(label_pool());
        if (e.weighted && c.one_in(3)) {
            std::string precision = c.one_in(2) ? "" : " (precision = " + positive_number(c) + ")";
            out += "    observe " + edge_ref(c, v, e, src, dst) + " weight = " + any_number(c) +
                   precision + end_of_statement(c);
        } else {
            out += "    observe " + edge_ref(c, v, e, src, dst) +
                   (c.one_in(3) ? " absent" : " present") + end_of_statement(c);
        }
    }
    if (!c.one_in(3)) return;
    std::vector<std::string> entries;
    const std::size_t entry_count = 1 + c.below(4);
    for (std::size_t i = 0; i < entry_count; ++i) {
        entries.push_back(c.pick(label_pool()) + (c.one_in(3) ? " -/> " : " -> ") +
                          c.pick(label_pool()));
    }
    out += "    " + e.name + "(" + v.nodes[e.src].name + " -> " + v.nodes[e.dst].name + ") { " +
           join(entries, c.one_in(2) ? ", " : "; ") + " }\n";
}

// One node with many edges of one independent type, outgoing or incoming;
// now and then enough of them that a prune predicate over them is lowered
// (64 or more evaluations).
void hub(std::string& out, Choices& c, const Vocabulary& v, const EdgeType& e) {
    const std::size_t count = c.one_in(4) ? 64 + c.below(12) : 6 + c.below(20);
    const bool outgoing = !c.one_in(3);
    std::vector<std::string> entries;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string spoke = "h" + std::to_string(i);
        const char* arrow = c.one_in(8) ? " -/> " : " -> ";
        entries.push_back(outgoing ? "hub" + (arrow + spoke) : spoke + arrow + "hub");
    }
    out += "    " + e.name + "(" + v.nodes[e.src].name + " -> " + v.nodes[e.dst].name + ") { " +
           join(entries, ", ") + " }\n";
}

// Competing groups: for each source, its destinations (distinct labels,
// exactly explicit_k of them for an explicit prior) each observed chosen,
// unchosen (two categories only) or forced.
void competing_observations(std::string& out, Choices& c, const Vocabulary& v,
                            const EdgeType& e) {
    const std::vector<std::string>& pool = e.categories.empty() ? label_pool() : e.categories;
    const std::size_t groups = c.below(3);
    const std::size_t first_source = c.below(label_pool().size());
    for (std::size_t g = 0; g < groups; ++g) {
        const std::string& src = label_pool()[(first_source + g) % label_pool().size()];
        const std::size_t k =
            e.explicit_k > 0 ? e.explicit_k : 1 + c.below(std::min<std::size_t>(4, pool.size()));
        const std::size_t start = c.below(pool.size());
        for (std::size_t d = 0; d < k; ++d) {
            const std::string& dst = pool[(start + d) % pool.size()];
            const std::size_t observations = 1 + c.below(2);
            for (std::size_t o = 0; o < observations; ++o) {
                switch (c.below(k == 2 ? 5 : 4)) {
                    case 0:
                        out += "    observe " + edge_ref(c, v, e, src, dst) + " chosen";
                        break;
                    case 1: out += "    choose " + edge_ref(c, v, e, src, dst); break;
                    case 2:
                        out += "    observe " + edge_ref(c, v, e, src, dst) + " forced_choice";
                        break;
                    case 3:
                        if (e.weighted) {
                            out += "    observe " + edge_ref(c, v, e, src, dst) +
                                   " weight = " + any_number(c) + " (precision = " +
                                   positive_number(c) + ")";
                        } else {
                            out += "    observe " + edge_ref(c, v, e, src, dst) + " chosen";
                        }
                        break;
                    default:
                        out += c.one_in(2) ? "    unchoose " + edge_ref(c, v, e, src, dst)
                                           : "    observe " + edge_ref(c, v, e, src, dst) +
                                                 " unchosen";
                        break;
                }
                out += end_of_statement(c);
            }
        }
    }
}

}  // namespace

Vocabulary choose_vocabulary(Choices& c) {
    Vocabulary v;
    const std::size_t node_count = 1 + c.below(kNodeNames.size());
    for (std::size_t i = 0; i < node_count; ++i) {
        NodeType type{kNodeNames[i], {}};
        const std::size_t attr_count = 1 + c.below(3);
        for (std::size_t a = 0; a < attr_count; ++a) {
            type.attrs.push_back(kAttrPool[(i + a) % kAttrPool.size()]);
        }
        for (const std::string& attr : type.attrs) {
            if (std::find(v.all_attrs.begin(), v.all_attrs.end(), attr) == v.all_attrs.end()) {
                v.all_attrs.push_back(attr);
            }
        }
        v.nodes.push_back(std::move(type));
    }
    const std::size_t edge_count = 1 + c.below(kEdgeNames.size());
    for (std::size_t i = 0; i < edge_count; ++i) {
        EdgeType e;
        e.name = kEdgeNames[i];
        e.src = c.below(node_count);
        e.dst = c.below(node_count);
        e.competing = (i % 2 == 1) != c.one_in(4);
        e.weighted = !c.one_in(2);
        if (e.competing && c.one_in(3)) e.explicit_k = 2 + c.below(3);
        if (e.competing && c.one_in(3)) {
            const std::size_t n = std::max<std::size_t>(e.explicit_k, 3 + c.below(4));
            for (std::size_t l = 0; l < n; ++l) e.categories.push_back(label_pool()[l]);
        }
        v.edges.push_back(std::move(e));
    }
    return v;
}

void write_schema(std::string& out, const Vocabulary& v) {
    out += "schema S {\n";
    for (const NodeType& type : v.nodes) {
        out += "    node " + type.name + " {";
        for (const std::string& attr : type.attrs)
            out += " " + attr + ": Real;";
        out += " }\n";
    }
    for (const EdgeType& e : v.edges)
        out += "    edge " + e.name + " {}\n";
    out += "}\n";
}

void write_belief_model(std::string& out, Choices& c, const Vocabulary& v) {
    out += "belief_model M on S {\n";
    for (const NodeType& type : v.nodes)
        write_node_beliefs(out, c, type);
    for (const EdgeType& e : v.edges) {
        std::string exist = "exist ~ " + existence(c, e);
        std::string weight = e.weighted ? "weight ~ " + weight_posterior(c) : "";
        if (!weight.empty() && c.one_in(3)) std::swap(exist, weight);
        out += "    edge " + e.name + " {\n        " + exist + end_of_statement(c);
        if (!weight.empty()) out += "        " + weight + end_of_statement(c);
        out += "    }\n";
    }
    out += "}\n";
}

void write_evidence(std::string& out, Choices& c, Vocabulary& v, const std::string& name) {
    out += "evidence " + name + " on M {\n";
    attribute_observations(out, c, v);
    bool hub_written = false;
    for (EdgeType& e : v.edges) {
        if (e.competing) {
            competing_observations(out, c, v, e);
            continue;
        }
        independent_observations(out, c, v, e);
        if (!hub_written && c.one_in(3)) {
            hub(out, c, v, e);
            hub_written = true;
            e.hub = true;
        }
    }
    if (c.one_in(3)) attribute_observations(out, c, v);
    out += "}\n";
}

}  // namespace morvane::fuzz::flowgen
