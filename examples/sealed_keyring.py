"""The keyring the web examples share: several keys of either backend, newest first.

Keys come from one environment variable, newest first, each of either backend:

    APP_KEYS="XCHACHA20_POLY1305:<decimal key> AES256_GCM:<older decimal key>"

The newest key seals; every listed key opens, and the caller learns whether
an older key opened a token, so that it can seal it again with the newest.
"""

from __future__ import annotations

import os
import secrets
from dataclasses import dataclass

from tessarils import Backend, Tessaril

KEYS_ENV = "APP_KEYS"
BACKENDS = {"AES256_GCM": Backend.AES256_GCM, "XCHACHA20_POLY1305": Backend.XCHACHA20_POLY1305}
# Base64url characters of a nonce: 12 bytes under AES-256-GCM, 24 under XChaCha20-Poly1305.
NONCE_CHARS = {"AES256_GCM": 16, "XCHACHA20_POLY1305": 32}
# What a key of the token's backend answers when another key of that backend sealed it.
OTHER_KEY_FAILURE = "the data has been modified"


@dataclass(frozen=True)
class Opened:
    plaintext: bytes
    by_newest_key: bool


@dataclass(frozen=True)
class Key:
    box: Tessaril
    nonce_chars: int


class Keyring:
    """Seals with the newest of several keys and opens with any of them."""

    def __init__(self, keys: list[Key]) -> None:
        if not keys:
            raise ValueError("a keyring needs at least one key")
        self.keys = keys

    @classmethod
    def parse(cls, entries: str) -> Keyring:
        """Builds a keyring from "BACKEND:DECIMAL_KEY" entries separated by spaces or commas, newest first.

        The error messages never repeat the key. The integers parsed here are
        ordinary Python objects and cannot be wiped from memory afterwards.
        """
        keys = []
        for position, entry in enumerate(entries.replace(",", " ").split(), start=1):
            name, _, digits = entry.partition(":")
            if name not in BACKENDS or not (digits.isascii() and digits.isdigit()):
                raise ValueError(f"key entry {position} is not BACKEND:DECIMAL_KEY with BACKEND one of {sorted(BACKENDS)}")
            keys.append(Key(Tessaril(BACKENDS[name], key=int(digits)), NONCE_CHARS[name]))
        return cls(keys)

    @classmethod
    def from_environment(cls) -> Keyring:
        if KEYS_ENV not in os.environ:
            raise RuntimeError(f"set {KEYS_ENV} to one or more BACKEND:DECIMAL_KEY entries, newest first")
        return cls.parse(os.environ[KEYS_ENV])

    def seal(self, plaintext: bytes, expires_at: int, purpose: str) -> str:
        return self.keys[0].box.encrypt(plaintext, expires_at=expires_at, purpose=purpose)

    def open(self, token: str, purpose: str) -> Opened:
        """Opens with the keys of the token's backend, newest first; raises the ValueError of the key that decided.

        A key of the other backend would only say "invalid token" (the nonce
        has the other size), which a key of the right backend also says for
        an authentic but malformed context record: that one comes from the
        key that sealed it and must end the search, so only keys whose nonce
        size the token has are asked. A token whose nonce fits neither is
        refused the same way by every key.
        """
        nonce_chars = len(token.partition(".")[0])
        asked = [(age, key) for age, key in enumerate(self.keys) if key.nonce_chars == nonce_chars]
        asked = asked or [(0, self.keys[0])]
        for count, (age, key) in enumerate(asked, start=1):
            try:
                return Opened(key.box.decrypt_for(token, purpose), by_newest_key=age == 0)
            except ValueError as failure:
                if str(failure) != OTHER_KEY_FAILURE or count == len(asked):
                    raise  # the right key refused it (expired, another purpose, malformed), or no key is left
        raise AssertionError("a keyring is never empty")


def new_key_entry(backend_name: str) -> str:
    return f"{backend_name}:{secrets.randbits(128)}"
