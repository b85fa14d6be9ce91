"""Sessions on each framework: lifetime set by the server, rotation, sign-out, sizes and store failures."""

from __future__ import annotations

from dataclasses import dataclass

import pytest
from web_apps import FRAMEWORKS, Options, craft, driver
from web_helpers import START, BrokenStore, Clock, old_ring, rotated_ring

from tessarils_web import KeyState, MemoryStore

MAX_AGE = 3600
pytestmark = pytest.mark.parametrize("framework", FRAMEWORKS)


def signed_in(framework: str, clock: Clock, options: Options | None = None, ring_state: str = "old") -> str:
    ring = old_ring(clock) if ring_state == "old" else rotated_ring(clock)
    reply = driver(framework, ring, options or Options(max_age=MAX_AGE))("POST", "/login", form={"user": "ada"})
    assert reply.status == 200 and reply.token
    return reply.token


def test_sign_in_sets_a_cookie_with_the_server_lifetime(framework: str, clock: Clock) -> None:
    ring = rotated_ring(clock)
    call = driver(framework, ring, Options(max_age=MAX_AGE))
    login = call("POST", "/login", form={"user": "ada"})
    assert login.max_age == MAX_AGE and "secure" in (login.set_cookie or "").lower()
    assert login.token and ring.open(login.token, purpose="session").expires_at == START + MAX_AGE
    home = call("GET", "/", login.token)
    assert (home.status, home.body.strip(), home.token) == (200, "hello, ada", None)  # reading re-seals nothing
    clock.now += 600
    noted = call("POST", "/note", login.token, form={"note": "n"})
    # Changing the session does not extend it.
    assert noted.token and ring.open(noted.token, purpose="session").expires_at == START + MAX_AGE
    clock.now += MAX_AGE
    assert call("GET", "/", noted.token).status == 401


@pytest.mark.parametrize("expires_in", [None, MAX_AGE + 1, 10 * 365 * 86400])
def test_sessions_whose_expiry_the_server_did_not_set_are_refused(framework: str, clock: Clock,
                                                                  expires_in: int | None) -> None:
    ring = rotated_ring(clock)
    expires_at = None if expires_in is None else START + expires_in
    cookie = craft(ring, {"user": "eve"}, issued_at=START, expires_at=expires_at)
    reply = driver(framework, ring, Options(max_age=MAX_AGE))("GET", "/", cookie)
    assert reply.status == 401 and reply.token == ""


@pytest.mark.parametrize(("data", "session_id"), [({"user": "eve"}, ""), ({"user": "eve"}, None)])
def test_payloads_that_are_not_sessions_are_refused(framework: str, clock: Clock, data: object,
                                                    session_id: str | None) -> None:
    ring = old_ring(clock)
    if session_id is None:
        cookie = ring.seal(b"user=eve", purpose="session", ttl=60)  # not JSON
    else:
        cookie = ring.seal_json({"sid": session_id, "iat": START, "data": data}, purpose="session", ttl=60)
    assert driver(framework, ring, Options(max_age=MAX_AGE))("GET", "/", cookie).status == 401


def test_sliding_renewal_stops_at_the_absolute_maximum(framework: str, clock: Clock) -> None:
    ring = old_ring(clock)
    call = driver(framework, ring, Options(max_age=MAX_AGE, absolute_max_age=3 * MAX_AGE))
    token = call("POST", "/login", form={"user": "ada"}).token
    expiries = []
    for _ in range(3):
        clock.now += MAX_AGE - 60
        reply = call("GET", "/", token)
        assert reply.status == 200 and reply.token
        token = reply.token
        expiries.append(ring.open(token, purpose="session").expires_at)
    assert expiries == [START + 2 * MAX_AGE - 60, START + 3 * MAX_AGE - 120, START + 3 * MAX_AGE]
    clock.now += 30
    assert call("GET", "/", token).token is None  # renewal is due only once a minute, and never past the ceiling
    clock.now = START + 3 * MAX_AGE
    assert call("GET", "/", token).status == 401


def test_sign_out_without_a_store_clears_the_cookie_but_a_copy_replays(framework: str, clock: Clock) -> None:
    call = driver(framework, old_ring(clock), Options(max_age=MAX_AGE))
    token = call("POST", "/login", form={"user": "ada"}).token
    assert call("POST", "/logout", token).token == ""
    assert call("GET", "/", token).status == 200  # the stateless threat model: the copy works until it expires


