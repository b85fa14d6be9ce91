"""What every revocation store promises, checked on each of the three."""

from __future__ import annotations

import math
import multiprocessing
import sqlite3
import threading
import time
from collections.abc import Callable
from contextlib import closing
from pathlib import Path

import pytest

from tessarils_web.revocation import RevocationStore, StoreUnavailable, entry_key

HOUR = int(time.time()) + 3600
STORE_KINDS = ["memory", "sqlite", "redis"]
# make_store(kind, **settings), from conftest.py.
StoreFactory = Callable[..., RevocationStore]


class FakeClock:
    def __init__(self, now: float) -> None:
        self.now = now

    def __call__(self) -> float:
        return self.now


@pytest.fixture(params=STORE_KINDS)
def kind(request: pytest.FixtureRequest) -> str:
    kind: str = request.param
    return kind


def test_revoke_and_consume(kind: str, make_store: StoreFactory, namespace: str) -> None:
    store = make_store(kind)
    assert isinstance(store, RevocationStore)
    session, other, link = f"{namespace}-session", f"{namespace}-other", f"{namespace}-link"
    assert not store.is_revoked(session)
    store.revoke(session, HOUR)
    store.revoke(session, HOUR)  # a second logout of the same session is no error
    assert store.is_revoked(session)
    assert not store.is_revoked(other)
    assert store.consume_once(link, HOUR)
    assert not store.consume_once(link, HOUR)
    assert store.is_revoked(link)
    # A revoked session cannot then be consumed as if it were unused.
    assert not store.consume_once(session, HOUR)
    # str and its UTF-8 bytes are the same identifier.
    assert store.is_revoked(session.encode())


def test_lapsed_entries_are_gone(kind: str, make_store: StoreFactory, namespace: str) -> None:
    store = make_store(kind, leeway=0)
    past = int(time.time()) - 10
    store.revoke(f"{namespace}-old-session", past)
    assert not store.is_revoked(f"{namespace}-old-session")
    # A lapsed one-time entry is reclaimed by the next caller, once.
    assert store.consume_once(f"{namespace}-link", past)
    assert store.consume_once(f"{namespace}-link", HOUR)
    assert not store.consume_once(f"{namespace}-link", HOUR)


@pytest.mark.parametrize("kind", ["memory", "sqlite"])
def test_entries_live_until_until_plus_leeway(kind: str, make_store: StoreFactory) -> None:
    clock = FakeClock(1_000_000.0)
    store = make_store(kind, leeway=60, clock=clock)
    store.revoke("session", 1_000_100)
    store.revoke("session", 1_000_050)  # an earlier until never shortens the entry
    assert store.consume_once("link", 1_000_100)
    clock.now = 1_000_159.5
    assert store.is_revoked("session")
    assert not store.consume_once("link", 1_000_200)
    clock.now = 1_000_160
    assert not store.is_revoked("session")
    assert store.consume_once("link", 1_000_200)
    assert not store.consume_once("link", 1_000_200)


def test_redis_keys_expire_at_until_plus_leeway(make_store: StoreFactory, namespace: str) -> None:
    store = make_store("redis", leeway=30)
    from tessarils_web.revocation import RedisStore

    assert isinstance(store, RedisStore)
    key = f"{namespace}:{entry_key('session')}"
    store.revoke("session", HOUR)
    assert store.client.expiretime(key) == HOUR + 30
    store.revoke("session", HOUR - 100)
    assert store.client.expiretime(key) == HOUR + 30
    store.revoke("session", HOUR + 100)
    assert store.client.expiretime(key) == HOUR + 130
    assert store.consume_once("link", HOUR)
    assert store.client.expiretime(f"{namespace}:{entry_key('link')}") == HOUR + 30


@pytest.mark.parametrize(
    ("until", "error"),
    [(True, TypeError), ("3600", TypeError), (None, TypeError), (math.nan, ValueError), (math.inf, ValueError),
     (int(time.time() * 1000), ValueError), (-1, ValueError)],
    ids=["bool", "str", "None", "nan", "inf", "milliseconds", "before 1970"],
)
def test_bad_until_is_refused_before_any_write(
    kind: str, make_store: StoreFactory, namespace: str, until: object, error: type[Exception]
) -> None:
    store = make_store(kind)
    for call in (store.revoke, store.consume_once):
        with pytest.raises(error):
            call(f"{namespace}-id", until)  # type: ignore[arg-type]
    assert not store.is_revoked(f"{namespace}-id")
    with pytest.raises(ValueError, match="must not be empty"):
        store.revoke("", HOUR)


def test_float_until_is_rounded_up(kind: str, make_store: StoreFactory, namespace: str) -> None:
    store = make_store(kind, leeway=0)
    # A session expiring within the current second is still revoked in it.
    store.revoke(f"{namespace}-session", time.time() + 0.9)
    assert store.is_revoked(f"{namespace}-session")


