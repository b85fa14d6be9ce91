"""Fixtures of the revocation stores' tests.

Tests that need Redis read its address from TESSARILS_REDIS_URL, which
scripts/stage-revocation sets after starting a server; on a developer's
machine without it they skip. Tests that kill and restart Redis start a
redis-server of their own beside it. Nothing imports the redis package
before a test that needs Redis runs, so the memory and SQLite tests also run
where it is not installed.
"""

from __future__ import annotations

import os
import uuid
from collections.abc import Callable, Iterator
from pathlib import Path
from typing import TYPE_CHECKING, Any

import pytest

from tessarils_web.revocation import MemoryStore, RevocationStore

if TYPE_CHECKING:
    from own_redis import RedisServer

REDIS_URL = "TESSARILS_REDIS_URL"


def pytest_configure(config: pytest.Config) -> None:
    # Declared here too, so the suite also collects where pytest-timeout is absent.
    config.addinivalue_line("markers", "timeout(seconds): fail the test after this many seconds")


@pytest.fixture
def redis_url() -> str:
    url = os.environ.get(REDIS_URL)
    if not url:
        pytest.skip(f"{REDIS_URL} is not set (scripts/stage-revocation sets it)")
    return url


@pytest.fixture
def namespace() -> str:
    """A prefix of ids and keys of this test's own, as the Redis server is shared."""
    return f"test-{uuid.uuid4().hex}"


@pytest.fixture
def own_redis(redis_url: str, tmp_path: Path) -> Iterator[RedisServer]:
    from own_redis import RedisServer

    server = RedisServer(tmp_path / "redis")
    server.start()
    yield server
    server.stop()


@pytest.fixture
def make_store(
    request: pytest.FixtureRequest, tmp_path: Path, namespace: str
) -> Iterator[Callable[..., RevocationStore]]:
    """Builds a store of a kind with the given settings; closes them at the end."""
    opened: list[Any] = []

    def make(kind: str, **settings: Any) -> RevocationStore:
        store: RevocationStore
        if kind == "memory":
            store = MemoryStore(**settings)
        elif kind == "sqlite":
            from tessarils_web.revocation import SQLiteStore

            store = SQLiteStore(tmp_path / "revocations.sqlite3", **settings)
        else:
            url = request.getfixturevalue("redis_url")  # skips first, where Redis is not set up
            from tessarils_web.revocation import RedisStore

            store = RedisStore(url, prefix=f"{namespace}:", **settings)
        opened.append(store)
        return store

    yield make
    for store in opened:
        if hasattr(store, "close"):
            store.close()
