import json
import logging
import time
import urllib.parse

import pytest

from flask_app import CONFIRM_LIFETIME, create_app
from sealed_keyring import KEYS_ENV, new_key_entry

BACKEND_NAMES = ["AES256_GCM", "XCHACHA20_POLY1305"]
LIFETIME = 12 * 3600


def make_app(*keys, clock=time.time):
    return create_app(" ".join(keys), clock)


def login(app, user="ada"):
    client = app.test_client()
    assert client.post("/login", data={"user": user}).status_code == 200
    return client.get_cookie("session").value


def visit(app, cookie):
    client = app.test_client()
    client.set_cookie("session", cookie)
    return client.get("/")


def tamper(token):
    i = token.rfind(".") + 2  # inside the ciphertext field
    return token[:i] + ("B" if token[i] == "A" else "A") + token[i + 1 :]


@pytest.fixture(params=BACKEND_NAMES)
def key(request):
    return new_key_entry(request.param)


def test_login_signs_in_until_logout(monkeypatch, key):
    monkeypatch.setenv(KEYS_ENV, key)
    client = create_app().test_client()
    client.post("/login", data={"user": "ada"})
    assert client.get("/").text == "hello, ada\n"
    client.post("/logout")
    assert client.get_cookie("session") is None
    assert client.get("/").status_code == 401


def test_lifetime_is_fixed_from_login(key):
    now = [1_800_000_000.0]
    client = make_app(key, clock=lambda: now[0]).test_client()
    client.post("/login", data={"user": "ada"})
    first = client.get_cookie("session")
    now[0] += 3600
    client.post("/note", data={"note": "re-sealed later"})
    assert client.get_cookie("session").expires == first.expires
    assert first.expires.timestamp() == 1_800_000_000 + LIFETIME


@pytest.mark.parametrize(
    "forge, reason",
    [
        (lambda app, key: tamper(login(app)), "the data has been modified"),
        (lambda app, key: login(make_app(new_key_entry("AES256_GCM"))), None),
        (lambda app, key: login(make_app(key, clock=lambda: time.time() - LIFETIME)),
         "token has expired"),
        (lambda app, key: confirmation_token(app), "token was not minted for the expected purpose"),
        (lambda app, key: "not-a-token", "invalid token"),
    ],
    ids=["tampered", "other-server", "expired", "link-as-cookie", "garbage"],
)
def test_bad_cookies_are_refused_generically_and_logged(caplog, key, forge, reason):
    app = make_app(key)
    cookie = forge(app, key)
    caplog.clear()
    with caplog.at_level(logging.WARNING):
        response = visit(app, cookie)
    assert (response.status_code, response.text) == (401, "not signed in\n")
    logged = [record.getMessage() for record in caplog.records]
    assert len(logged) == 1 and logged[0].startswith("session cookie refused: ")
    if reason is not None:  # another server's key: tampered or, across backends, invalid
        assert logged[0] == f"session cookie refused: {reason}"


def confirmation_link(app, email="ada@example.com", cookie=None):
    client = app.test_client()
    client.set_cookie("session", cookie or login(app))
    return client.post("/email", data={"email": email}).text.strip()


def confirmation_token(app, cookie=None):
    query = urllib.parse.urlsplit(confirmation_link(app, cookie=cookie)).query
    return urllib.parse.parse_qs(query)["token"][0]


def test_confirmation_link_is_quoted_for_a_url_and_confirms(key):
    app = make_app(key)
    link = confirmation_link(app)
    assert "=" not in urllib.parse.urlsplit(link).query.removeprefix("token=")
    assert app.test_client().get(link).text == "confirmed ada@example.com for ada\n"


@pytest.mark.parametrize(
    "mangle, reason",
    [
        (lambda app, key: login(app), "token was not minted for the expected purpose"),
        (lambda app, key: confirmation_token(app).rstrip("="), "base64 is invalid"),
        (lambda app, key: confirmation_token(
            make_app(key, clock=lambda: time.time() - CONFIRM_LIFETIME.total_seconds()), cookie=login(app)),
         "token has expired"),
    ],
    ids=["cookie-as-link", "padding-stripped", "expired"],
)
def test_bad_links_are_refused_generically_and_logged(caplog, key, mangle, reason):
    app = make_app(key)
    token = mangle(app, key)
    with caplog.at_level(logging.WARNING):
        response = app.test_client().get("/confirm", query_string={"token": token})
    assert (response.status_code, response.text) == (400, "this link is invalid or has expired\n")
    assert caplog.records[-1].getMessage() == f"confirmation link refused: {reason}"


@pytest.mark.parametrize("new_backend", BACKEND_NAMES)
def test_rotation_reseals_with_the_newest_key_then_the_old_key_can_go(key, new_backend):
    new_key = new_key_entry(new_backend)
    old_cookie = login(make_app(key))
    link = confirmation_link(make_app(key), cookie=old_cookie)

    rotated = make_app(new_key, key).test_client()
    rotated.set_cookie("session", old_cookie)
    assert rotated.get("/").text == "hello, ada\n"
    assert rotated.get(link).status_code == 200
    resealed = rotated.get_cookie("session").value
    assert resealed != old_cookie

    dropped = make_app(new_key)
    assert visit(dropped, resealed).text == "hello, ada\n"
    assert visit(dropped, old_cookie).status_code == 401
    assert dropped.test_client().get(link).status_code == 400


# The documented budget: the largest session, counted as its own compact JSON, whose cookie browsers keep.
@pytest.mark.parametrize("backend_name, budget", [("AES256_GCM", 2924), ("XCHACHA20_POLY1305", 2912)])
@pytest.mark.parametrize("extra, fits", [(0, True), (1, False)])
def test_oversized_session_fails_on_the_server_instead_of_in_the_browser(caplog, backend_name, budget, extra, fits):
    client = make_app(new_key_entry(backend_name)).test_client()
    client.post("/login", data={"user": "ada"})
    session_bytes = budget + extra
    note = "x" * (session_bytes - len(json.dumps({"note": "", "user": "ada"}, separators=(",", ":"))))
    with caplog.at_level(logging.ERROR):
        response = client.post("/note", data={"note": note})
    assert (response.status_code, "set-cookie" in response.headers) == ((200, True) if fits else (500, False))
    errors = [record.exc_info[1] for record in caplog.records if record.exc_info]
    assert [str(error).partition(",")[0] for error in errors] == (
        [] if fits else [f"session not stored: it holds {session_bytes} bytes of JSON"])
    assert len(caplog.records) == len(errors)  # logged once, not again while finalising the error response
    assert client.get("/").text == "hello, ada\n"  # a refused session leaves the previous cookie standing
