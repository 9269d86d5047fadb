import inspect
import pathlib

import pytest

import morvane
from beside import run_beside

FIXTURES = pathlib.Path(__file__).resolve().parents[1] / "fixtures" / "programs"

SOCIAL = (FIXTURES / "social_trust.mv").read_text()


def test_compile_lists_declarations_in_source_order():
    program = morvane.compile(SOCIAL)
    assert program.get_flow_names() == ["Main"]
    assert program.get_schema_names() == ["Social"]
    assert program.get_belief_model_names() == ["SocialBeliefs"]
    assert repr(program) == "Program(schemas=1, models=1, evidences=1, rules=2, flows=1)"
    # Every call returns a new list.
    assert program.get_flow_names() is not program.get_flow_names()


def test_every_fixture_compiles():
    for path in sorted(FIXTURES.glob("*.mv")):
        assert isinstance(morvane.compile(path.read_text()), morvane.Program), path.name


def test_name_lists_keep_duplicates_and_order():
    source = """
        schema S {}
        schema S {}
        flow B on M {}
        flow A on M {}
        flow B on M {}
    """
    program = morvane.compile(source)
    assert program.get_schema_names() == ["S", "S"]
    assert program.get_flow_names() == ["B", "A", "B"]
    assert program.get_belief_model_names() == []


def test_empty_program():
    assert repr(morvane.compile("  // nothing\n")) == (
        "Program(schemas=0, models=0, evidences=0, rules=0, flows=0)"
    )


def test_syntax_error_is_a_parse_error():
    with pytest.raises(ValueError) as caught:
        morvane.compile("schema A {} /* open")
    assert str(caught.value) == (
        "Parse error:  --> 1:13\n"
        "  |\n"
        "1 | schema A {} /* open\n"
        "  |             ^---\n"
        "  |\n"
        "  = expected EOI, kw_schema_tok, kw_belief_model_tok, kw_evidence_tok, kw_rule_tok, "
        "or kw_flow_tok"
    )


def test_failed_check_is_a_validation_error():
    source = (
        "schema A {\n  node B { x: Real }\n}\n"
        "belief_model M on A {\n  node B { x ~ Gaussian(mean = 0, precision = -1) }\n}\n"
    )
    with pytest.raises(ValueError) as caught:
        morvane.compile(source)
    assert str(caught.value) == (
        "Validation error: validation error [belief_model 'M']: node attribute 'B.x' "
        "GaussianPosterior 'prior_precision' must be > 0, got -1 (at 4:1-6:2)"
    )


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: morvane.compile(), "compile() missing 1 required positional argument: 'source'"),
        (lambda: morvane.compile(1), "argument 'source': 'int' object cannot be converted to 'PyString'"),
        (lambda: morvane.compile(b"schema A {}"),
         "argument 'source': 'bytes' object cannot be converted to 'PyString'"),
        (lambda: morvane.compile("", ""), "compile() takes 1 positional arguments but 2 were given"),
        (lambda: morvane.compile(text=""), "compile() got an unexpected keyword argument 'text'"),
        (lambda: morvane.compile("", source=""), "compile() got multiple values for argument 'source'"),
        (lambda: morvane.Program(), "No constructor defined for Program"),
        (lambda: morvane.compile("").get_flow_names(1),
         "Program.get_flow_names() takes no arguments (1 given)"),
    ],
)
def test_wrong_calls_raise_type_error(call, message):
    with pytest.raises(TypeError) as caught:
        call()
    assert str(caught.value) == message


def test_source_by_keyword():
    assert morvane.compile(source="schema S {}").get_schema_names() == ["S"]


def test_program_cannot_be_subclassed():
    with pytest.raises(TypeError):
        type("Sub", (morvane.Program,), {})


def test_docstrings_and_signatures():
    assert morvane.compile.__doc__ == (
        "Compile a Morvane source string into a Program.\n\n"
        "Releases the GIL while parsing and validating."
    )
    assert str(inspect.signature(morvane.compile)) == "(source)"
    assert morvane.Program.__doc__ == (
        "Python-visible Program wrapper holding an immutable AST.\n\n"
        "Methods provide discovery of flow names, schema names, and belief models."
    )
    assert morvane.Program.get_flow_names.__doc__ == "List all flow names defined in the program"
    assert morvane.Program.get_schema_names.__doc__ == "List all schema names defined in the program"
    assert morvane.Program.get_belief_model_names.__doc__ == (
        "List all belief model names defined in the program"
    )


def test_other_threads_run_while_compiling():
    # About 4 MB of declarations: long enough to observe another thread.
    decls = "".join(
        f"schema S{i} {{ node N {{ a: Real; b: Real }} edge e {{}} }}\n"
        f"belief_model M{i} on S{i} {{ node N {{ a ~ Gaussian(mean = 0, precision = 1) }} "
        f"edge e {{ exist ~ Bernoulli(prior = 0.5) }} }}\n"
        for i in range(25000)
    )
    program, ticks = run_beside(lambda: morvane.compile(decls))
    assert len(program.get_schema_names()) == 25000
    assert ticks > 100
