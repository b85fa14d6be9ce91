"""Fixtures of the revocation stores' tests.

Tests that need Redis read its address from TESSARILS_REDIS_URL, which
scripts/stage-revocation sets after starting a server; on a developer's
machine without it they skip. Tests that kill and restart Redis start a
redis-server of their own beside it.
"""

from __future__ import annotations

import os
import uuid
from collections.abc import Callable, Iterator
from pathlib import Path
from typing import Any

import pytest
from own_redis import RedisServer

from tessarils_web.revocation import MemoryStore, RevocationStore

REDIS_URL = "TESSARILS_REDIS_URL"
STORE_KINDS = ["memory", "sqlite", "redis"]


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
    server = RedisServer(tmp_path / "redis")
    server.start()
    yield server
    server.stop()


StoreFactory = Callable[..., RevocationStore]


@pytest.fixture
def make_store(request: pytest.FixtureRequest, tmp_path: Path, namespace: str) -> Iterator[StoreFactory]:
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
            from tessarils_web.revocation import RedisStore

            url = request.getfixturevalue("redis_url")
            store = RedisStore(url, prefix=f"{namespace}:", **settings)
        opened.append(store)
        return store

    yield make
    for store in opened:
        if hasattr(store, "close"):
            store.close()
