"""Revocation stores: logout that holds, and links that open once.

``SQLiteStore`` and ``RedisStore`` are imported on first use, so that the
package works without the ``redis`` package (and on an interpreter built
without ``sqlite3``) for as long as they are not needed.
"""

from __future__ import annotations

from typing import TYPE_CHECKING

from .memory import MemoryStore
from .store import DEFAULT_LEEWAY, RevocationStore, StoreUnavailable, entry_key

if TYPE_CHECKING:
    from .redis import RedisStore
    from .sqlite import SQLiteStore

__all__ = [
    "DEFAULT_LEEWAY",
    "MemoryStore",
    "RedisStore",
    "RevocationStore",
    "SQLiteStore",
    "StoreUnavailable",
    "entry_key",
]


def __getattr__(name: str) -> object:
    if name == "SQLiteStore":
        from .sqlite import SQLiteStore

        return SQLiteStore
    if name == "RedisStore":
        from .redis import RedisStore

        return RedisStore
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
