"""A revocation store in one process's memory: for a single worker and for tests."""

from __future__ import annotations

import itertools
import threading
import time
from collections.abc import Callable

from .store import entry_key, until_seconds


class MemoryStore:
    """Revocations held in a dict, lost when the process ends.

    Expired entries are purged a bounded number at a time on each write, so
    no call pays for the whole table.
    """

    PURGE_BATCH = 64

    def __init__(self, *, clock: Callable[[], float] = time.time) -> None:
        self._entries: dict[str, int] = {}
        self._lock = threading.Lock()
        self._clock = clock

    def _purge(self, now: float) -> None:
        # The oldest entries, a batch at a time; those still live go to the back, so that
        # long-lived entries at the front never stop the expired ones behind them from going.
        for key in list(itertools.islice(self._entries, self.PURGE_BATCH)):
            until = self._entries.pop(key)
            if until > now:
                self._entries[key] = until

    def revoke(self, identifier: str | bytes, until: int | float) -> None:
        key, until = entry_key(identifier), until_seconds(until)
        with self._lock:
            now = self._clock()
            self._purge(now)
            self._entries[key] = max(until, self._entries.get(key, until))

    def is_revoked(self, identifier: str | bytes) -> bool:
        key = entry_key(identifier)
        with self._lock:
            until = self._entries.get(key)
            return until is not None and until > self._clock()

    def consume_once(self, identifier: str | bytes, until: int | float) -> bool:
        key, until = entry_key(identifier), until_seconds(until)
        with self._lock:
            now = self._clock()
            self._purge(now)
            held = self._entries.get(key)
            if held is not None and held > now:
                return False
            self._entries[key] = until
            return True
