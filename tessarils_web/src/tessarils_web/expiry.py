"""Turning ``ttl=`` and ``expires_at=`` into the whole UNIX second a token stops opening."""

from __future__ import annotations

import math
from datetime import datetime, timedelta

from .errors import InvalidExpiry

# 9999-12-31T23:59:59Z: later values are millisecond (or smaller) timestamps by mistake.
LATEST_EXPIRY = 253_402_300_799

#: A lifetime: whole seconds (a float is rounded down) or a ``timedelta``.
Lifetime = int | float | timedelta
#: A moment: UNIX seconds (a float is rounded down) or a timezone-aware ``datetime``.
Instant = int | float | datetime


def seconds(ttl: Lifetime) -> int:
    """A lifetime in whole seconds (a float is rounded down); it must be at least one second."""
    if isinstance(ttl, bool) or not isinstance(ttl, (int, float, timedelta)):
        raise TypeError("ttl must be seconds (int or float) or a timedelta")
    value = ttl.total_seconds() if isinstance(ttl, timedelta) else ttl
    if not math.isfinite(value):
        raise InvalidExpiry("ttl must be finite")
    whole = math.floor(value)
    if whole < 1:
        raise InvalidExpiry("ttl must be at least one second")
    return whole


def resolve(*, ttl: Lifetime | None, expires_at: Instant | None, now: float) -> int | None:
    """The expiry as whole UNIX seconds, or None for a token that never expires.

    At most one of ``ttl`` and ``expires_at``. An expiry at or before ``now``
    is refused: ``expires_at=3600`` meant as an hour would seal a token that
    has already expired.
    """
    if ttl is not None and expires_at is not None:
        raise TypeError("pass ttl or expires_at, not both")
    if ttl is not None:
        moment = math.floor(now) + seconds(ttl)
    elif expires_at is not None:
        moment = instant(expires_at)
    else:
        return None
    if moment > LATEST_EXPIRY:
        raise InvalidExpiry("expiry is after the year 9999: pass seconds, not milliseconds")
    if moment <= now:
        raise InvalidExpiry("expiry is not in the future (for a lifetime, pass ttl=)")
    return moment


def instant(expires_at: Instant) -> int:
    """An absolute time as whole UNIX seconds (a float is rounded down)."""
    if isinstance(expires_at, bool) or not isinstance(expires_at, (int, float, datetime)):
        raise TypeError("expires_at must be UNIX seconds (int or float) or a timezone-aware datetime")
    if isinstance(expires_at, datetime):
        if expires_at.tzinfo is None or expires_at.utcoffset() is None:
            raise InvalidExpiry("expires_at is a naive datetime; give it a timezone (datetime.now(UTC) + ...)")
        return math.floor(expires_at.timestamp())
    if isinstance(expires_at, float) and not math.isfinite(expires_at):
        raise InvalidExpiry("expires_at must be finite")
    whole = math.floor(expires_at)
    if whole > LATEST_EXPIRY:
        raise InvalidExpiry("expires_at is after the year 9999: pass seconds, not milliseconds")
    return whole
