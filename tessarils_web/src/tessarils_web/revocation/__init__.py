"""Revocation stores: logout that holds, and links that open once."""

from .memory import MemoryStore
from .store import RevocationStore, StoreUnavailable, entry_key

__all__ = ["MemoryStore", "RevocationStore", "StoreUnavailable", "entry_key"]
