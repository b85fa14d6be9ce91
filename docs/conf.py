"""Sphinx configuration of the documentation site (built by scripts/stage-docs).

The API reference is read from the built module (build/dev/python_module) and,
once it is present, from the web package's sources: never from a copy.
"""

from __future__ import annotations

import sys
from pathlib import Path

REPOSITORY = Path(__file__).resolve().parents[1]
WEB_PACKAGE = REPOSITORY / "tessarils_web" / "src"

sys.path[:0] = [str(REPOSITORY / "build" / "dev" / "python_module"), str(WEB_PACKAGE)]

project = "tessarils"
author = "the tessarils developers"
copyright = "the tessarils developers"  # noqa: A001  (the name Sphinx reads)
release = "3.0.0"

extensions = ["myst_parser", "sphinx.ext.autodoc"]
source_suffix = {".md": "markdown"}
root_doc = "index"
# Generated figures are included into the pages that show them, never built alone.
exclude_patterns = ["_build", "_static", "generated/*", "requirements.txt"]
# The web package's reference page joins the build once the package is there.
if not (WEB_PACKAGE / "tessarils_web" / "__init__.py").is_file():
    exclude_patterns.append("reference/web.md")

nitpicky = True
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
