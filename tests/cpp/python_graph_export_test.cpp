// BeliefGraph.to_pandas and BeliefGraph.to_networkx. Stand-in packages placed
// in sys.modules record exactly what the exports pass (rows, keys in order,
// calls in order); the real packages check the end result.
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

def recording_pandas():
    return types.SimpleNamespace(DataFrame=lambda rows: rows)

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

TEST_F(GraphExport, RealPackages) {
    run(R"py(
import networkx, pandas
nodes_df, edges_df = g.to_pandas()
assert list(nodes_df.columns) == list(NODE_ROWS[0])
assert list(edges_df.columns) == list(EDGE_ROWS[0])
assert len(nodes_df) == 4 and len(edges_df) == 7
assert list(nodes_df["id"]) == ["0", "1", "2", "3"]
assert nodes_df["age_var"][0] == INF and math.isnan(nodes_df["age_var"][1])
assert list(edges_df["prob"]) == [row["prob"] for row in EDGE_ROWS]
empty_nodes, empty_edges = empty.to_pandas()
assert len(empty_nodes) == 0 and len(empty_edges) == 0

nx = g.to_networkx()
assert isinstance(nx, networkx.Graph) and not nx.is_directed()
assert sorted(nx.nodes) == ["0", "1", "2", "3"]
assert nx.nodes["0"] == {"label": "Person", "trust_mean": 1.5, "trust_var": 0.25,
                         "age_mean": 30.0, "age_var": INF}
# Three edges join 0 and 1; the undirected graph keeps one, with the
# attributes of the last of them in store order.
assert nx.number_of_edges() == 5
assert nx.edges["1", "0"] == {"type": "likes", "prob": 0.5, "forced_state": None}
assert empty.to_networkx().number_of_nodes() == 0
)py");
}

TEST_F(GraphExport, AFailedImportRaisesTheFixedMessage) {
    run(R"py(
class Failing:
    def __init__(self, error):
        self.error = error
    def find_spec(self, name, path=None, target=None):
        if name in ("pandas", "networkx"):
            raise self.error
        return None

def exports_with(name, setup):
    saved = sys.modules.pop(name, None)
    try:
        with setup():
            return (g.to_pandas if name == "pandas" else g.to_networkx)()
    finally:
        if saved is not None:
            sys.modules[name] = saved

@contextlib.contextmanager
def blocked(name):
    with package(name, None):
        yield

def finder(error):
    @contextlib.contextmanager
    def setup():
        hook = Failing(error)
        sys.meta_path.insert(0, hook)
        try:
            yield
        finally:
            sys.meta_path.remove(hook)
    return setup

messages = {
    "pandas": "pandas is not installed. Install with: uv pip install pandas",
    "networkx": "networkx is not installed. Install with: uv pip install networkx",
}
for name, message in messages.items():
    for setup in (lambda: blocked(name), finder(ValueError("broken install"))):
        try:
            exports_with(name, setup)
            raise AssertionError("no error")
        except RuntimeError as e:
            assert type(e) is RuntimeError and str(e) == message, str(e)
    # An interrupt during the import is not a missing package.
    try:
        exports_with(name, finder(KeyboardInterrupt()))
        raise AssertionError("no error")
    except KeyboardInterrupt:
        pass
)py");
}

}  // namespace
}  // namespace morvane::python
