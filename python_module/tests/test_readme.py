"""Every Python snippet of the README runs as written."""

import builtins
import pathlib
import re

import pytest

README = pathlib.Path(__file__).resolve().parents[2] / "README.md"
SNIPPETS = re.findall(r"^```python\n(.*?)^```$", README.read_text(encoding="utf-8"), re.DOTALL | re.MULTILINE)
# A snippet may end on a call that it shows failing: "call()  # ValueError: message".
SHOWN_RAISING = re.compile(r"#\s*(\w+): (.+)$")


@pytest.mark.parametrize("snippet", SNIPPETS, ids=lambda snippet: snippet.split("\n")[-2][:40])
def test_readme_snippet_runs_as_written(snippet):
    for peer in re.findall(r"^from (cryptography|nacl)\b", snippet, re.MULTILINE):
        pytest.importorskip(peer)  # the bare root has no peer library
    *body, last = snippet.rstrip("\n").split("\n")
    namespace = {"__name__": "readme"}
    shown = SHOWN_RAISING.search(last)
    if shown is None:
        exec(compile(snippet, str(README), "exec"), namespace)
        return
    exec(compile("\n".join(body), str(README), "exec"), namespace)
    with pytest.raises(getattr(builtins, shown[1]), match=f"^{re.escape(shown[2])}$"):
        exec(compile(last, str(README), "exec"), namespace)
