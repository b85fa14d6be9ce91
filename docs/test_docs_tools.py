"""The documentation's own tools: the link checker fails on what would break a reader's click, and the
figure writer reads the measuring stages' output as they write it."""

from __future__ import annotations

import importlib.machinery
import importlib.util
import json
from pathlib import Path
from types import ModuleType

import pytest

SCRIPTS = Path(__file__).resolve().parents[1] / "scripts"


def load(name: str) -> ModuleType:
    loader = importlib.machinery.SourceFileLoader(name.replace("-", "_"), str(SCRIPTS / name))
    spec = importlib.util.spec_from_loader(loader.name, loader)
    assert spec is not None
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    return module


links = load("check-docs-links")
figures = load("docs-figures")

PAGE = '<html><body><h1 id="top">t</h1><a name="old"></a>{}</body></html>'


@pytest.mark.parametrize("markup, broken", [
    ('<a href="#top">up</a> <a href="#old">old</a> <a href="#">back to top</a>', []),
    ('<a href="other.html#there">there</a> <a href="sub/">folder</a>', []),
    ('<a href="https://example.com/missing#nowhere">elsewhere</a>', []),  # not fetched
    ('<a href="#gone">gone</a>', ["page.html: #gone: no anchor #gone"]),
    ('<a href="other.html#gone">gone</a>', ["page.html: other.html#gone: no anchor #gone"]),
    ('<a href="missing.html">missing</a>', ["page.html: missing.html: no such file"]),
    ('<img src="_images/missing.svg">', ["page.html: _images/missing.svg: no such file"]),
    ('<a href="../outside.html">outside</a>', ["page.html: ../outside.html: no such file"]),
])
def test_site_links(tmp_path: Path, markup: str, broken: list[str]) -> None:
    site = tmp_path / "html"
    (site / "sub").mkdir(parents=True)
    (site / "page.html").write_text(PAGE.format(markup))
    (site / "other.html").write_text(PAGE.format('<p id="there">x</p>'))
    (site / "sub" / "index.html").write_text(PAGE.format(""))
    (tmp_path / "outside.html").write_text(PAGE.format(""))
    assert links.check_site(site)[3] == broken


@pytest.mark.parametrize("target, broken", [("docs/index.md", False), ("LICENSE", False), ("docs/gone.md", True),
                                            ("https://example.com/", False)])
def test_readme_links(tmp_path: Path, target: str, broken: bool) -> None:
    (tmp_path / "docs").mkdir()
    (tmp_path / "docs" / "index.md").write_text("# x\n")
    (tmp_path / "LICENSE").write_text("")
    readme = tmp_path / "README.md"
    readme.write_text(f"see [the target]({target}).\n")
    assert bool(links.check_readme(readme)[1]) == broken


@pytest.mark.parametrize("value, shown", [(0.2941, "0.294"), (10.3, "10.30"), (447.0, "447.0"),
                                          (1749.74, "1749.7"), (346_233.4, "346,233")])
def test_microseconds(value: float, shown: str) -> None:
    assert figures.microseconds(value) == shown


def test_cookie_table_reads_the_browser_check(tmp_path: Path) -> None:
    log = tmp_path / "browser.log"
    log.write_text(
        "browser: Chromium 156.0.8078.73, headless, fresh profile\n"
        "flask (AES256_GCM): largest accepted session 2924 bytes of JSON; cookie kept by the browser 4013 bytes "
        "(value 4006 characters); one byte more refused on the server\n"
        "flask (XCHACHA20_POLY1305): largest accepted session 2912 bytes of JSON; cookie kept by the browser 4013 "
        "bytes (value 4006 characters); one byte more refused on the server\n")
    text = figures.cookies(log)
    assert "in Chromium 156.0.8078.73, headless" in text
    assert "| Flask | 2,924 bytes | 2,912 bytes | 4,013 bytes | 4,013 bytes |" in text


def test_cookie_table_refuses_a_log_without_results(tmp_path: Path) -> None:
    log = tmp_path / "browser.log"
    log.write_text("browser: Chromium 156, headless\nflask (AES256_GCM): FAILED: the session is sent back\n")
    with pytest.raises(SystemExit):
        figures.cookies(log)


@pytest.mark.parametrize("outcomes, counts", [
    (["killed", "killed", "explained", "stillborn"], "The tests kill 2 of the 2 mutants"),
    (["killed", "survived", "timed out", "identical"], "The tests kill 2 of the 3 mutants"),
])
def test_mutation_counts(tmp_path: Path, outcomes: list[str], counts: str) -> None:
    results = tmp_path / "sample.json"
    results.write_text(json.dumps([{"file": "tessaril/src/x.cc", "outcome": outcome} for outcome in outcomes]))
    text = figures.mutation(results)
    assert counts in text and "seeded sample of 4" in text


def test_revocation_table_reads_the_benchmark(tmp_path: Path) -> None:
    results = tmp_path / "revocation-bench.json"
    conditions = {"date": "2026-12-09 01:38 UTC", "machine": "AMD EPYC, 2 logical processors", "python": "3.14.10",
                  "sqlite": "3.53.4", "command": "bench/revocation.py --json x.json", "seconds_per_row": 2.0}
    row = {"store": "SQLite, synchronous=FULL", "processes": 4, "operation": "consume_once", "calls": 1144,
           "calls_per_second": 572.4, "p50_us": 1374.8, "p99_us": 169634.5}
    results.write_text(json.dumps({"conditions": conditions, "rows": [row]}))
    text = figures.revocation(results)
    assert "*Measured 2026-12-09 on AMD EPYC, 2 logical processors, with `bench/revocation.py --json x.json`.*" in text
    assert "| SQLite, synchronous=FULL | 4 | `consume_once` | 572 | 1374.8 | 169,634 |" in text
    results.write_text(json.dumps({"conditions": conditions, "rows": []}))
    with pytest.raises(SystemExit):
        figures.revocation(results)