@pytest.mark.parametrize("sign_out", ["/logout", "/forget"])  # clearing the session, or popping its last key
def test_sign_out_with_a_store_revokes_the_session_id(framework: str, clock: Clock, sign_out: str) -> None:
    if sign_out == "/forget" and framework == "django":
        pytest.skip("Django keeps an emptied session under its id, as its own engines do")
    store = MemoryStore(clock=clock)
    call = driver(framework, old_ring(clock), Options(max_age=MAX_AGE, store=store))
    token = call("POST", "/login", form={"user": "ada"}).token
    noted = call("POST", "/note", token, form={"note": "x"}).token  # same session, same id
    assert call("POST", sign_out, token).token == ""
    assert call("GET", "/", token).status == 401
    assert call("GET", "/", noted).status == 401
    again = call("POST", "/login", form={"user": "ada"}).token
    assert call("GET", "/", again).status == 200  # a new sign-in is a new id


def test_sign_out_outlasts_a_renewal_racing_it(framework: str, clock: Clock) -> None:
    store = MemoryStore(clock=clock)
    call = driver(framework, old_ring(clock), Options(max_age=MAX_AGE, absolute_max_age=10 * MAX_AGE, store=store))
    token = call("POST", "/login", form={"user": "ada"}).token
    clock.now += MAX_AGE - 60
    racing = call("GET", "/", token)  # renewed, sent alongside the sign-out: its response lands last
    assert racing.status == 200 and racing.token
    assert call("POST", "/logout", token).token == ""
    clock.now += 120  # past the expiry the sign-out saw, within the renewed one
    assert call("GET", "/", racing.token).status == 401


@pytest.mark.parametrize("behind", [1, 59])
def test_a_server_whose_clock_is_behind_the_signing_one_keeps_the_session(framework: str, clock: Clock,
                                                                          behind: int) -> None:
    ring = old_ring(clock)
    token = driver(framework, ring, Options(max_age=MAX_AGE))("POST", "/login", form={"user": "ada"}).token
    clock.now -= behind  # another worker, or this one after its clock was stepped back
    reply = driver(framework, ring, Options(max_age=MAX_AGE))("GET", "/", token)
    assert reply.status == 200 and reply.token is None


@dataclass
class RecordStore:
    """A store written as a dataclass, as users write them: not hashable."""

    memory: MemoryStore

    def revoke(self, identifier: str | bytes, until: int | float) -> None:
        self.memory.revoke(identifier, until)

    def is_revoked(self, identifier: str | bytes) -> bool:
        return self.memory.is_revoked(identifier)

    def consume_once(self, identifier: str | bytes, until: int | float) -> bool:
        return self.memory.consume_once(identifier, until)


def test_an_unhashable_store_works(framework: str, clock: Clock) -> None:
    call = driver(framework, old_ring(clock), Options(max_age=MAX_AGE, store=RecordStore(MemoryStore(clock=clock))))
    token = call("POST", "/login", form={"user": "ada"}).token
    assert call("POST", "/logout", token).token == ""
    assert call("GET", "/", token).status == 401


def test_store_failure_fails_closed_by_default_and_open_when_set(framework: str, clock: Clock) -> None:
    token = signed_in(framework, clock)
    closed = driver(framework, old_ring(clock), Options(max_age=MAX_AGE, store=BrokenStore()))
    assert closed("GET", "/", token).status == 500
    refused = closed("POST", "/logout", token)
    assert refused.status == 500 and refused.token is None  # a logout that could not revoke does not pretend to
    opened = driver(framework, old_ring(clock), Options(max_age=MAX_AGE, store=BrokenStore(),
                                                        on_store_error="fail_open"))
    assert opened("GET", "/", token).status == 200
    assert opened("POST", "/logout", token).token == ""


def test_oversized_sessions_are_refused_and_the_previous_cookie_kept(framework: str, clock: Clock) -> None:
    call = driver(framework, old_ring(clock), Options(max_age=MAX_AGE))
    token = call("POST", "/login", form={"user": "ada"}).token
    reply = call("POST", "/note", token, form={"note": "x" * 5000})
    assert reply.status == 500 and reply.token is None
    assert call("GET", "/", token).status == 200


@pytest.mark.parametrize(("old_state", "status"), [(KeyState.RETIRED, 200), (KeyState.REVOKED, 401)])
def test_key_states_hold_for_sessions(framework: str, clock: Clock, old_state: KeyState, status: int) -> None:
    token = signed_in(framework, clock)
    reply = driver(framework, rotated_ring(clock, old_state), Options(max_age=MAX_AGE))("GET", "/", token)
    assert reply.status == status
    assert bool(reply.token) is (status == 200)  # a retired key's session is sealed again; a revoked one's deleted
