import logging
import secrets
import time

import pytest

from session_cookie_app import LIFETIME_SECONDS, call, issued_cookie, make_app
from tessarils import Backend, Tessaril
from tessarils_testing import EXPIRED, INVALID_TOKEN, MISMATCH, TAMPERED


@pytest.fixture(params=[Backend.AES256_GCM, Backend.XCHACHA20_POLY1305], ids=repr)
def box(request):
    return Tessaril(request.param, key=secrets.randbits(128))


def tamper(token):
    i = token.rfind(".") + 2  # inside the ciphertext field
    return token[:i] + ("B" if token[i] == "A" else "A") + token[i + 1 :]


def login(app, user="ada"):
    status, _, headers = call(app, f"/login?user={user}")
    assert status == "200 OK"
    return issued_cookie(headers)


def test_issued_cookie_signs_the_user_in(box):
    app = make_app(box)
    assert call(app, "/", login(app))[:2] == ("200 OK", "hello, ada")


def test_cookie_flags_keep_it_out_of_scripts_and_plain_http(box):
    _, _, headers = call(make_app(box), "/login?user=ada")
    assert {"HttpOnly", "Secure", "SameSite=Strict"} <= {part.strip() for part in headers["Set-Cookie"].split(";")}


@pytest.mark.parametrize(
    "forge, reason",
    [
        (lambda app, box: tamper(login(app)), TAMPERED),
        (lambda app, box: login(make_app(Tessaril(Backend.AES256_GCM, key=1))), None),
        (lambda app, box: login(make_app(box, clock=lambda: time.time() - 2 * LIFETIME_SECONDS)), EXPIRED),
        (lambda app, box: box.encrypt(b"ada"), MISMATCH),
        (lambda app, box: "not-a-token", INVALID_TOKEN),
    ],
    ids=["tampered", "other-server", "expired", "other-purpose", "garbage"],
)
def test_bad_cookies_are_refused_generically_and_logged(caplog, box, forge, reason):
    app = make_app(box)
    cookie = forge(app, box)
    with caplog.at_level(logging.WARNING):
        assert call(app, "/", cookie)[:2] == ("401 Unauthorized", "session refused")
    [logged] = [record.getMessage() for record in caplog.records]
    assert logged.startswith("session cookie refused: ")
    if reason is not None:  # another server's key: tampered or, across backends, invalid
        assert logged == f"session cookie refused: {reason}"


def test_missing_cookie_and_user(box):
    app = make_app(box)
    assert call(app, "/")[0] == "401 Unauthorized"
    assert call(app, "/login")[0] == "400 Bad Request"
