"""A revocation store in one process's memory: for a single worker and for tests."""

from __future__ import annotations

import heapq
import threading
import time
from collections.abc import Callable

from .store import DEFAULT_LEEWAY, checked_leeway, entry_key, until_seconds


class MemoryStore:
    """Revocations held in a dict, lost when the process ends.

    Expired entries are purged a bounded number at a time on each write, in
    order of expiry, so no call pays for the whole table and long-lived
    entries never hide expired ones from the purge.
    """

    PURGE_BATCH = 64

    def __init__(self, *, leeway: int = DEFAULT_LEEWAY, clock: Callable[[], float] = time.time) -> None:
        self._entries: dict[str, int] = {}
        # (until, key) for every write; an entry whose until was later raised
        # leaves a stale pair behind, skipped when it comes up.
        self._expiries: list[tuple[int, str]] = []
        self._lock = threading.Lock()
        self._leeway = checked_leeway(leeway)
        self._clock = clock

    def __len__(self) -> int:
        """The number of entries held, lapsed ones not yet purged included."""
        with self._lock:
            return len(self._entries)

    def _purge(self, now: float) -> None:
        for _ in range(self.PURGE_BATCH):
            if not self._expiries or self._expiries[0][0] > now:
                return
            until, key = heapq.heappop(self._expiries)
            if self._entries.get(key) == until:
                del self._entries[key]

    def _hold(self, key: str, until: int) -> None:
        self._entries[key] = until
        heapq.heappush(self._expiries, (until, key))

    def revoke(self, identifier: str | bytes, until: int | float) -> None:
        key, until = entry_key(identifier), until_seconds(until) + self._leeway
        with self._lock:
            self._purge(self._clock())
            held = self._entries.get(key)
            if held is None or held < until:
                self._hold(key, until)

    def is_revoked(self, identifier: str | bytes) -> bool:
        key = entry_key(identifier)
        with self._lock:
            until = self._entries.get(key)
            return until is not None and until > self._clock()

    def consume_once(self, identifier: str | bytes, until: int | float) -> bool:
        key, until = entry_key(identifier), until_seconds(until) + self._leeway
        with self._lock:
            now = self._clock()
            self._purge(now)
            held = self._entries.get(key)
            if held is not None and held > now:
                return False
            self._hold(key, until)
            return True
