// BeliefGraph.to_pandas and BeliefGraph.to_networkx on a graph built here,
// whose precisions of 0 and below no program can produce: the exported
// variances are inf and negative. Stand-in packages placed in sys.modules
// record exactly what the exports pass. The exports of flow results, with the
// real packages, are tested from Python (tests/python/test_graph_export.py).
#include <gtest/gtest.h>

#include "core/engine/graph.hpp"
#include "python/graph_views.hpp"
#include "python_embed.hpp"
#include "python_sample_graph.hpp"

namespace morvane::python {
namespace {

using test_support::EmbeddedPython;

// Stand-ins for pandas and networkx, and the rows expected from the sample.
constexpr const char* kFixtures = R"py(
import contextlib, math, sys, types

INF = math.inf

@contextlib.contextmanager
def package(name, module):
    saved = sys.modules.get(name)
    sys.modules[name] = module
    try:
        yield
    finally:
        if saved is None:
            del sys.modules[name]
        else:
            sys.modules[name] = saved

# Frames come as columns; the stand-in turns them back into rows.
def rows_of(data):
    if isinstance(data, list):
        return data
    return [dict(zip(data, values)) for values in zip(*data.values())]

def recording_pandas():
    return types.SimpleNamespace(DataFrame=rows_of)

class RecordingGraph:
    def __init__(self):
        self.calls = []
    def add_node(self, *args, **attrs):
        self.calls.append(("node", args, list(attrs.items())))
    def add_edge(self, *args, **attrs):
        self.calls.append(("edge", args, list(attrs.items())))

def recording_networkx():
    return types.SimpleNamespace(Graph=RecordingGraph)

NODE_ROWS = [
    {"id": "0", "label": "Person", "age_mean": 30.0, "age_var": INF,
     "size_mean": None, "size_var": None, "trust_mean": 1.5, "trust_var": 0.25},
    {"id": "1", "label": "Person", "age_mean": None, "age_var": None,
     "size_mean": None, "size_var": None, "trust_mean": -1.0, "trust_var": 1 / 1e-7},
    {"id": "2", "label": "Company", "age_mean": None, "age_var": None,
     "size_mean": 100.0, "size_var": -0.5, "trust_mean": None, "trust_var": None},
    {"id": "3", "label": "Company", "age_mean": None, "age_var": None,
     "size_mean": None, "size_var": None, "trust_mean": None, "trust_var": None},
]

EDGE_ROWS = [
    {"src": "0", "dst": "1", "type": "knows", "prob": 1 / (1 + 1e6), "forced_state": "absent"},
    {"src": "1", "dst": "0", "type": "knows", "prob": 1e6 / (1e6 + 1), "forced_state": "present"},
    {"src": "0", "dst": "1", "type": "likes", "prob": 0.5, "forced_state": None},
    {"src": "0", "dst": "2", "type": "works_at", "prob": 0.75, "forced_state": None},
    {"src": "0", "dst": "3", "type": "works_at", "prob": 0.25, "forced_state": None},
    {"src": "1", "dst": "2", "type": "works_at", "prob": 0.5, "forced_state": None},
    {"src": "1", "dst": "3", "type": "works_at", "prob": 0.5, "forced_state": None},
]

def edge_call(row):
    return ("edge", (row["src"], row["dst"]),
            [(k, row[k]) for k in ("type", "prob", "forced_state")])
)py";

class GraphExport : public EmbeddedPython {
protected:
    void SetUp() override {
        EmbeddedPython::SetUp();
        scope["g"] = make_belief_graph(test_support::sample_graph());
        scope["empty"] = make_belief_graph(core::engine::BeliefGraph());
        run(kFixtures);
    }
};

TEST_F(GraphExport, PandasRowsHoldTheAttributeUnionInByteOrder) {
    run(R"py(
with package("pandas", recording_pandas()):
    nodes, edges = g.to_pandas()
    assert [list(row.items()) for row in nodes] == [list(row.items()) for row in NODE_ROWS]
    assert [list(row.items()) for row in edges] == [list(row.items()) for row in EDGE_ROWS]
    assert empty.to_pandas() == ([], [])
)py");
}

TEST_F(GraphExport, NetworkxCallsFollowStoreAndAttributeOrder) {
    run(R"py(
with package("networkx", recording_networkx()):
    calls = g.to_networkx().calls
    # Each node's own attributes, in its attribute order (not sorted).
    assert calls[:4] == [
        ("node", ("0",), [("label", "Person"), ("trust_mean", 1.5), ("trust_var", 0.25),
                          ("age_mean", 30.0), ("age_var", INF)]),
        ("node", ("1",), [("label", "Person"), ("trust_mean", -1.0), ("trust_var", 1 / 1e-7)]),
        ("node", ("2",), [("label", "Company"), ("size_mean", 100.0), ("size_var", -0.5)]),
        ("node", ("3",), [("label", "Company")]),
    ]
    assert calls[4:] == [edge_call(row) for row in EDGE_ROWS]
    assert g.to_networkx(None).calls == calls
    # Edges below the threshold are left out, one exactly at it is kept;
    # every node stays.
    kept = g.to_networkx(0.5).calls
    assert kept[:4] == calls[:4]
    assert kept[4:] == [edge_call(row) for row in EDGE_ROWS if row["prob"] >= 0.5]
    assert len(kept) == 4 + 5
    assert g.to_networkx(threshold=2).calls == calls[:4]
    assert empty.to_networkx().calls == []
)py");
}

}  // namespace
}  // namespace morvane::python
