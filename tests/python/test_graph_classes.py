"""The surface of BeliefGraph, NodeView, EdgeView and CompetingGroup as seen
without an instance: docstrings, text signatures, properties, and that none
of them can be created or subclassed from Python. Their behaviour on graphs is
in test_graph_views.py and test_graph_export.py.
"""
import subprocess
import sys

import pytest

import morvane

VIEW_CLASSES = ["BeliefGraph", "NodeView", "EdgeView", "CompetingGroup"]

# (class, method) -> (text signature, doc)
METHODS = {
    ("BeliefGraph", "nodes"): ("($self, label=None)", "Iterate nodes, optionally filtered by label."),
    ("BeliefGraph", "edges"): (
        "($self, edge_type=None)", "Iterate edges, optionally filtered by edge type."),
    ("BeliefGraph", "competing_groups"): (
        "($self, edge_type=None)",
        "Iterate competing edge groups, optionally filtered by edge type."),
    ("BeliefGraph", "to_pandas"): ("($self)", "Export to pandas DataFrames: (nodes_df, edges_df)"),
    ("BeliefGraph", "to_networkx"): (
        "($self, threshold=None)",
        "Export to NetworkX Graph, filtering edges by probability threshold"),
    ("NodeView", "E"): ("($self, attr)", "Expected value of attribute."),
    ("NodeView", "Var"): ("($self, attr)", "Variance (1/precision) of attribute."),
    ("NodeView", "has_attr"): ("($self, attr)", "Whether attribute exists."),
    ("EdgeView", "is_competing"): ("($self)", None),
    ("EdgeView", "is_independent"): ("($self)", None),
    ("CompetingGroup", "winner"): (
        "($self, epsilon=None)",
        "Winner category by max probability; None if tied within epsilon"),
    ("CompetingGroup", "prob_vector"): ("($self)", None),
}

PROPERTIES = {
    "NodeView": ["label", "id", "name"],
    "EdgeView": ["src", "dst", "src_name", "dst_name", "prob", "forced_state", "type"],
    "CompetingGroup": ["source_node", "edge_type", "categories", "probabilities", "entropy"],
}


@pytest.mark.parametrize("name", VIEW_CLASSES)
def test_no_constructor_and_no_subclass(name):
    cls = getattr(morvane, name)
    with pytest.raises(TypeError) as caught:
        cls()
    assert str(caught.value) == f"No constructor defined for {name}"
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})


def test_class_docs():
    assert morvane.BeliefGraph.__doc__ == "BeliefGraph wrapper for inspection and export."
    assert morvane.NodeView.__doc__ == "Read-only node view."
    assert morvane.EdgeView.__doc__ == "Read-only edge view."
    assert morvane.CompetingGroup.__doc__ == "Competing edges group view."


@pytest.mark.parametrize("cls, method", list(METHODS))
def test_method_docs_and_signatures(cls, method):
    signature, doc = METHODS[cls, method]
    function = getattr(getattr(morvane, cls), method)
    assert function.__text_signature__ == signature
    assert function.__doc__ == doc


def test_properties():
    for cls, names in PROPERTIES.items():
        members = vars(getattr(morvane, cls))
        listed = [name for name in members if isinstance(members[name], property)]
        assert listed == names, cls
    assert "id" not in vars(morvane.EdgeView)
    documented = {"name", "src_name", "dst_name"}
    for cls, names in PROPERTIES.items():
        for name in set(names) - documented:
            assert vars(getattr(morvane, cls))[name].__doc__ is None, (cls, name)
    assert morvane.NodeView.name.__doc__ == (
        'Human-readable instance name from evidence (e.g. "Alice"), if set.')
    assert morvane.EdgeView.src_name.__doc__ == (
        'Instance name of the source node from evidence (e.g. "Alice"), if set.')
    assert morvane.EdgeView.dst_name.__doc__ == (
        "Instance name of the destination node from evidence, if set.")


def test_exports_import_their_packages_only_when_called():
    code = "import sys, morvane; print('pandas' in sys.modules, 'networkx' in sys.modules)"
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert out.stdout.split() == ["False", "False"]
