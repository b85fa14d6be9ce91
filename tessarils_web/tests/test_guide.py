"""Every Python snippet of the web guide runs as written: users paste them."""

from __future__ import annotations

import os
import re
from pathlib import Path

import pytest

GUIDE = Path(__file__).resolve().parents[2] / "docs" / "guide" / "web.md"
SNIPPETS = re.findall(r"^```python\n(.*?)^```$", GUIDE.read_text(encoding="utf-8"), re.DOTALL | re.MULTILINE)
FRAMEWORK = re.compile(r"^(?:from|import) (fastapi|starlette|flask|django)\b|^SESSION_ENGINE", re.MULTILINE)


def snippet_id(snippet: str) -> str:
    """Named after its framework, so that the stage's runs per framework pick it up."""
    found = FRAMEWORK.search(snippet)
    if found is None:
        return f"core-{SNIPPETS.index(snippet)}"
    name = found[1] or "django-settings"
    return "starlette-fastapi" if name == "fastapi" else name


@pytest.mark.parametrize("snippet", SNIPPETS, ids=snippet_id)
def test_guide_snippet_runs_as_written(monkeypatch: pytest.MonkeyPatch, snippet: str) -> None:
    framework = FRAMEWORK.search(snippet)
    if framework is not None and framework[1]:
        pytest.importorskip(framework[1])
    monkeypatch.setattr(os, "environ", dict(os.environ))  # what a snippet sets stays in it
    exec(compile(snippet, str(GUIDE), "exec"), {"__name__": "guide"})


def test_the_guide_has_its_snippets() -> None:
    assert len(SNIPPETS) >= 8
