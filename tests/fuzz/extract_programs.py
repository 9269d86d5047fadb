"""Writes the program texts embedded in the tests into a fuzzing corpus.

The tests hold many small programs, each aimed at one corner of the language;
they make a far better starting corpus than the fixtures alone, and copying
them out at fuzz time keeps them in step with the tests. Taken are the
triple-quoted strings of tests/python/*.py and the raw strings R"(...)" and
R"tag(...)tag" of tests/cpp/*.cpp that look like programs (they name a
declaration keyword). A test that builds its program as a model plus a
fragment also yields the fragment joined to each model of its file, so that
the fragment is seen past the validator's first check. Files are named by a
hash of their content, so reruns overwrite instead of piling up.

    python extract_programs.py REPO_ROOT OUT_DIR
"""
import hashlib
import pathlib
import re
import sys

KEYWORDS = re.compile(r"\b(schema|belief_model|evidence|rule|flow)\b")
DECLARES_MODEL = re.compile(r"\bschema\b")
PY_STRING = re.compile(r'[rbf]*"""(.*?)"""', re.S)
CPP_RAW = re.compile(r'R"([^()\\ ]{0,16})\((.*?)\)\1"', re.S)


def python_texts(path):
    return [m.group(1) for m in PY_STRING.finditer(path.read_text(errors="replace"))]


def cpp_texts(path):
    return [m.group(2) for m in CPP_RAW.finditer(path.read_text(errors="replace"))]


def programs(texts):
    texts = [t for t in texts if KEYWORDS.search(t)]
    models = [t for t in texts if DECLARES_MODEL.search(t)]
    out = list(texts)
    for fragment in texts:
        if not DECLARES_MODEL.search(fragment):
            out.extend(model + fragment for model in models[:4])
    return out


def main(root, out_dir):
    root, out_dir = pathlib.Path(root), pathlib.Path(out_dir)
    out_dir.mkdir(parents=True, exist_ok=True)
    written = set()
    sources = [(p, python_texts) for p in sorted((root / "tests/python").glob("*.py"))]
    sources += [(p, cpp_texts) for p in sorted((root / "tests/cpp").glob("*.cpp"))]
    for path, texts in sources:
        for text in programs(texts(path)):
            data = text.encode()
            name = hashlib.sha1(data).hexdigest()
            if name not in written:
                (out_dir / name).write_bytes(data)
                written.add(name)
    print(f"extracted {len(written)} programs into {out_dir}")


if __name__ == "__main__":
    main(*sys.argv[1:])
