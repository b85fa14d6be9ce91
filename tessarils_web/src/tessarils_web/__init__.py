"""Keyrings, typed errors, link tokens and sealed-cookie sessions over ``tessarils``.

The framework integrations live in :mod:`tessarils_web.starlette`,
:mod:`tessarils_web.flask` and :mod:`tessarils_web.django` (the session
engine ``SESSION_ENGINE = "tessarils_web.django"``); each imports its
framework only when imported itself.
"""

from .errors import (
    ExpiredToken,
    InvalidExpiry,
    InvalidPurpose,
    InvalidToken,
    KeyConfigError,
    LinkAlreadyUsed,
    LinkInvalidated,
    MalformedToken,
    PayloadTooLarge,
    RandomnessUnavailable,
    RevokedKey,
    TamperedToken,
    TessarilsWebError,
    WrongPurpose,
)
from .keyring import Keyring, Opened
from .keys import KeySpec, KeyState, backend_named, generate_key, generate_key_entry
from .links import LinkTokens
from .revocation import MemoryStore, RevocationStore, StoreUnavailable

__all__ = [
    "ExpiredToken", "InvalidExpiry", "InvalidPurpose", "InvalidToken", "KeyConfigError", "KeySpec", "KeyState",
    "Keyring", "LinkAlreadyUsed", "LinkInvalidated", "LinkTokens", "MalformedToken", "MemoryStore", "Opened",
    "PayloadTooLarge", "RandomnessUnavailable", "RevocationStore", "RevokedKey", "StoreUnavailable",
    "TamperedToken", "TessarilsWebError", "WrongPurpose", "backend_named", "generate_key", "generate_key_entry",
]
