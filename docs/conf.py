"""Sphinx configuration of the documentation site (built by scripts/stage-docs).

The API reference is read from the built module (build/dev/python_module) and
from the web package's sources: never from a copy.
"""

from __future__ import annotations

import ast
import sys
from pathlib import Path
from typing import Any

REPOSITORY = Path(__file__).resolve().parents[1]
WEB_PACKAGE = REPOSITORY / "tessarils_web" / "src"
STUBS = REPOSITORY / "python_module" / "tessarils.pyi"

sys.path[:0] = [str(REPOSITORY / "build" / "dev" / "python_module"), str(WEB_PACKAGE)]

project = "tessarils"
author = "the tessarils developers"
copyright = "the tessarils developers"  # noqa: A001  (the name Sphinx reads)
release = "3.0.0"

extensions = ["myst_parser", "sphinx.ext.autodoc"]
source_suffix = {".md": "markdown"}
root_doc = "index"
# Generated figures are included into the pages that show them, never built alone.
exclude_patterns = ["_build", "_static", "generated/*", "requirements.txt", "test_docs_tools.py"]

nitpicky = True
# Nothing in this site documents the standard library or the frameworks, so
# their classes in the web package's signatures are shown as plain names
# (Starlette's ASGIApp, an alias, by its bare name).
nitpick_ignore_regex = [("py:class", r"(collections\.abc|datetime|os|starlette|flask|werkzeug|django|redis)\..+"),
                        ("py:class", "ASGIApp")]
myst_heading_anchors = 3
myst_enable_extensions = ["colon_fence"]
autodoc_member_order = "bysource"
autodoc_typehints = "description"

html_theme = "furo"
html_title = "tessarils"
html_static_path = ["_static"]
# A page without an icon makes the browser ask for /favicon.ico, which the site does not have.
html_favicon = "_static/favicon.svg"
html_last_updated_fmt = None
html_copy_source = False
html_show_sourcelink = False


def stub_signatures(stubs: Path) -> dict[str, tuple[str, str]]:
    """The typed signatures of the module's methods, from the stubs that ship with it.

    A method of an extension module tells Python its parameters but not their
    types; the stubs hold those, so the reference shows them from there.
    """
    found: dict[str, tuple[str, str]] = {}
    for node in ast.parse(stubs.read_text(encoding="utf-8")).body:
        if not isinstance(node, ast.ClassDef):
            continue
        for method in node.body:
            if isinstance(method, ast.FunctionDef) and not method.name.startswith("_"):
                arguments = method.args
                arguments.args = arguments.args[1:]  # self
                returns = ast.unparse(method.returns) if method.returns else ""
                found[f"tessarils.{node.name}.{method.name}"] = (f"({ast.unparse(arguments)})", returns)
    return found


def typed_signature(app: Any, what: str, name: str, obj: Any, options: Any, signature: str | None,
                    return_annotation: str | None) -> tuple[str, str] | None:
    return SIGNATURES.get(name) if what == "method" else None


SIGNATURES = stub_signatures(STUBS)


def setup(app: Any) -> None:
    app.connect("autodoc-process-signature", typed_signature)
