"""Every Python snippet of the README runs as written."""

import builtins
import pathlib
import re
import secrets

import pytest

README = pathlib.Path(__file__).resolve().parents[2] / "README.md"
SNIPPETS = re.findall(r"^```python\n(.*?)^```$", README.read_text(encoding="utf-8"), re.DOTALL | re.MULTILINE)
# A snippet may end on a call that it shows failing: "call()  # ValueError: message".
SHOWN_RAISING = re.compile(r"#\s*(\w+): (.+)$")


@pytest.mark.parametrize("snippet", SNIPPETS, ids=lambda snippet: snippet.split("\n")[-2][:40])
def test_readme_snippet_runs_as_written(monkeypatch, snippet):
    for peer in re.findall(r"^from (cryptography|nacl|flask|django|starlette|fastapi)\b", snippet, re.MULTILINE):
        pytest.importorskip(peer)  # a peer library or web framework this interpreter lacks
    # The web examples read their keys from APP_KEYS, newest first.
    monkeypatch.setenv("APP_KEYS", f"XCHACHA20_POLY1305:{secrets.randbits(128)}")
    *body, last = snippet.rstrip("\n").split("\n")
    namespace = {"__name__": "readme"}
    shown = SHOWN_RAISING.search(last)
    if shown is None:
        exec(compile(snippet, str(README), "exec"), namespace)
        return
    exec(compile("\n".join(body), str(README), "exec"), namespace)
    with pytest.raises(getattr(builtins, shown[1]), match=f"^{re.escape(shown[2])}$"):
        exec(compile(last, str(README), "exec"), namespace)
