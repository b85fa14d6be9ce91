"""Rotation: which key opens, which refusal moves on to the next key, retired and revoked keys."""

from __future__ import annotations

import pytest
from tessarils import Backend

from tessarils_web import (ExpiredToken, InvalidToken, Keyring, KeySpec, KeyState, MalformedToken, RevokedKey,
                           TamperedToken, WrongPurpose)
from web_helpers import NEW_KEY, OLD_KEY, PAST, START, Clock, old_ring, rotated_ring

THIRD_KEY = NEW_KEY ^ OLD_KEY


@pytest.mark.parametrize("old_backend", [Backend.AES256_GCM, Backend.XCHACHA20_POLY1305])
@pytest.mark.parametrize("old_state", [KeyState.ACTIVE, KeyState.RETIRED])
def test_older_keys_open_and_say_to_reseal_without_extending(clock: Clock, old_backend: Backend,
                                                             old_state: KeyState) -> None:
    before = Keyring([KeySpec(old_backend, OLD_KEY)], clock=clock)
    after = Keyring([KeySpec(Backend.XCHACHA20_POLY1305, NEW_KEY), KeySpec(Backend.AES256_GCM, THIRD_KEY),
                     KeySpec(old_backend, OLD_KEY, old_state)], clock=clock)
    token = before.seal_json({"u": "ada"}, purpose="p", ttl=600)
    value, opened = after.open_json(token, purpose="p")
    assert value == {"u": "ada"}
    assert (opened.key_index, opened.backend, opened.needs_reseal) == (2, old_backend, True)
    assert (opened.purpose, opened.expires_at) == ("p", START + 600)
    clock.now += 100
    rotated = after.rotate(token, purpose="p")
    fresh = after.open(rotated, purpose="p")
    assert (fresh.key_index, fresh.needs_reseal, fresh.expires_at) == (0, False, START + 600)
    assert after.rotate(rotated, purpose="p") is rotated


def test_revoked_keys_open_nothing(clock: Clock) -> None:
    token = old_ring(clock).seal(b"x", purpose="p")
    with pytest.raises(RevokedKey):
        rotated_ring(clock, KeyState.REVOKED).open(token, purpose="p")


@pytest.mark.parametrize(("make", "kind"), [
    (lambda ring: ring.seal(b"x", purpose="other"), WrongPurpose),
    (lambda ring: Keyring([KeySpec(Backend.AES256_GCM, OLD_KEY)], clock=lambda: PAST).seal(b"x", purpose="p", ttl=1),
     ExpiredToken),
    (lambda ring: ring.seal(b"x", purpose="p")[:-1], MalformedToken),
    (lambda ring: "a.b", MalformedToken),
    (lambda ring: Keyring([KeySpec(Backend.AES256_GCM, THIRD_KEY)]).seal(b"x", purpose="p"), TamperedToken),
    (lambda ring: Keyring([KeySpec(Backend.XCHACHA20_POLY1305, THIRD_KEY)]).seal(b"x", purpose="p"), TamperedToken),
])
def test_the_key_that_sealed_decides_and_others_are_tamper(clock: Clock, make: object,
                                                           kind: type[InvalidToken]) -> None:
    token = make(old_ring(clock))  # type: ignore[operator]
    with pytest.raises(kind) as raised:
        rotated_ring(clock).open(token, purpose="p")
    assert isinstance(raised.value, ValueError) and type(raised.value.__cause__) is ValueError


@pytest.mark.parametrize("token", ["\ud800", "\u00e9.AAAA.AAAA"])  # a lone surrogate parsed from JSON; not ASCII
def test_text_that_is_not_ascii_is_a_malformed_token(clock: Clock, token: str) -> None:
    with pytest.raises(MalformedToken):
        rotated_ring(clock).open(token, purpose="p")


def test_refusal_of_a_key_decides_even_when_a_later_key_exists(clock: Clock) -> None:
    # The newest key's own expired token must not be handed to the older keys (they would say "modified").
    clock.now = PAST
    ring = rotated_ring(clock)
    token = ring.seal(b"x", purpose="p", ttl=1)
    with pytest.raises(ExpiredToken):
        ring.open(token, purpose="p")
