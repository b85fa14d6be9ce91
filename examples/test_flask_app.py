import logging
import urllib.parse

import pytest

from flask_app import create_app
from tessarils_web import generate_key_entry

BACKEND_NAMES = ["AES256_GCM", "XCHACHA20_POLY1305"]


@pytest.fixture(params=BACKEND_NAMES)
def app(request):
    return create_app(generate_key_entry(request.param))


def signed_in(app, user="ada"):
    client = app.test_client()
    assert client.post("/login", data={"user": user}).status_code == 200
    return client


def test_sign_in_note_and_sign_out(app):
    client = signed_in(app)
    assert client.get("/").get_data(as_text=True) == "hello, ada\n"
    cookie = client.get_cookie("session")
    assert (cookie.secure, cookie.http_only, cookie.same_site) == (True, True, "Lax")
    assert client.post("/note", data={"note": "hi"}).get_data(as_text=True) == \
        'the session holds 44 bytes of JSON\n'  # {"_permanent":true,"user":"ada","note":"hi"}
    assert client.post("/logout").status_code == 200
    assert client.get("/").status_code == 401


def test_confirmation_links_open_for_their_purpose_only(app, caplog):
    client = signed_in(app)
    link = client.post("/email", data={"email": "ada@example.com"}).get_data(as_text=True).strip()
    path = urllib.parse.urlsplit(link)
    assert client.get(f"{path.path}?{path.query}").get_data(as_text=True) == "confirmed ada@example.com for ada\n"
    session_token = client.get_cookie("session").value
    with caplog.at_level(logging.WARNING, "flask_app"):
        refused = client.get("/confirm?" + urllib.parse.urlencode({"token": session_token}))
    assert (refused.status_code, refused.get_data(as_text=True)) == (400, "this link is invalid or has expired\n")
    assert "WrongPurpose" in caplog.text


@pytest.mark.parametrize("headers", [{"Sec-Fetch-Site": "cross-site"}, {"Origin": "https://evil.example"}])
@pytest.mark.parametrize("path", ["/login", "/logout", "/note", "/email"])
def test_redteam_cross_site_forms_are_refused(app, headers, path):
    client = signed_in(app)
    reply = client.post(path, data={"user": "eve", "note": "x", "email": "eve@example.com"}, headers=headers)
    assert reply.status_code == 403
    assert client.get("/").get_data(as_text=True) == "hello, ada\n"
