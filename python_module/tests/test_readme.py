"""Every Python code block of the README and of the documentation runs as written."""

import builtins
import os
import pathlib
import re
import secrets

import pytest

REPOSITORY = pathlib.Path(__file__).resolve().parents[2]
DOCS = REPOSITORY / "docs"
# Generated pages hold figures, not code.
PAGES = [REPOSITORY / "README.md",
         *sorted(page for page in DOCS.rglob("*.md") if DOCS / "generated" not in page.parents)]
BLOCK = re.compile(r"^```python\n(.*?)^```$", re.DOTALL | re.MULTILINE)
SNIPPETS = [(page, snippet) for page in PAGES for snippet in BLOCK.findall(page.read_text(encoding="utf-8"))]
# A snippet may end on a call that it shows failing: "call()  # ValueError: message".
SHOWN_RAISING = re.compile(r"#\s*(\w+): (.+)$")
# Libraries a block may need beyond the module: a developer's interpreter may
# lack them, but the documentation stage (TESSARILS_DOCS_STRICT=1) runs every block.
OPTIONAL = re.compile(r"^(?:from|import) (cryptography|nacl|flask|django|starlette|fastapi|tessarils_web|redis)\b",
                      re.MULTILINE)


def snippet_id(item):
    page, snippet = item
    return f"{page.relative_to(REPOSITORY)}:{snippet.rstrip().split(chr(10))[-1][:40]}"


@pytest.mark.parametrize("item", SNIPPETS, ids=[snippet_id(item) for item in SNIPPETS])
def test_documentation_snippet_runs_as_written(monkeypatch, tmp_path, item):
    page, snippet = item
    strict = os.environ.get("TESSARILS_DOCS_STRICT") == "1"
    for library in OPTIONAL.findall(snippet):
        if not strict:
            pytest.importorskip(library)
    # Blocks reach Redis as an application would, through REDIS_URL; the
    # documentation stage starts a server and names it in TESSARILS_REDIS_URL.
    if "REDIS_URL" in snippet:
        server = os.environ.get("TESSARILS_REDIS_URL")
        if not server:
            (pytest.fail if strict else pytest.skip)("TESSARILS_REDIS_URL is not set (scripts/stage-docs sets it)")
        monkeypatch.setenv("REDIS_URL", server)
    # The web examples read their keys from APP_KEYS, newest first.
    monkeypatch.setenv("APP_KEYS", f"XCHACHA20_POLY1305:{secrets.randbits(128)}")
    monkeypatch.chdir(tmp_path)  # what a block writes (a SQLite store's file) stays out of the repository
    *body, last = snippet.rstrip("\n").split("\n")
    namespace = {"__name__": "documentation"}
    shown = SHOWN_RAISING.search(last)
    if shown is None:
        exec(compile(snippet, str(page), "exec"), namespace)
        return
    exec(compile("\n".join(body), str(page), "exec"), namespace)
    with pytest.raises(getattr(builtins, shown[1]), match=f"^{re.escape(shown[2])}$"):
        exec(compile(last, str(page), "exec"), namespace)

