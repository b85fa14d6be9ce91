import json
import logging
import os
import pathlib
import re
import time
import urllib.parse

import pytest

django = pytest.importorskip("django")
os.environ.setdefault("DJANGO_SETTINGS_MODULE", "django_app.settings")
django.setup()

from django.test import Client, override_settings  # noqa: E402

from django_app import sealed_session  # noqa: E402
from django_app.views import RESET_LIFETIME  # noqa: E402
from sealed_keyring import BACKENDS, new_key_entry  # noqa: E402

COOKIE = "sessionid"
LIFETIME = 12 * 3600


@pytest.fixture(params=list(BACKENDS))
def key(request):
    return new_key_entry(request.param)


def keys(*entries):
    return override_settings(SEALED_SESSION_KEYS=" ".join(entries))


def login(user="ada"):
    client = Client()
    assert client.post("/login", {"user": user}).status_code == 200
    return client.cookies[COOKIE].value


def visit(cookie, path="/"):
    client = Client()
    client.cookies[COOKIE] = cookie
    return client.get(path)


def tamper(token):
    i = token.rfind(".") + 2  # inside the ciphertext field
    return token[:i] + ("B" if token[i] == "A" else "A") + token[i + 1:]


def reset_token(user="ada"):
    link = Client().post("/password-reset", {"user": user}).content.decode().strip()
    return urllib.parse.parse_qs(urllib.parse.urlsplit(link).query)["token"][0]


def refusals(caplog):
    # Django also logs every 4xx answer ("Unauthorized: /"); the reasons are the example's own.
    return [record.getMessage() for record in caplog.records if record.name.startswith("django_app")]


def test_documented_settings_are_the_projects(monkeypatch, key):
    recipes = (pathlib.Path(__file__).parents[1] / "docs" / "guide" / "frameworks.md").read_text(encoding="utf-8")
    [snippet] = [s for s in re.findall(r"^```python\n(.*?)^```$", recipes, re.DOTALL | re.MULTILINE) if "SESSION_ENGINE" in s]
    monkeypatch.setenv("APP_KEYS", key)
    pasted = {}
    exec(snippet, pasted)
    from django_app import settings

    for name in (name for name in pasted if name.isupper()):
        assert pasted[name] == (key if name == "SEALED_SESSION_KEYS" else getattr(settings, name)), name


def test_login_signs_in_until_logout(key):
    with keys(key):
        client = Client()
        response = client.post("/login", {"user": "ada"})
        assert {"HttpOnly", "Secure", "SameSite=Lax", "Max-Age=43200"} <= {
            part.strip() for part in response.cookies[COOKIE].OutputString().split(";")}
        assert client.get("/").content == b"hello, ada\n"
        client.post("/logout")
        assert client.cookies[COOKIE].value == ""  # deleted
        assert client.get("/").status_code == 401


def test_lifetime_is_fixed_from_login(monkeypatch, key):
    now = [1_800_000_000.0]
    monkeypatch.setattr(sealed_session, "clock", lambda: now[0])
    with keys(key):
        client = Client()
        client.post("/login", {"user": "ada"})
        now[0] += 3600
        response = client.post("/note", {"note": "sealed again later"})
        assert response.cookies[COOKIE]["max-age"] == LIFETIME - 3600


@pytest.mark.parametrize(
    "forge, reason",
    [
        (lambda key: tamper(login()), "the data has been modified"),
        (lambda key: keys(new_key_entry("AES256_GCM"))(login)(), None),
        ("expired", "token has expired"),
        (lambda key: reset_token(), "token was not minted for the expected purpose"),
        (lambda key: "not-a-token", "invalid token"),
    ],
    ids=["tampered", "other-server", "expired", "link-as-cookie", "garbage"],
)
def test_bad_cookies_are_refused_generically_and_logged(monkeypatch, caplog, key, forge, reason):
    with keys(key):
        if forge == "expired":
            monkeypatch.setattr(sealed_session, "clock", lambda: time.time() - LIFETIME)
            cookie = login()
            monkeypatch.undo()
        else:
            cookie = forge(key)
        caplog.clear()
        with caplog.at_level(logging.WARNING):
            response = visit(cookie)
    assert (response.status_code, response.content) == (401, b"not signed in\n")
    assert response.cookies[COOKIE].value == ""  # the refused cookie is deleted
    [logged] = refusals(caplog)
    assert logged.startswith("session cookie refused: ")
    if reason is not None:  # another server's key: tampered or, across backends, invalid
        assert logged == f"session cookie refused: {reason}"


