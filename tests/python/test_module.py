import importlib
import sys

import morvane


def test_module_doc():
    assert morvane.__doc__ == "morvane Python module definition"


def test_reimport_gives_same_module():
    first = sys.modules.pop("morvane")
    again = importlib.import_module("morvane")
    assert again is first


def test_registration_order():
    public = [name for name in vars(morvane) if not name.startswith("_")]
    assert public == [
        "compile", "run_flow", "run_flow_with_context", "run_flow_with_evidence",
        "Program", "Context", "BeliefGraph", "Evidence", "NodeView", "EdgeView", "CompetingGroup",
    ]
