"""Fixtures of the module hardening tests: the LD_PRELOAD shims, built on
first use, and a way to run a snippet in a fresh interpreter."""

import json
import os
import shutil
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

import tessarils
from tessarils import Backend

HERE = Path(__file__).parent
BACKENDS = [Backend.AES256_GCM, Backend.XCHACHA20_POLY1305]


@pytest.fixture(params=BACKENDS, ids=repr)
def backend(request):
    return request.param


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


def run_python(code, *, preload=None, prefix=(), env=None, timeout=120):
    """Runs |code| in a new interpreter (optionally under a command prefix
    such as faketime, or with a shim preloaded) and returns what it printed
    as JSON on its last line."""
    environment = dict(os.environ)
    module_dir = str(Path(tessarils.__file__).parent)
    environment["PYTHONPATH"] = os.pathsep.join([module_dir, str(HERE), environment.get("PYTHONPATH", "")])
    if preload is not None:
        environment["LD_PRELOAD"] = str(preload)
    environment.update(env or {})
    result = subprocess.run([*prefix, sys.executable, "-c", textwrap.dedent(code)], env=environment,
                            capture_output=True, text=True, timeout=timeout)
    if result.returncode != 0:
        pytest.fail(f"child failed ({result.returncode}):\n{result.stderr}")
    return json.loads(result.stdout.strip().splitlines()[-1])
