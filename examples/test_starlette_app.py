import logging
import urllib.parse

import pytest

pytest.importorskip("starlette")
fastapi = pytest.importorskip("fastapi")

from starlette.testclient import TestClient  # noqa: E402

from starlette_app import create_app  # noqa: E402
from tessarils_web import Keyring, generate_key_entry  # noqa: E402
from tessarils_web.starlette import SealedSessionMiddleware  # noqa: E402

BACKEND_NAMES = ["AES256_GCM", "XCHACHA20_POLY1305"]


def fastapi_app(keys):
    """The middleware under FastAPI: handlers use request.session as usual."""
    app = fastapi.FastAPI()
    app.add_middleware(SealedSessionMiddleware, keyring=Keyring.from_entries(keys))

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


@pytest.fixture(params=BACKEND_NAMES)
def keys(request):
    return generate_key_entry(request.param)


def client_for(app):
    return TestClient(app, base_url="https://testserver")


def test_fastapi_handlers_use_the_session(keys):
    client = client_for(fastapi_app(keys))
    assert client.post("/login", params={"user": "ada"}).status_code == 200
    assert client.get("/").text == "hello, ada\n"


def test_sign_in_note_links_and_sign_out(keys, caplog):
    client = client_for(create_app(keys))
    assert client.post("/login", data={"user": "ada"}).text == "signed in as ada\n"
    assert client.post("/note", data={"note": "hi"}).text == "the session holds 26 bytes of JSON\n"
    link = client.post("/email", data={"email": "ada@example.com"}).text.strip()
    path = urllib.parse.urlsplit(link)
    assert client.get(f"{path.path}?{path.query}").text == "confirmed ada@example.com for ada\n"
    with caplog.at_level(logging.WARNING, "starlette_app"):
        refused = client.get("/confirm", params={"token": client.cookies["session"]})
    assert (refused.status_code, "WrongPurpose" in caplog.text) == (400, True)
    assert client.post("/logout").status_code == 200
    assert client.get("/").status_code == 401


@pytest.mark.parametrize("headers", [{"Sec-Fetch-Site": "cross-site"}, {"Origin": "https://evil.example"}])
@pytest.mark.parametrize("path", ["/login", "/logout", "/note", "/email"])
def test_redteam_cross_site_forms_are_refused(keys, headers, path):
    client = client_for(create_app(keys))
    client.post("/login", data={"user": "ada"})
    reply = client.post(path, data={"user": "eve", "note": "x", "email": "eve@example.com"}, headers=headers)
    assert reply.status_code == 403
    assert client.get("/").text == "hello, ada\n"
