"""The README's example runs as written."""
import pathlib
import re

README = pathlib.Path(__file__).resolve().parents[2] / "README.md"


def test_readme_example_runs(capsys):
    blocks = re.findall(r"```python\n(.*?)```", README.read_text(), re.DOTALL)
    assert len(blocks) == 1
    exec(compile(blocks[0], "README.md", "exec"), {})
    out = capsys.readouterr().out.splitlines()
    assert out[:2] == ["['Main']", "1.0"]
    assert abs(float(out[-1]) - 1.15) < 1e-12
