import importlib
import sys

import morvane


def test_module_doc():
    assert morvane.__doc__ == "morvane Python module definition"


def test_reimport_gives_same_module():
    first = sys.modules.pop("morvane")
    again = importlib.import_module("morvane")
    assert again is first


def test_functions_are_registered_before_classes():
    public = [name for name in vars(morvane) if not name.startswith("_")]
    assert public[:2] == ["compile", "Program"]
