// A small materialisable graph for the binding's tests.
//
//   nodes  0 Person "Alice"  trust (1.5, 4)  age (30, 0)
//          1 Person          trust (-1, 1e-7)
//          2 Company "Acme"  size (100, -2)
//          3 Company
//   edges  0 knows 0->1 Beta(1, 1e6)      pinned absent
//          1 knows 1->0 Beta(1e6, 1)      pinned present
//          2 likes 0->1 Beta(1e6, 1e6)    probability 0.5, not pinned
//          3, 4 works_at 0->2, 0->3       group 0, concentrations (3, 1)
//          5, 6 works_at 1->2, 1->3       group 1, concentrations (2, 2)
// Attributes are (mean, precision).
#pragma once

#include <cstdint>

#include "core/engine/graph.hpp"

namespace morvane::python::test_support {

inline core::engine::BeliefGraph sample_graph() {
    using namespace core::engine;
    BeliefGraph g;
    g.add_node("Person", AttrMap{{"trust", {1.5, 4}}, {"age", {30, 0}}});
    g.add_node("Person", AttrMap{{"trust", {-1, 1e-7}}});
    g.add_node("Company", AttrMap{{"size", {100, -2}}});
    g.add_node("Company", {});
    g.set_node_name(NodeId{0}, "Alice");
    g.set_node_name(NodeId{2}, "Acme");
    g.add_edge(NodeId{0}, NodeId{1}, "knows", 1, 1e6);
    g.add_edge(NodeId{1}, NodeId{0}, "knows", 1e6, 1);
    g.add_edge(NodeId{0}, NodeId{1}, "likes", 1e6, 1e6);
    uint32_t next_edge = 3;
    for (const uint32_t source : {0u, 1u}) {
        const CompetingGroupId group{source};
        const double c = source == 0 ? 3 : 2, d = source == 0 ? 1 : 2;
        g.competing_groups_mut().insert_or_assign(
            group, CompetingEdgeGroup(group, NodeId{source}, "works_at", {NodeId{2}, NodeId{3}},
                                      DirichletPosterior({c, d})));
        for (const std::size_t k : {0u, 1u}) {
            g.insert_edge(EdgeData{EdgePosterior{EdgePosterior::Competing{group, k}},
                                   SharedText("works_at"), EdgeId{next_edge++}, NodeId{source},
                                   NodeId{static_cast<uint32_t>(2 + k)}});
        }
    }
    return g;
}

}  // namespace morvane::python::test_support
