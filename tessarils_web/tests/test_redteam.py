"""The red team's findings against the copied examples, each a regression test on every framework.

1. A session lives as long as its token says.
2. Rotation to a longer backend breaks every request of a large session.
3. A racing read re-seals a session that logout is ending.
5. Cross-site POSTs sign a user in.
And the review's: a payload sealed without naming a purpose opened as a session
(the keyring's default purpose was the sessions'), and a cross-site WebSocket
handshake carried the session past the same-origin check.
(4, reset links handed to anyone, is a fault of the Django example and is tested with it.)
"""

from __future__ import annotations

import json
import logging

import pytest
from web_apps import FRAMEWORKS, Options, craft, driver
from web_helpers import START, Clock, new_ring, old_ring, rotated_ring

from tessarils_web import Keyring
from tessarils_web.sessions import SessionCodec

from tessarils_web import MemoryStore

MAX_AGE = 12 * 3600
TEN_YEARS = 10 * 365 * 86400


@pytest.mark.parametrize("framework", FRAMEWORKS)
@pytest.mark.parametrize("expires_at", [START + TEN_YEARS, None], ids=["ten-years", "no-expiry"])
def test_redteam_old_key_session_cannot_outlive_rotation(framework: str, clock: Clock, expires_at: int | None) -> None:
    # Whoever holds the old key (leaked: the reason to rotate) mints a long session under it.
    minted = craft(old_ring(clock), {"user": "eve"}, issued_at=START, expires_at=expires_at)
    reply = driver(framework, rotated_ring(clock), Options(max_age=MAX_AGE))("GET", "/", minted)
    assert reply.status == 401 and reply.token == ""  # refused, and nothing re-sealed under the newest key
    # A genuine old-key session is carried over with its own end, which then holds after the old key goes.
    genuine = craft(old_ring(clock), {"user": "ada", "_permanent": True}, issued_at=START, expires_at=START + 600)
    carried = driver(framework, rotated_ring(clock), Options(max_age=MAX_AGE))("GET", "/", genuine)
    assert carried.status == 200 and carried.token and carried.max_age is not None and carried.max_age <= 600
    assert new_ring(clock).open(carried.token, purpose="session").expires_at == START + 600
    clock.now += 600
    assert driver(framework, new_ring(clock), Options(max_age=MAX_AGE))("GET", "/", carried.token).status == 401


@pytest.mark.parametrize("framework", FRAMEWORKS)
def test_redteam_rotation_to_longer_backend_never_breaks_requests(framework: str, clock: Clock,
                                                                 caplog: pytest.LogCaptureFixture) -> None:
    before = driver(framework, old_ring(clock), Options(max_age=MAX_AGE))
    token = before("POST", "/login", form={"user": "ada"}).token
    low, high, largest = 0, 4096, token
    while low < high:  # the largest note that still fits a cookie under the old key
        middle = (low + high + 1) // 2
        reply = before("POST", "/note", token, form={"note": "x" * middle})
        if reply.status == 200:
            low, largest = middle, reply.token
        else:
            assert reply.status == 500 and reply.token is None
            high = middle - 1
    assert 2500 < low < 4096 and largest
    after = driver(framework, rotated_ring(clock), Options(max_age=MAX_AGE))
    with caplog.at_level(logging.DEBUG, "tessarils_web"):
        replies = [after("GET", "/", largest) for _ in range(3)]
    # The old cookie is kept as it is (Django's middleware sends the same value back).
    assert all(r.status == 200 and r.token in (None, largest) for r in replies)
    warnings = [r for r in caplog.records if r.levelno >= logging.WARNING and "would not fit" in r.getMessage()]
    assert len(warnings) <= 1  # logged once per process, not per request
    assert any("would not fit" in r.getMessage() for r in caplog.records)


