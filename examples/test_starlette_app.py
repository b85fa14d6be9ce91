import json
import logging
import time
import urllib.parse

import pytest

pytest.importorskip("starlette")
fastapi = pytest.importorskip("fastapi")

from starlette.testclient import TestClient  # noqa: E402

from sealed_keyring import BACKENDS, Keyring, new_key_entry  # noqa: E402
from starlette_app import CONFIRM_LIFETIME, SealedSessionMiddleware, create_app  # noqa: E402

LIFETIME = 12 * 3600


def fastapi_app(keys, clock=time.time):
    """The middleware under FastAPI: handlers use request.session as usual."""
    app = fastapi.FastAPI()
    app.add_middleware(SealedSessionMiddleware, keyring=Keyring.parse(keys), clock=clock)

    @app.post("/login")
    def login(request: fastapi.Request, user: str) -> str:
        request.session.clear()
        request.session["user"] = user
        return f"signed in as {user}"

    @app.get("/")
    def home(request: fastapi.Request) -> fastapi.Response:
        if "user" not in request.session:
            return fastapi.responses.PlainTextResponse("not signed in\n", 401)
        return fastapi.responses.PlainTextResponse(f"hello, {request.session['user']}\n")

    return app


def starlette_app(keys, clock=time.time):
    return create_app(keys, clock)


def client_of(app):
    # Over https, or the client would not send back a Secure cookie.
    return TestClient(app, base_url="https://testserver", raise_server_exceptions=False)


def sign_in(client, user="ada"):
    if isinstance(client.app, fastapi.FastAPI):
        return client.post("/login", params={"user": user})
    return client.post("/login", data={"user": user})


@pytest.fixture(params=list(BACKENDS))
def key(request):
    return new_key_entry(request.param)


@pytest.fixture(params=[starlette_app, fastapi_app], ids=["starlette", "fastapi"])
def make_app(request):
    return request.param


def login(app, user="ada"):
    client = client_of(app)
    assert sign_in(client, user).status_code == 200
    return client.cookies["session"]


def with_cookie(client, cookie):
    client.cookies.set("session", cookie, domain="testserver.local")  # where the client keeps the server's cookies
    return client


def visit(app, cookie):
    return with_cookie(client_of(app), cookie).get("/")


def tamper(token):
    i = token.rfind(".") + 2  # inside the ciphertext field
    return token[:i] + ("B" if token[i] == "A" else "A") + token[i + 1:]


def test_login_signs_in_until_logout(key):
    client = client_of(create_app(key))
    response = sign_in(client)
    assert {"HttpOnly", "Secure", "SameSite=lax", f"Max-Age={LIFETIME}", "Path=/"} <= {
        part.strip() for part in response.headers["set-cookie"].split(";")}
    assert client.get("/").text == "hello, ada\n"
    assert "set-cookie" not in client.get("/").headers  # an unchanged session is not sent again
    client.post("/logout")
    assert client.cookies.get("session") is None
    assert client.get("/").status_code == 401


def test_lifetime_is_fixed_from_login(key):
    now = [1_800_000_000.0]
    client = client_of(create_app(key, clock=lambda: now[0]))
    sign_in(client)
    now[0] += 3600
    response = client.post("/note", data={"note": "sealed again later"})
    assert f"Max-Age={LIFETIME - 3600}" in response.headers["set-cookie"]


@pytest.mark.parametrize(
    "forge, reason",
    [
        (lambda make_app, key: tamper(login(make_app(key))), "the data has been modified"),
        (lambda make_app, key: login(make_app(new_key_entry("AES256_GCM"))), None),
        (lambda make_app, key: login(make_app(key, clock=lambda: time.time() - LIFETIME)), "token has expired"),
        (lambda make_app, key: confirmation_token(create_app(key)), "token was not minted for the expected purpose"),
        (lambda make_app, key: "not-a-token", "invalid token"),
    ],
    ids=["tampered", "other-server", "expired", "link-as-cookie", "garbage"],
)
def test_bad_cookies_are_refused_generically_and_logged(caplog, make_app, key, forge, reason):
    cookie = forge(make_app, key)
    caplog.clear()
    with caplog.at_level(logging.WARNING):
        response = visit(make_app(key), cookie)
    assert (response.status_code, response.text) == (401, "not signed in\n")
    assert "Max-Age=0" in response.headers["set-cookie"]  # the browser drops the refused cookie
    [logged] = [record.getMessage() for record in caplog.records]
    assert logged.startswith("session cookie refused: ")
    if reason is not None:  # another server's key: tampered or, across backends, invalid
        assert logged == f"session cookie refused: {reason}"


