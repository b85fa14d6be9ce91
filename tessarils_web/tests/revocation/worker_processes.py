"""Starts store_worker.py processes, releases them together, and collects what they print."""

from __future__ import annotations

import json
import os
import subprocess
import sys
import time
from pathlib import Path
from typing import Any

import tessarils_web.revocation

WORKER = Path(__file__).with_name("store_worker.py")
# The package as this test imported it, first on the workers' path too.
PACKAGE_SOURCE = str(Path(tessarils_web.revocation.__file__).parents[2])


def start(settings: dict[str, Any], task: str, *arguments: str) -> subprocess.Popen[str]:
    environment = dict(os.environ)
    environment["PYTHONPATH"] = os.pathsep.join(filter(None, [PACKAGE_SOURCE, environment.get("PYTHONPATH")]))
    return subprocess.Popen(
        [sys.executable, str(WORKER), json.dumps(settings), task, *arguments],
        stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, env=environment,
    )


def wait_ready(workers: list[subprocess.Popen[str]]) -> None:
    for worker in workers:
        assert worker.stdout is not None
        line = worker.stdout.readline()
        assert line == "ready\n", f"worker {worker.pid} did not start: {line!r}"


def go(worker: subprocess.Popen[str]) -> None:
    assert worker.stdin is not None
    worker.stdin.write("go\n")
    worker.stdin.close()


def run_together(settings: dict[str, Any], task: str, arguments: list[list[str]], timeout: float) -> list[Any]:
    """One worker per entry of ``arguments``, all started before any runs; their JSON results."""
    workers = [start(settings, task, *each) for each in arguments]
    try:
        wait_ready(workers)
        for worker in workers:
            go(worker)
        deadline = time.monotonic() + timeout
        results = []
        for worker in workers:
            output, _ = worker.communicate(timeout=max(deadline - time.monotonic(), 1))
            assert worker.returncode == 0, f"worker {worker.pid} failed with {worker.returncode}"
            results.append(json.loads(output))
        return results
    finally:
        stop(workers)


def stop(workers: list[subprocess.Popen[str]]) -> None:
    """Kills the workers still running and closes every pipe."""
    for worker in workers:
        if worker.poll() is None:
            worker.kill()
        worker.wait()
        for pipe in (worker.stdin, worker.stdout):
            if pipe is not None and not pipe.closed:
                pipe.close()
