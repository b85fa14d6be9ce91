"""ttl= and expires_at=: what is accepted, rounded, and refused with a reason."""

from __future__ import annotations

from datetime import UTC, datetime, timedelta, timezone
from typing import Any

import pytest

from tessarils_web import ExpiredToken, InvalidExpiry
from tessarils_web.expiry import LATEST_EXPIRY
from web_helpers import PAST, START, Clock, old_ring


@pytest.mark.parametrize(("arguments", "expected"), [
    ({"ttl": 3600}, START + 3600),
    ({"ttl": 3600.9}, START + 3600),
    ({"ttl": timedelta(hours=1)}, START + 3600),
    ({"expires_at": START + 10}, START + 10),
    ({"expires_at": START + 10.99}, START + 10),  # time.time() + 10
    ({"expires_at": datetime.fromtimestamp(START + 10, UTC)}, START + 10),
    ({"expires_at": datetime.fromtimestamp(START + 10, timezone(timedelta(hours=-5)))}, START + 10),
    ({"expires_at": LATEST_EXPIRY}, LATEST_EXPIRY),
    ({}, None),
])
def test_accepted_expiries_are_what_opening_reports(clock: Clock, arguments: dict[str, Any], expected: int) -> None:
    ring = old_ring(clock)
    assert ring.open(ring.seal(b"x", purpose="p", **arguments), purpose="p").expires_at == expected


@pytest.mark.parametrize(("arguments", "reason"), [
    ({"expires_at": 3600}, "not in the future"),  # meant as a lifetime
    ({"expires_at": START}, "not in the future"),
    ({"expires_at": START * 1000}, "milliseconds"),
    ({"expires_at": float("inf")}, "finite"),
    ({"expires_at": float("nan")}, "finite"),
    ({"expires_at": datetime.fromtimestamp(START + 10)}, "naive"),
    ({"ttl": 0}, "at least one second"),
    ({"ttl": 0.5}, "at least one second"),
    ({"ttl": -timedelta(seconds=5)}, "at least one second"),
    ({"ttl": float("nan")}, "finite"),
    ({"ttl": 10**12}, "milliseconds"),
])
def test_refused_expiries_say_why(clock: Clock, arguments: dict[str, Any], reason: str) -> None:
    with pytest.raises(InvalidExpiry, match=reason):
        old_ring(clock).seal(b"x", purpose="p", **arguments)


@pytest.mark.parametrize("arguments", [{"expires_at": True}, {"ttl": "60"}, {"ttl": 60, "expires_at": START + 60}])
def test_wrong_types_are_type_errors(clock: Clock, arguments: dict[str, Any]) -> None:
    with pytest.raises(TypeError):
        old_ring(clock).seal(b"x", purpose="p", **arguments)


def test_the_module_checks_expiry_against_the_real_clock() -> None:
    ring = old_ring(Clock(PAST))  # a clock far behind: the token's expiry is long past for the module
    with pytest.raises(ExpiredToken):
        ring.open(ring.seal(b"x", purpose="p", ttl=60), purpose="p")
