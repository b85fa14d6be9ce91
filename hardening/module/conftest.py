"""Fixture of the module hardening tests: the LD_PRELOAD shims, built on
first use."""

import shutil
import subprocess
from pathlib import Path

import pytest

HERE = Path(__file__).parent


@pytest.fixture(scope="session")
def shims(tmp_path_factory):
    """Paths of the compiled shims, by name."""
    compiler = shutil.which("cc") or shutil.which("gcc")
    if compiler is None:
        pytest.fail("no C compiler to build the LD_PRELOAD shims")
    out = tmp_path_factory.mktemp("shims")
    built = {}
    for source in sorted((HERE / "shims").glob("*.c")):
        library = out / f"{source.stem}.so"
        subprocess.run([compiler, "-shared", "-fPIC", "-O2", "-o", str(library), str(source), "-ldl"], check=True)
        built[source.stem] = library
    return built
