"""Crashes and outages: what was acknowledged survives, and an unreachable
store refuses instead of answering "not revoked"."""

from __future__ import annotations

import signal
import sqlite3
import threading
import time
from collections.abc import Callable
from contextlib import closing
from pathlib import Path
from typing import TYPE_CHECKING

import pytest
import worker_processes

from tessarils_web.revocation import StoreUnavailable

if TYPE_CHECKING:
    from own_redis import RedisServer

UNTIL = int(time.time()) + 3600


@pytest.mark.timeout(120)
def test_redis_killed_keeps_every_acknowledged_revocation(own_redis: RedisServer, namespace: str) -> None:
    from tessarils_web.revocation import RedisStore

    store = RedisStore(own_redis.url, prefix=f"{namespace}:")
    revoked: list[str] = []
    consumed: list[str] = []
    endings: list[BaseException] = []
    stop = threading.Event()

    def write(writer: int) -> None:
        index = 0
        try:
            while not stop.is_set():
                session, link = f"session-{writer}-{index}", f"link-{writer}-{index}"
                store.revoke(session, UNTIL)
                revoked.append(session)
                if store.consume_once(link, UNTIL):
                    consumed.append(link)
                index += 1
        except BaseException as error:
            endings.append(error)

    # Four writers, so that writes are in flight on several connections at the kill.
    writers = [threading.Thread(target=write, args=(writer,), daemon=True) for writer in range(4)]
    for thread in writers:
        thread.start()
    deadline = time.monotonic() + 60
    while len(revoked) < 2000 and time.monotonic() < deadline:
        time.sleep(0.01)
    own_redis.kill()
    for thread in writers:
        thread.join(timeout=30)
    stop.set()
    assert len(endings) == 4 and all(isinstance(error, StoreUnavailable) for error in endings), endings

    own_redis.start()
    assert len(revoked) >= 2000
    missing = [session for session in revoked if not store.is_revoked(session)]
    reusable = [link for link in consumed if store.consume_once(link, UNTIL)]
    print(f"Redis SIGKILL: {len(revoked)} acknowledged revocations and {len(consumed)} consumed links, "
          f"{len(missing)} lost, {len(reusable)} usable again after the restart")
    assert missing == [] and reusable == []
    store.close()


def _stop(server: RedisServer) -> Callable[[], None]:
    server.kill()
    return server.start


def _freeze(server: RedisServer) -> Callable[[], None]:
    # Connections still open, no reply ever comes: the store's timeout ends each call.
    assert server.process is not None
    server.process.send_signal(signal.SIGSTOP)
    process = server.process
    return lambda: process.send_signal(signal.SIGCONT)


@pytest.mark.timeout(60)
@pytest.mark.parametrize(
    ("outage", "cause"), [(_stop, "ConnectionError"), (_freeze, "TimeoutError")], ids=["down", "hung"]
)
def test_redis_outage_fails_closed_then_recovers(
    own_redis: RedisServer,
    namespace: str,
    outage: Callable[[RedisServer], Callable[[], None]],
    cause: str,
) -> None:
    import redis

    from tessarils_web.revocation import RedisStore

    store = RedisStore(own_redis.url, prefix=f"{namespace}:", timeout=0.5)
    store.revoke("logged-out", UNTIL)
    assert store.consume_once("used-link", UNTIL)

    recover = outage(own_redis)
    calls: list[Callable[[], object]] = [
        lambda: store.is_revoked("logged-out"),
        lambda: store.is_revoked("never-revoked"),
        lambda: store.consume_once("link-during-outage", UNTIL),
        lambda: store.revoke("logout-during-outage", UNTIL),
    ]
    for call in calls:
        with pytest.raises(StoreUnavailable) as raised:
            call()
        assert isinstance(raised.value.__cause__, getattr(redis, cause))
    recover()

    deadline = time.monotonic() + 20
    while True:
        try:
            assert store.is_revoked("logged-out")
            break
        except StoreUnavailable:
            assert time.monotonic() < deadline, "the store did not recover"
            time.sleep(0.1)
    assert not store.is_revoked("never-revoked")
    assert not store.consume_once("used-link", UNTIL)
    assert store.consume_once("link-after-outage", UNTIL)
    store.revoke("logout-after-outage", UNTIL)
    assert store.is_revoked("logout-after-outage")
    store.close()


@pytest.mark.timeout(60)
def test_redis_out_of_memory_refuses_writes_and_keeps_answering_checks(
    own_redis: RedisServer, namespace: str
) -> None:
    import redis

    from tessarils_web.revocation import RedisStore

    store = RedisStore(own_redis.url, prefix=f"{namespace}:")
    store.revoke("logged-out", UNTIL)
    # Full, and no eviction: a write would otherwise have to drop a revocation.
    store.client.config_set("maxmemory-policy", "noeviction")
    store.client.config_set("maxmemory", "1")
    for call in (lambda: store.revoke("logout-when-full", UNTIL), lambda: store.consume_once("link", UNTIL)):
        with pytest.raises(StoreUnavailable) as raised:
            call()
        assert isinstance(raised.value.__cause__, redis.exceptions.OutOfMemoryError)
    assert store.is_revoked("logged-out")
    store.client.config_set("maxmemory", "0")
    assert store.consume_once("link", UNTIL)
    store.close()


@pytest.mark.timeout(180)
def test_sqlite_writer_killed_mid_writes_leaves_every_commit(tmp_path: Path, namespace: str) -> None:
    from tessarils_web.revocation import SQLiteStore

    path = tmp_path / "revocations.sqlite3"
    settings = {"kind": "sqlite", "path": str(path)}
    revoked: list[str] = []
    consumed: list[str] = []
    # Killed after different amounts of work, so that some kills fall on a
    # write-ahead log that is due for a checkpoint.
    for round, acknowledged in enumerate((150, 600, 1200)):
        writer = worker_processes.start(settings, "write", f"{namespace}-{round}")
        try:
            worker_processes.wait_ready([writer])
            worker_processes.go(writer)
            assert writer.stdout is not None
            lines: list[str] = []
            while len(lines) < acknowledged:
                line = writer.stdout.readline()
                assert line, f"the writer ended early with {writer.wait()}"
                lines.append(line)
            writer.send_signal(signal.SIGKILL)
            writer.wait(timeout=20)
            lines += writer.stdout.readlines()  # acknowledged before the kill, still in the pipe
        finally:
            worker_processes.stop([writer])
        assert Path(f"{path}-wal").exists(), "the writer was killed with its log open"
        for line in lines:
            what, index = line.split()
            (revoked if what == "revoked" else consumed).append(
                f"{namespace}-{round}-{'session' if what == 'revoked' else 'link'}-{index}"
            )

    with closing(sqlite3.connect(path)) as check:
        assert check.execute("PRAGMA integrity_check").fetchall() == [("ok",)]
    store = SQLiteStore(path)
    missing = [session for session in revoked if not store.is_revoked(session)]
    reusable = [link for link in consumed if store.consume_once(link, UNTIL)]
    print(f"SQLite SIGKILL x3: {len(revoked)} acknowledged revocations and {len(consumed)} consumed links, "
          f"{len(missing)} lost, {len(reusable)} usable again; integrity_check ok")
    assert missing == [] and reusable == []