def test_threads_consume_each_id_once(kind: str, make_store: StoreFactory, namespace: str) -> None:
    store = make_store(kind)
    ids = [f"{namespace}-link-{index}" for index in range(200)]
    wins: list[str] = []
    barrier = threading.Barrier(8)

    def consume() -> None:
        barrier.wait()
        won = [identifier for identifier in ids if store.consume_once(identifier, HOUR)]
        wins.extend(won)  # list.extend is atomic

    threads = [threading.Thread(target=consume) for _ in range(8)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(timeout=60)
    assert sorted(wins) == sorted(ids)


def _revoke_in_child(store: RevocationStore, identifier: str) -> None:
    store.revoke(identifier, HOUR)
    assert store.consume_once(f"{identifier}-link", HOUR)


@pytest.mark.parametrize("kind", ["sqlite", "redis"])
def test_store_used_before_a_fork_works_in_both_processes(
    kind: str, make_store: StoreFactory, namespace: str, tmp_path: Path
) -> None:
    store = make_store(kind)
    store.revoke(f"{namespace}-before", HOUR)  # the parent's connection is open across the fork
    child = multiprocessing.get_context("fork").Process(target=_revoke_in_child, args=(store, f"{namespace}-child"))
    child.start()
    child.join(timeout=30)
    assert child.exitcode == 0
    # The child's exit closed nothing of the parent's.
    assert store.is_revoked(f"{namespace}-child")
    assert not store.consume_once(f"{namespace}-child-link", HOUR)
    store.revoke(f"{namespace}-after", HOUR)
    assert store.is_revoked(f"{namespace}-before") and store.is_revoked(f"{namespace}-after")
    if kind == "sqlite":
        with closing(sqlite3.connect(tmp_path / "revocations.sqlite3")) as check:
            assert check.execute("PRAGMA integrity_check").fetchall() == [("ok",)]


@pytest.mark.parametrize("kind", ["sqlite", "redis"])
def test_the_store_holds_digests_never_identifiers(
    kind: str, make_store: StoreFactory, tmp_path: Path, namespace: str
) -> None:
    secret = "gAAAA-a-whole-token-that-opens-a-session"
    store = make_store(kind)
    store.revoke(secret, HOUR)
    assert store.consume_once(secret + "-link", HOUR)
    if kind == "sqlite":
        store.close()  # type: ignore[attr-defined]
        held = b"".join(path.read_bytes() for path in tmp_path.glob("revocations.sqlite3*"))
        assert bytes.fromhex(entry_key(secret)) in held
    else:
        from tessarils_web.revocation import RedisStore

        assert isinstance(store, RedisStore)
        keys = store.client.scan_iter(f"{namespace}:*")
        held = b" ".join(key if isinstance(key, bytes) else key.encode() for key in keys)
        assert entry_key(secret).encode() in held
    assert b"whole-token" not in held


def test_sqlite_refuses_a_database_in_memory(tmp_path: Path) -> None:
    from tessarils_web.revocation import SQLiteStore

    for path in (":memory:", "", "file:revocations?mode=memory"):
        with pytest.raises(ValueError, match="MemoryStore"):
            SQLiteStore(path)


@pytest.mark.parametrize("damage", ["missing directory", "not a database"])
def test_sqlite_that_cannot_open_its_file_is_unavailable(tmp_path: Path, damage: str) -> None:
    from tessarils_web.revocation import SQLiteStore

    path = tmp_path / "missing" / "revocations.sqlite3"
    if damage == "not a database":
        path = tmp_path / "revocations.sqlite3"
        path.write_bytes(b"this is not a SQLite file, it is long enough to have a header" * 20)
    with pytest.raises(StoreUnavailable) as raised:
        SQLiteStore(path)
    assert isinstance(raised.value.__cause__, sqlite3.DatabaseError)


def test_sqlite_writer_waits_out_a_lock_then_fails_closed(make_store: StoreFactory, tmp_path: Path) -> None:
    store = make_store("sqlite", busy_timeout=0.2)
    store.revoke("before", HOUR)
    blocker = sqlite3.connect(tmp_path / "revocations.sqlite3", autocommit=True)
    blocker.execute("BEGIN IMMEDIATE")
    try:
        for call in (lambda: store.revoke("during", HOUR), lambda: store.consume_once("link", HOUR)):
            with pytest.raises(StoreUnavailable, match="locked") as raised:
                call()
            assert isinstance(raised.value.__cause__, sqlite3.OperationalError)
        assert store.is_revoked("before")  # readers are never blocked by the writer
    finally:
        blocker.execute("ROLLBACK")
        blocker.close()
    assert store.consume_once("link", HOUR)
    store.revoke("during", HOUR)
    assert store.is_revoked("during")


def test_sqlite_purge_is_bounded_and_keeps_live_rows(make_store: StoreFactory, tmp_path: Path) -> None:
    from tessarils_web.revocation import SQLiteStore

    clock = FakeClock(1_000_000.0)
    store = make_store("sqlite", leeway=0, clock=clock)
    assert isinstance(store, SQLiteStore)
    for index in range(600):
        store.revoke(f"short-{index}", 1_000_010)
    store.revoke("long", 1_100_000)
    clock.now = 1_000_020
    # Writes purge as they go, a bounded batch every so many writes: any run
    # of twice that many writes purges exactly twice.
    for index in range(SQLiteStore.PURGE_EVERY * 2):
        store.consume_once(f"link-{index}", 1_000_030)
    with closing(sqlite3.connect(tmp_path / "revocations.sqlite3")) as check:
        (short,) = check.execute("SELECT count(*) FROM revocations WHERE until <= 1000020").fetchone()
    assert short == 600 - 2 * SQLiteStore.PURGE_BATCH
    assert store.purge_expired(1000) == short
    assert store.purge_expired() == 0
    assert store.is_revoked("long")


def test_memory_purge_reaches_expired_entries_behind_long_lived_ones() -> None:
    from tessarils_web.revocation import MemoryStore

    clock = FakeClock(1_000_000.0)
    store = MemoryStore(leeway=0, clock=clock)
    for index in range(MemoryStore.PURGE_BATCH * 2):
        store.revoke(f"long-{index}", 2_000_000)
    for index in range(1000):
        store.consume_once(f"link-{index}", 1_000_010)
    clock.now = 1_000_020
    for index in range(1000 // MemoryStore.PURGE_BATCH + 1):
        store.revoke(f"new-{index}", 2_000_000)
    assert len(store) == MemoryStore.PURGE_BATCH * 2 + 1000 // MemoryStore.PURGE_BATCH + 1