def confirmation_link(app, cookie=None):
    client = with_cookie(client_of(app), cookie or login(app))
    return client.post("/email", data={"email": "ada@example.com"}).text.strip()


def confirmation_token(app, cookie=None):
    query = urllib.parse.urlsplit(confirmation_link(app, cookie)).query
    return urllib.parse.parse_qs(query)["token"][0]


def test_confirmation_link_is_quoted_for_a_url_and_confirms(key):
    app = create_app(key)
    link = confirmation_link(app)
    assert "=" not in urllib.parse.urlsplit(link).query.removeprefix("token=")
    assert client_of(app).get(link).text == "confirmed ada@example.com for ada\n"


@pytest.mark.parametrize(
    "mangle, reason",
    [
        (lambda app, key: login(app), "token was not minted for the expected purpose"),
        (lambda app, key: confirmation_token(app).rstrip("="), "base64 is invalid"),
        (lambda app, key: confirmation_token(
            create_app(key, clock=lambda: time.time() - CONFIRM_LIFETIME.total_seconds()), login(app)),
         "token has expired"),
    ],
    ids=["cookie-as-link", "padding-stripped", "expired"],
)
def test_bad_links_are_refused_generically_and_logged(caplog, key, mangle, reason):
    app = create_app(key)
    token = mangle(app, key)
    with caplog.at_level(logging.WARNING):
        response = client_of(app).get("/confirm", params={"token": token})
    assert (response.status_code, response.text) == (400, "this link is invalid or has expired\n")
    assert caplog.records[-1].getMessage() == f"confirmation link refused: {reason}"


@pytest.mark.parametrize("new_backend", list(BACKENDS))
def test_rotation_reseals_with_the_newest_key_then_the_old_key_can_go(make_app, key, new_backend):
    new_key = new_key_entry(new_backend)
    old_cookie = login(make_app(key))

    rotated = with_cookie(client_of(make_app(f"{new_key} {key}")), old_cookie)
    assert rotated.get("/").text == "hello, ada\n"
    resealed = rotated.cookies["session"]
    assert resealed != old_cookie

    dropped = make_app(new_key)
    assert visit(dropped, resealed).text == "hello, ada\n"
    assert visit(dropped, old_cookie).status_code == 401


# The documented budget: the largest session, counted as its own compact JSON, whose cookie browsers keep.
@pytest.mark.parametrize("backend_name, budget", [("AES256_GCM", 2942), ("XCHACHA20_POLY1305", 2930)])
@pytest.mark.parametrize("extra, fits", [(0, True), (1, False)])
def test_oversized_session_fails_on_the_server_instead_of_in_the_browser(caplog, backend_name, budget, extra, fits):
    client = client_of(create_app(new_key_entry(backend_name)))
    sign_in(client)
    signed_in = client.cookies["session"]
    session_bytes = budget + extra
    note = "x" * (session_bytes - len(json.dumps({"user": "ada", "note": ""}, separators=(",", ":"))))
    with caplog.at_level(logging.ERROR):
        response = client.post("/note", data={"note": note})
    assert (response.status_code, "set-cookie" in response.headers) == ((200, True) if fits else (500, False))
    assert [record.getMessage().partition(",")[0] for record in caplog.records] == (
        [] if fits else [f"session not stored: it holds {session_bytes} bytes of JSON"])
    assert (client.cookies["session"] == signed_in) != fits  # a refused session leaves the cookie standing
    assert client.get("/").text == "hello, ada\n"
