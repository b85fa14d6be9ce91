"""What every revocation store offers, and the one way entries are keyed.

A store remembers identifiers (a session id, a one-time link's token) until
an absolute UNIX time. It never holds the identifier itself: entries are
keyed by a SHA-256 digest, so a leaked store hands out nothing that opens.
"""

from __future__ import annotations

import hashlib
import math
from typing import Protocol, runtime_checkable

# Separates revocation keys from any other digest of the same text.
_DOMAIN = b"tessarils-web revocation v1\x00"

# 9999-12-31T23:59:59Z: a later "until" can only be milliseconds passed as seconds.
LATEST_UNTIL = 253_402_300_799

#: Seconds an entry outlives its "until". A link opened just before it expires
#: is consumed a moment later, possibly after "until": without the margin a
#: second request could reclaim the lapsed entry and use the link again. Where
#: another machine's clock decides the expiry (Redis), the margin also covers
#: the skew between the two clocks.
DEFAULT_LEEWAY = 60


class StoreUnavailable(RuntimeError):
    """The revocation store could not be reached or did not answer.

    Raised instead of an answer, so that a caller never takes "unreachable"
    for "not revoked"; sessions and links fail closed on it by default.
    """


def entry_key(identifier: str | bytes) -> str:
    """The hex digest a store keys ``identifier`` by."""
    data = identifier.encode() if isinstance(identifier, str) else bytes(identifier)
    if not data:
        raise ValueError("a revocation identifier must not be empty")
    return hashlib.sha256(_DOMAIN + data).hexdigest()


def until_seconds(until: int | float) -> int:
    """``until`` as whole UNIX seconds (a float is rounded up, never down)."""
    if isinstance(until, bool) or not isinstance(until, (int, float)):
        raise TypeError("until must be a UNIX time in seconds (int or float)")
    if isinstance(until, float):
        if not math.isfinite(until):
            raise ValueError("until must be a finite UNIX time")
        until = math.ceil(until)
    if until > LATEST_UNTIL:
        raise ValueError("until is past the year 9999: pass UNIX seconds, not milliseconds")
    if until < 0:
        raise ValueError("until must be a UNIX time, not before 1970")
    return until


def checked_leeway(leeway: int) -> int:
    """``leeway`` if it is a whole number of seconds, zero or more."""
    if isinstance(leeway, bool) or not isinstance(leeway, int) or leeway < 0:
        raise ValueError("leeway must be a whole number of seconds, zero or more")
    return leeway


@runtime_checkable
class RevocationStore(Protocol):
    """Where revocations live: one process, one machine, or many machines.

    ``until`` is the absolute UNIX time after which the entry may be dropped:
    the expiry of the token or session it stands for, since past it the token
    is refused anyway. Stores keep each entry a configurable leeway past
    ``until`` (a minute by default). Every method raises
    :class:`StoreUnavailable` when the store cannot answer.
    """

    def revoke(self, identifier: str | bytes, until: int | float) -> None:
        """Refuses ``identifier`` from now until ``until``."""
        ...

    def is_revoked(self, identifier: str | bytes) -> bool:
        """Whether ``identifier`` was revoked or consumed and has not yet lapsed."""
        ...

    def consume_once(self, identifier: str | bytes, until: int | float) -> bool:
        """Marks ``identifier`` used; True for exactly one caller, however many race."""
        ...