def test_reset_link_is_quoted_for_a_url_and_opens(key):
    with keys(key):
        link = Client().post("/password-reset", {"user": "ada"}).content.decode().strip()
        assert "=" not in urllib.parse.urlsplit(link).query.removeprefix("token=")
        assert Client().get(link).content == b"choose a new password for ada\n"


@pytest.mark.parametrize(
    "mangle, reason",
    [
        (lambda: login(), "token was not minted for the expected purpose"),
        (lambda: reset_token().rstrip("="), "base64 is invalid"),
        ("expired", "token has expired"),
    ],
    ids=["cookie-as-link", "padding-stripped", "expired"],
)
def test_bad_links_are_refused_generically_and_logged(monkeypatch, caplog, key, mangle, reason):
    with keys(key):
        if mangle == "expired":
            monkeypatch.setattr(sealed_session, "clock", lambda: time.time() - RESET_LIFETIME.total_seconds())
            token = reset_token()
            monkeypatch.undo()
        else:
            token = mangle()
        with caplog.at_level(logging.WARNING):
            response = Client().get("/reset", {"token": token})
    assert (response.status_code, response.content) == (400, b"this link is invalid or has expired\n")
    assert refusals(caplog) == [f"password-reset link refused: {reason}"]


@pytest.mark.parametrize("new_backend", list(BACKENDS))
def test_rotation_reseals_with_the_newest_key_then_the_old_key_can_go(key, new_backend):
    new_key = new_key_entry(new_backend)
    with keys(key):
        old_cookie, link_token = login(), reset_token()
    with keys(new_key, key):
        rotated = visit(old_cookie)
        assert rotated.content == b"hello, ada\n"
        resealed = rotated.cookies[COOKIE].value
        assert resealed not in ("", old_cookie)
        assert Client().get("/reset", {"token": link_token}).status_code == 200
    with keys(new_key):
        assert visit(resealed).content == b"hello, ada\n"
        assert visit(old_cookie).status_code == 401
        assert Client().get("/reset", {"token": link_token}).status_code == 400


# The documented budget: the largest session, counted as its own compact JSON, whose cookie browsers keep.
@pytest.mark.parametrize("backend_name, budget", [("AES256_GCM", 2909), ("XCHACHA20_POLY1305", 2897)])
@pytest.mark.parametrize("extra, fits", [(0, True), (1, False)])
def test_oversized_session_fails_on_the_server_instead_of_in_the_browser(caplog, backend_name, budget, extra, fits):
    with keys(new_key_entry(backend_name)):
        client = Client(raise_request_exception=False)
        client.post("/login", {"user": "ada"})
        signed_in = client.cookies[COOKIE].value
        session_bytes = budget + extra
        note = "x" * (session_bytes - len(json.dumps({"user": "ada", "note": ""}, separators=(",", ":"))))
        with caplog.at_level(logging.ERROR):
            response = client.post("/note", {"note": note})
        assert (response.status_code, COOKIE in response.cookies) == ((200, True) if fits else (500, False))
        errors = [record.exc_info[1] for record in caplog.records if record.exc_info]
        assert [str(error).partition(",")[0] for error in errors] == (
            [] if fits else [f"session not stored: it holds {session_bytes} bytes of JSON"])
        assert len(caplog.records) == len(errors)  # logged once
        assert (client.cookies[COOKIE].value == signed_in) != fits  # a refused session leaves the cookie standing
        assert client.get("/").content == b"hello, ada\n"