@pytest.mark.parametrize("framework", FRAMEWORKS)
def test_redteam_racing_read_cannot_undo_logout(framework: str, clock: Clock) -> None:
    store = MemoryStore(clock=clock)
    old_cookie = driver(framework, old_ring(clock), Options(max_age=MAX_AGE))(
        "POST", "/login", form={"user": "ada"}).token
    call = driver(framework, rotated_ring(clock), Options(max_age=MAX_AGE, store=store))
    racing_read = call("GET", "/", old_cookie)  # sent alongside the logout, its response lands last
    assert racing_read.status == 200 and racing_read.token
    assert call("POST", "/logout", old_cookie).token == ""
    assert call("GET", "/", racing_read.token).status == 401
    assert call("GET", "/", old_cookie).status == 401


@pytest.mark.parametrize("framework", ["flask", "starlette"])
@pytest.mark.parametrize("headers", [{"Sec-Fetch-Site": "cross-site"}, {"Sec-Fetch-Site": "same-site"},
                                     {"Origin": "https://evil.example"}, {"Origin": "null"}])
def test_redteam_cross_site_login_is_refused(framework: str, clock: Clock, headers: dict[str, str]) -> None:
    call = driver(framework, old_ring(clock))
    reply = call("POST", "/login", form={"user": "eve"}, headers=headers)
    assert reply.status == 403 and reply.token is None
    assert call("POST", "/login", form={"user": "ada"}, headers={"Sec-Fetch-Site": "same-origin"}).status == 200


def test_redteam_a_payload_sealed_without_a_purpose_is_never_a_session(clock: Clock) -> None:
    # An application sealing a visitor's text (a note, a preference) under the keyring's defaults.
    chosen = json.dumps({"sid": "chosen", "iat": START, "data": {"user": "admin"}})
    ring: Keyring = rotated_ring(clock)
    for seal in (lambda: ring.seal(chosen, ttl=600), lambda: ring.seal_json(json.loads(chosen), ttl=600)):
        with pytest.raises(TypeError, match="purpose"):
            seal()  # type: ignore[call-arg]
    assert SessionCodec(ring, max_age=MAX_AGE).load(ring.seal(chosen, purpose="note", ttl=600)) is None


@pytest.mark.parametrize(("headers", "accepted"), [
    ({"origin": "https://evil.example"}, False), ({"origin": "null"}, False),
    ({"origin": "http://testserver", "sec-fetch-site": "same-site"}, False),
    ({"origin": "http://testserver", "sec-fetch-site": "same-origin"}, True), ({"origin": "http://testserver"}, True),
])
def test_redteam_cross_site_websocket_handshake_is_refused_by_starlette_middleware(
        clock: Clock, headers: dict[str, str], accepted: bool) -> None:
    from starlette.applications import Starlette
    from starlette.middleware import Middleware
    from starlette.routing import WebSocketRoute
    from starlette.testclient import TestClient
    from starlette.websockets import WebSocket, WebSocketDisconnect

    from tessarils_web.starlette import SameOriginMiddleware, SealedSessionMiddleware

    async def who(websocket: WebSocket) -> None:
        await websocket.accept()
        await websocket.send_text(str(websocket.session.get("user")))
        await websocket.close()

    ring = old_ring(clock)
    app = Starlette(routes=[WebSocketRoute("/ws", who)],
                    middleware=[Middleware(SameOriginMiddleware), Middleware(SealedSessionMiddleware, keyring=ring)])
    cookie = craft(ring, {"user": "ada"}, issued_at=START, expires_at=START + 600)
    client = TestClient(app)  # its handshakes go to ws://testserver
    if accepted:
        with client.websocket_connect("/ws", headers={**headers, "cookie": f"session={cookie}"}) as socket:
            assert socket.receive_text() == "ada"
        return
    with pytest.raises(WebSocketDisconnect) as refused:
        with client.websocket_connect("/ws", headers={**headers, "cookie": f"session={cookie}"}):
            pass
    assert refused.value.code == 1008
