"""Keys: backends by name, key generation, and ``BACKEND:DECIMAL_KEY`` entries.

Entries are written newest first, separated by spaces or commas; each may
end with ``:retired`` (still opens, its tokens are re-sealed under the
newest key) or ``:revoked`` (opens nothing). Every error names where the
entries came from and why they were refused, and never repeats key text.
"""

from __future__ import annotations

import enum
import os
import re
import secrets
from dataclasses import dataclass

from tessarils import Backend

from .errors import KeyConfigError

BACKENDS: dict[str, Backend] = {"AES256_GCM": Backend.AES256_GCM, "XCHACHA20_POLY1305": Backend.XCHACHA20_POLY1305}
DEFAULT_BACKEND = "XCHACHA20_POLY1305"
KEY_BITS = 128
# A key drawn from a random source is below 2**96 with probability 2**-32:
# a smaller one was typed, counted or derived from something short.
MIN_KEY = 2**96
_NONCE_BYTES = {"AES256_GCM": 12, "XCHACHA20_POLY1305": 24}
# The length of a token's first field, its padded base64url nonce, which tells the backends apart.
NONCE_CHARS = {name: 4 * -(-size // 3) for name, size in _NONCE_BYTES.items()}
_SEPARATORS = re.compile(r"[ ,]+")


class KeyState(enum.Enum):
    """What a listed key may do: seal and open (the newest key, which must be active), open and have what it
    opened sealed again under the newest (``RETIRED``), or nothing (``REVOKED``)."""

    ACTIVE = "active"
    RETIRED = "retired"
    REVOKED = "revoked"


def backend_named(name: str) -> Backend:
    """The ``Backend`` member called ``name`` (``"AES256_GCM"`` or ``"XCHACHA20_POLY1305"``)."""
    try:
        return BACKENDS[name]
    except KeyError:
        raise ValueError(f"unknown backend name; expected one of {', '.join(BACKENDS)}") from None


def backend_name(backend: Backend) -> str:
    return next(name for name, member in BACKENDS.items() if member == backend)


def generate_key() -> int:
    """A fresh random 128-bit key, at least 2**96 so that it passes the entry check."""
    while True:
        key = secrets.randbits(KEY_BITS)
        if key >= MIN_KEY:
            return key


def generate_key_entry(backend: str = DEFAULT_BACKEND) -> str:
    """A ready ``BACKEND:DECIMAL_KEY`` entry for a new key."""
    backend_named(backend)
    return f"{backend}:{generate_key()}"


@dataclass(frozen=True, repr=False)
class KeySpec:
    """One key of a keyring, as configured. ``repr`` shows no key."""

    backend: Backend
    key: int
    state: KeyState = KeyState.ACTIVE

    def __repr__(self) -> str:
        return f"KeySpec({backend_name(self.backend)}, state={self.state.value})"


def parse_entries(text: str, source: str = "key entries") -> list[KeySpec]:
    """The keys listed in ``text``, newest first; raises :class:`KeyConfigError` naming ``source``."""
    try:
        return _parse_entries(text, source)
    except KeyConfigError as error:
        refusal = KeyConfigError(error.source, error.reason)
    # Error reports and trackers print every local of every frame a traceback passes through:
    # the refusal is raised afresh, from here, once the text is gone.
    del text
    raise refusal


def _parse_entries(text: str, source: str) -> list[KeySpec]:
    if not text:
        raise KeyConfigError(source, "is empty; expected BACKEND:DECIMAL_KEY entries, newest first")
    if text != text.strip() or any(c in text for c in "\r\n\t\v\f"):
        raise KeyConfigError(source, "has surrounding whitespace or a newline (a secret file read with its newline?)")
    specs = [_parse_entry(entry, position, source) for position, entry in enumerate(_SEPARATORS.split(text), 1)]
    repeat = repeated_key(specs)
    if repeat is not None:
        raise KeyConfigError(source, f"entry {repeat[1]} repeats the key of entry {repeat[0]}")
    return specs


def _parse_entry(entry: str, position: int, source: str) -> KeySpec:
    where = f"entry {position}"
    if not entry:
        raise KeyConfigError(source, f"{where} is empty")
    fields = entry.split(":")
    if len(fields) not in (2, 3):
        raise KeyConfigError(source, f"{where} is not BACKEND:DECIMAL_KEY[:retired|:revoked]")
    name, digits = fields[0], fields[1]
    if name not in BACKENDS:
        # The name is not echoed: a misplaced key would be printed with it.
        raise KeyConfigError(source, f"{where} names an unknown backend; expected one of {', '.join(BACKENDS)}")
    state = KeyState.ACTIVE
    if len(fields) == 3:
        if fields[2] not in ("retired", "revoked"):
            raise KeyConfigError(source, f"{where} has an unknown state; expected retired or revoked")
        state = KeyState(fields[2])
    if not (digits.isascii() and digits.isdigit()):
        raise KeyConfigError(source, f"{where} has a key that is not a decimal integer")
    key = int(digits)
    problem = key_problem(key)
    if problem is not None:
        raise KeyConfigError(source, f"{where} {problem}")
    return KeySpec(BACKENDS[name], key, state)


def repeated_key(specs: list[KeySpec]) -> tuple[int, int] | None:
    """The positions (from 1) of the first key listed twice, or None.

    A key listed twice opens under its first entry only, so a ``:revoked`` added below it would do nothing.
    """
    for later in range(1, len(specs)):
        for earlier in range(later):
            if specs[earlier].key == specs[later].key:
                return earlier + 1, later + 1
    return None


def key_problem(key: int) -> str | None:
    """Why ``key`` cannot be a key (out of range, or too small to be random), or None; never the key itself."""
    if isinstance(key, bool) or not isinstance(key, int):
        return "has a key that is not an int"
    if not 0 <= key < 2**KEY_BITS:
        return f"has a key out of range (0 to 2**{KEY_BITS} - 1)"
    if key < MIN_KEY:
        return "has a key below 2**96, which cannot have come from a random source"
    return None


def entries_from_environment(variable: str) -> list[KeySpec]:
    """The keys listed in the environment variable ``variable``."""
    source = f"environment variable {variable}"
    if variable not in os.environ:
        raise KeyConfigError(source, "is unset; set it to BACKEND:DECIMAL_KEY entries, newest first "
                                     "(python -m tessarils_web generate-key prints one)")
    return parse_entries(os.environ[variable], source)  # passed on, never held here: see parse_entries
