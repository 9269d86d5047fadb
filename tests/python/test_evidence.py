"""The Evidence class: construction, properties, observation methods and
their argument checks. What each method records is covered by
tests/cpp/python_evidence_test.cpp; runs with Evidence by test_runs.py.
"""
import inspect
import re

import pytest

import morvane

EDGE_ARGS = ("Person", "alice", "knows", "Person", "bob")


def test_construction_and_properties():
    ev = morvane.Evidence("run\0time", model="M")
    assert (ev.name, ev.model) == ("run\0time", "M")
    assert ev.name is not ev.name
    assert re.fullmatch(r"<morvane\.Evidence object at 0x[0-9a-f]+>", repr(ev))
    ev.clear()  # on an empty object: nothing happens
    with pytest.raises(AttributeError):
        ev.name = "other"


def test_observation_methods_return_none():
    ev = morvane.Evidence("e", "M")
    assert ev.observe_edge(*EDGE_ARGS, True) is None
    assert ev.observe_edge(*EDGE_ARGS, present=False) is None
    assert ev.observe_edge_chosen(*EDGE_ARGS) is None
    assert ev.observe_edge_unchosen(*EDGE_ARGS) is None
    assert ev.observe_edge_forced_choice(*EDGE_ARGS) is None
    for value in (1.5, 2, True, float("nan")):
        assert ev.observe_numeric("Person", "alice", "trust", value) is None
    assert ev.clear() is None


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda ev: morvane.Evidence("e"),
         "Evidence.__new__() missing 1 required positional argument: 'model'"),
        (lambda ev: morvane.Evidence(),
         "Evidence.__new__() missing 2 required positional arguments: 'name' and 'model'"),
        (lambda ev: morvane.Evidence("e", 1),
         "argument 'model': 'int' object cannot be converted to 'PyString'"),
        (lambda ev: ev.observe_edge(*EDGE_ARGS, 1),
         "argument 'present': 'int' object cannot be converted to 'PyBool'"),
        (lambda ev: ev.observe_edge(*EDGE_ARGS, None),
         "argument 'present': 'NoneType' object cannot be converted to 'PyBool'"),
        (lambda ev: ev.observe_edge(*EDGE_ARGS),
         "Evidence.observe_edge() missing 1 required positional argument: 'present'"),
        (lambda ev: ev.observe_edge_chosen("a", "b", "c"),
         "Evidence.observe_edge_chosen() missing 2 required positional arguments: "
         "'dst_type' and 'dst_id'"),
        (lambda ev: ev.observe_edge_unchosen(*EDGE_ARGS, True),
         "Evidence.observe_edge_unchosen() takes 5 positional arguments but 6 were given"),
        (lambda ev: ev.observe_edge_forced_choice("a", b"b", "c", "d", "e"),
         "argument 'src_id': 'bytes' object cannot be converted to 'PyString'"),
        (lambda ev: ev.observe_numeric("Person", "alice", "trust", "1.0"),
         "argument 'value': must be real number, not str"),
        (lambda ev: ev.observe_numeric("Person", "alice", attribute="trust", value=1.0),
         "Evidence.observe_numeric() got an unexpected keyword argument 'attribute'"),
        (lambda ev: ev.clear(1), "Evidence.clear() takes no arguments (1 given)"),
    ],
)
def test_wrong_calls_raise_type_error(call, message):
    ev = morvane.Evidence("e", "M")
    with pytest.raises(TypeError) as caught:
        call(ev)
    assert str(caught.value) == message


def test_docs_and_signatures():
    cls = morvane.Evidence
    assert cls.__doc__ == "Runtime Evidence builder from Python"
    assert cls.__text_signature__ == "(name, model)"
    assert str(inspect.signature(cls)) == "(name, model)"
    assert cls.name.__doc__ is None and cls.model.__doc__ is None
    edge = "node_type, src_id, edge_type, dst_type, dst_id"
    expected = {
        "observe_edge": (f"($self, {edge}, present)", "Observe independent edge presence/absence"),
        "observe_edge_chosen": (f"($self, {edge})", "Observe a chosen competing edge category"),
        "observe_edge_unchosen": (f"($self, {edge})", "Observe an unchosen competing edge category"),
        "observe_edge_forced_choice": (
            f"($self, {edge})", "Force a deterministic competing edge choice"),
        "observe_numeric": (
            "($self, node_type, node_id, attr, value)", "Observe a numeric node attribute value"),
        "clear": ("($self)", "Clear all observations"),
    }
    for name, (signature, doc) in expected.items():
        method = getattr(cls, name)
        assert (method.__text_signature__, method.__doc__) == (signature, doc), name


def test_new_builds_the_whole_object():
    # __new__ is the constructor: it never hands out an object whose fields
    # were not made, and a second __init__ changes nothing.
    ev = morvane.Evidence.__new__(morvane.Evidence, "e", model="M")
    assert (ev.name, ev.model) == ("e", "M")
    ev.observe_numeric("Person", "alice", "trust", 1.0)
    with pytest.raises(TypeError) as caught:
        morvane.Evidence.__new__(morvane.Evidence)
    assert str(caught.value) == (
        "Evidence.__new__() missing 2 required positional arguments: 'name' and 'model'")
    with pytest.raises(TypeError, match="is not safe"):
        object.__new__(morvane.Evidence)
    ev.__init__("other", "N")
    assert (ev.name, ev.model) == ("e", "M")


def test_evidence_cannot_be_subclassed():
    with pytest.raises(TypeError):
        type("Sub", (morvane.Evidence,), {})
