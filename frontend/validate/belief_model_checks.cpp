// Belief models: every node block and edge block against the schema the
// model is declared on, and every posterior against its family's rules.
#include <cmath>
#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "frontend/debug_text.hpp"
#include "frontend/support/fill.hpp"
#include "frontend/support/number_text.hpp"
#include "frontend/validate/declaration_checks.hpp"
#include "frontend/validate/name_set.hpp"
#include "frontend/validate/posterior_checks.hpp"
#include "frontend/validate/site.hpp"

namespace morvane::frontend::validate {
namespace {

using support::fill;
using support::plain_number;

constexpr std::string_view kCorrPrefix = "corr_";
constexpr double kCorrelationTolerance = 1e-12;

const ast::Schema* find_schema(const ast::ProgramAst& program, std::string_view name) {
    for (const ast::Schema& schema : program.schemas) {
        if (schema.name == name) return &schema;
    }
    return nullptr;
}

const ast::NodeDef* find_node(const ast::Schema& schema, std::string_view name) {
    for (const ast::NodeDef& node : schema.nodes) {
        if (node.name == name) return &node;
    }
    return nullptr;
}

bool has_attr(const ast::NodeDef& node, std::string_view name) {
    for (const ast::AttrDef& attr : node.attrs) {
        if (attr.name == name) return true;
    }
    return false;
}

bool has_edge(const ast::Schema& schema, std::string_view name) {
    for (const ast::EdgeDef& edge : schema.edges) {
        if (edge.name == name) return true;
    }
    return false;
}

// The correlations declared in one node block, each unordered attribute
// pair once. Both attributes of a pair may declare it; they must agree.
class CorrelationTable {
public:
    CorrelationTable(std::string_view node_type, const Site& site)
        : node_type_(node_type), site_(site) {}

    void enter(std::string_view attr, std::string_view target, double value) {
        const auto key = attr <= target ? std::pair(attr, target) : std::pair(target, attr);
        const auto [slot, inserted] = values_.emplace(key, value);
        if (inserted) return;
        if (std::fabs(slot->second - value) > kCorrelationTolerance) {
            site_.fail(fill("Conflicting Gaussian correlation values for '{}.{}' and '{}.{}': {} vs {}",
                            node_type_, key.first, node_type_, key.second,
                            plain_number(slot->second), plain_number(value)));
        }
        slot->second = value;
    }

private:
    std::string_view node_type_;
    const Site& site_;
    std::map<std::pair<std::string_view, std::string_view>, double> values_;
};

void check_correlations(std::string_view label, std::string_view attr,
                        const ast::PosteriorParams& params, const NameSet& declared,
                        CorrelationTable& table, const Site& site) {
    for (const auto& [name, value] : params) {
        if (!name.starts_with(kCorrPrefix) || name.size() == kCorrPrefix.size()) continue;
        const std::string_view target = std::string_view(name).substr(kCorrPrefix.size());
        if (!declared.contains(target)) {
            site.fail(fill("{} Gaussian correlation '{}' references unknown attribute '{}'", label,
                           name, target));
        }
        if (target == attr && std::fabs(value - 1.0) > kCorrelationTolerance) {
            site.fail(fill("{} Gaussian self-correlation must be 1, got {}", label,
                           plain_number(value)));
        }
        table.enter(attr, target, value);
    }
}

void check_node_block(const ast::BeliefModel& model, const ast::Schema& schema,
                      const ast::NodeBeliefDecl& block, const Site& site) {
    const ast::NodeDef* node = find_node(schema, block.node_type);
    if (!node) {
        site.fail(fill("Node type '{}' not found in schema '{}'", block.node_type, schema.name));
    }
    // A correlation may name an attribute declared further down the block.
    NameSet declared;
    for (const auto& [attr, posterior] : block.attrs) declared.insert(attr);

    NameSet seen;
    CorrelationTable correlations(block.node_type, site);
    for (const auto& [attr, posterior] : block.attrs) {
        if (!has_attr(*node, attr)) {
            site.fail(fill("Attribute '{}.{}' not found in schema '{}'", block.node_type, attr,
                           schema.name));
        }
        if (!seen.insert(attr)) {
            site.fail(fill("Attribute '{}.{}' declared multiple times in belief model '{}'",
                           block.node_type, attr, model.name));
        }
        const std::string label = fill("node attribute '{}.{}'", block.node_type, attr);
        const auto* gaussian = std::get_if<ast::PosteriorType::Gaussian>(&posterior.node);
        if (!gaussian) {
            site.fail(fill("{} must use GaussianPosterior, got {}", label, debug_text(posterior)));
        }
        validate_gaussian_params(label, gaussian->params, site);
        check_correlations(label, attr, gaussian->params, declared, correlations, site);
    }
}

void check_edge_block(const ast::EdgeBeliefDecl& block, const Site& site) {
    const std::string exist_label = fill("edge '{}.exist'", block.edge_type);
    if (const auto* b = std::get_if<ast::PosteriorType::Bernoulli>(&block.exist.node)) {
        validate_bernoulli_params(exist_label, b->params, site);
    } else if (const auto* g = std::get_if<ast::PosteriorType::Gaussian>(&block.exist.node)) {
        validate_gaussian_params(exist_label, g->params, site);
        site.fail(fill("{} must use BernoulliPosterior or CategoricalPosterior for edge existence",
                       exist_label));
    } else {
        validate_categorical(std::get<ast::PosteriorType::Categorical>(block.exist.node), site);
    }
    if (!block.weight) return;
    const std::string weight_label = fill("edge '{}.weight'", block.edge_type);
    const auto* gaussian = std::get_if<ast::PosteriorType::Gaussian>(&block.weight->node);
    if (!gaussian) {
        site.fail(
            fill("{} must use GaussianPosterior, got {}", weight_label, debug_text(*block.weight)));
    }
    validate_gaussian_params(weight_label, gaussian->params, site);
}

}  // namespace

void check_belief_model(const ast::ProgramAst& program, size_t index,
                        const ValidationSourceMap* map) {
    const ast::BeliefModel& model = program.belief_models[index];
    Site site = Site::belief_model(model.name);
    site.at(map, map ? map->belief_model(index) : std::nullopt);

    const ast::Schema* schema = find_schema(program, model.on_schema);
    if (!schema) {
        site.fail(fill("Belief model '{}' references unknown schema '{}'", model.name,
                       model.on_schema));
    }
    for (const ast::NodeBeliefDecl& block : model.nodes) {
        check_node_block(model, *schema, block, site);
    }
    // The existence posterior of the first block of each edge type.
    std::map<std::string_view, const ast::PosteriorType*> first_blocks;
    for (const ast::EdgeBeliefDecl& block : model.edges) {
        if (!has_edge(*schema, block.edge_type)) {
            site.fail(fill("Edge type '{}' not found in schema '{}'", block.edge_type, schema->name));
        }
        check_edge_block(block, site);
        const auto [slot, inserted] = first_blocks.emplace(block.edge_type, &block.exist);
        if (!inserted) {
            site.fail(fill("Edge type '{}' declared multiple times in belief model '{}' (previous: {})",
                           block.edge_type, model.name, debug_text(*slot->second)));
        }
    }
}

}  // namespace morvane::frontend::validate
