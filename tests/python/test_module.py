import importlib
import sys

import morvane


def test_module_doc():
    assert morvane.__doc__ == "morvane Python module definition"


def test_reimport_gives_same_module():
    first = sys.modules.pop("morvane")
    again = importlib.import_module("morvane")
    assert again is first
