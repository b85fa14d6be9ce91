"""Link tokens: own purpose and lifetime, binding to state, consumed once, and the store's failures."""

from __future__ import annotations

import logging
from datetime import timedelta

import pytest

from tessarils_web import (InvalidToken, LinkAlreadyUsed, LinkInvalidated, LinkTokens, MemoryStore, StoreUnavailable,
                           TamperedToken, WrongPurpose)
from web_helpers import START, BrokenStore, Clock, old_ring, rotated_ring


def test_links_carry_claims_for_their_purpose_and_lifetime(clock: Clock) -> None:
    ring = old_ring(clock)
    resets = LinkTokens(ring, "reset-password", timedelta(hours=1))
    token = resets.seal({"user": "ada"})
    assert resets.open(token) == {"user": "ada"}
    assert ring.open(token, purpose="reset-password").expires_at == START + 3600
    with pytest.raises(WrongPurpose):
        LinkTokens(ring, "confirm-email", 60).open(token)
    with pytest.raises(WrongPurpose):
        ring.open(token, purpose="session")  # never a session
    assert LinkTokens(rotated_ring(clock), "reset-password", 3600).open(token) == {"user": "ada"}
    with pytest.raises(ValueError, match="purpose of their own"):
        LinkTokens(ring, "session", 60)


@pytest.mark.parametrize(("sealed_with", "opened_with", "opens"), [
    ("hash-1", "hash-1", True),
    ("hash-1", "hash-2", False),  # the password changed since
    ("hash-1", None, False),
    (None, "hash-1", False),
])
def test_bound_links_open_only_while_the_state_is_unchanged(clock: Clock, sealed_with: str | None,
                                                            opened_with: str | None, opens: bool) -> None:
    links = LinkTokens(old_ring(clock), "reset-password", 3600)
    token = links.seal({"user": "ada"}, bound_to=sealed_with)
    assert "hash-1" not in old_ring(clock).open(token, purpose="reset-password").text()
    if opens:
        assert links.open(token, bound_to=opened_with) == {"user": "ada"}
    else:
        with pytest.raises(LinkInvalidated):
            links.open(token, bound_to=opened_with)


@pytest.mark.parametrize(("sealed_for", "opened_for", "opens"), [(3600, 3600, True), (86400, 3600, False)])
def test_a_link_lives_no_longer_than_the_lifetime_it_is_opened_with(clock: Clock, sealed_for: int, opened_for: int,
                                                                   opens: bool) -> None:
    # Links sealed for a day, then the lifetime cut to an hour (they leaked into a log, say).
    token = LinkTokens(old_ring(clock), "reset-password", sealed_for).seal({"user": "ada"})
    links = LinkTokens(old_ring(clock), "reset-password", opened_for)
    if opens:
        assert links.open(token) == {"user": "ada"}
    else:
        with pytest.raises(InvalidToken):
            links.open(token)


def test_consumed_links_open_once_per_link(clock: Clock) -> None:
    links = LinkTokens(old_ring(clock), "confirm-email", 3600, store=MemoryStore(clock=clock))
    first, second = links.seal({"n": 1}), links.seal({"n": 1})
    assert links.consume(first) == {"n": 1}
    with pytest.raises(LinkAlreadyUsed):
        links.consume(first)
    assert links.consume(second) == {"n": 1}  # same claims, another link
    with pytest.raises(TamperedToken):
        links.consume(first[:-6] + ("AAAA" if first[-6:-2] != "AAAA" else "BBBB") + first[-2:])
    with pytest.raises(RuntimeError, match="needs a revocation store"):
        LinkTokens(old_ring(clock), "confirm-email", 3600).consume(first)


def test_store_failure_refuses_by_default_and_fail_open_logs(clock: Clock, caplog: pytest.LogCaptureFixture) -> None:
    token = LinkTokens(old_ring(clock), "confirm-email", 3600).seal({"n": 1})
    with pytest.raises(StoreUnavailable):
        LinkTokens(old_ring(clock), "confirm-email", 3600, store=BrokenStore()).consume(token)
    lenient = LinkTokens(old_ring(clock), "confirm-email", 3600, store=BrokenStore(), on_store_error="fail_open")
    with caplog.at_level(logging.ERROR, "tessarils_web"):
        assert lenient.consume(token) == {"n": 1}
    assert "fail_open" in caplog.text
    with pytest.raises(ValueError, match="on_store_error"):
        LinkTokens(old_ring(clock), "x", 60, on_store_error="ignore")  # type: ignore[arg-type]

