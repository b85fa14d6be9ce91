"""The in-memory store's bounded purge reaches every entry, not only the oldest batch."""

from __future__ import annotations

from web_helpers import START, Clock

from tessarils_web import MemoryStore


def test_memory_store_purges_expired_entries_behind_long_lived_ones(clock: Clock) -> None:
    store = MemoryStore(clock=clock)
    for i in range(MemoryStore.PURGE_BATCH):
        store.revoke(f"long-{i}", START + 10**6)
    for i in range(1000):
        store.revoke(f"short-{i}", START + 1)
    clock.now += 2
    for i in range(40):
        store.revoke(f"later-{i}", START + 10)
    assert len(store._entries) < MemoryStore.PURGE_BATCH + 1000 - 500  # not held forever behind the first batch
    assert store.is_revoked("long-0") and not store.is_revoked("short-0")
