"""Many worker processes over one store: one-time links won exactly once, and
a logout seen by every process."""

from __future__ import annotations

import collections
import json
import time
from pathlib import Path
from typing import Any

import pytest
import worker_processes

PROCESSES = 8
LINKS = 2000


def settings(kind: str, request: pytest.FixtureRequest, tmp_path: Path, namespace: str) -> dict[str, Any]:
    if kind == "sqlite":
        return {"kind": "sqlite", "path": str(tmp_path / "revocations.sqlite3")}
    return {"kind": "redis", "url": request.getfixturevalue("redis_url"), "prefix": f"{namespace}:"}


@pytest.mark.timeout(240)
@pytest.mark.parametrize("kind", ["sqlite", "redis"])
def test_eight_processes_race_for_each_one_time_link(
    kind: str, request: pytest.FixtureRequest, tmp_path: Path, namespace: str
) -> None:
    store = settings(kind, request, tmp_path, namespace)
    # Each process tries every link, in an order of its own.
    results = worker_processes.run_together(
        store, "race", [[str(LINKS), namespace, str(seed)] for seed in range(PROCESSES)], timeout=200
    )
    assert [result["errors"] for result in results] == [[]] * PROCESSES
    wins = collections.Counter(index for result in results for index in result["won"])
    assert sum(wins.values()) == LINKS
    assert sorted(wins) == list(range(LINKS))
    # The links were spread over the processes, not all won by the first to start.
    assert sum(1 for result in results if result["won"]) > 1
    print(f"race on {kind}: {sum(wins.values())} successes of {PROCESSES * LINKS} attempts, "
          f"per process {[len(result['won']) for result in results]}")


@pytest.mark.timeout(120)
@pytest.mark.parametrize("kind", ["sqlite", "redis"])
def test_a_revocation_is_refused_by_every_process(
    kind: str, request: pytest.FixtureRequest, tmp_path: Path, namespace: str
) -> None:
    store_settings = settings(kind, request, tmp_path, namespace)
    sessions = [f"{namespace}-session-{index}" for index in range(200)]
    ids_file = tmp_path / "sessions.txt"
    ids_file.write_text("".join(f"{session}\n" for session in sessions))
    workers = [worker_processes.start(store_settings, "check", str(ids_file)) for _ in range(PROCESSES)]
    try:
        # Every worker has opened its store (its connection, its pool) before the logouts.
        worker_processes.wait_ready(workers)
        store = _parent_store(kind, store_settings)
        until = int(time.time()) + 3600
        revoked = set(sessions[::3])
        for session in revoked:
            store.revoke(session, until)
        for worker in workers:
            worker_processes.go(worker)
        for worker in workers:
            output, _ = worker.communicate(timeout=100)
            assert worker.returncode == 0
            seen = json.loads(output)["revoked"]
            assert seen == [session in revoked for session in sessions]
    finally:
        worker_processes.stop(workers)


def _parent_store(kind: str, store_settings: dict[str, Any]) -> Any:
    if kind == "sqlite":
        from tessarils_web.revocation import SQLiteStore

        return SQLiteStore(store_settings["path"])
    from tessarils_web.revocation import RedisStore

    return RedisStore(store_settings["url"], prefix=store_settings["prefix"])
