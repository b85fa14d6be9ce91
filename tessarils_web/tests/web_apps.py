"""The same small application on each framework, over the package's session integration, and a driver for each.

Routes: ``POST /login`` (form field ``user``), ``POST /logout``, ``GET /``
(who is signed in), ``POST /note`` (form field ``note``, kept in the
session), and on Flask and Starlette ``POST /forget`` (pops the user).
Drivers send the session cookie by hand and report what the response did
with it, so that a test can replay any cookie in any order.
"""

from __future__ import annotations

import re
import urllib.parse
from dataclasses import dataclass, field
from typing import Any, Protocol

from tessarils_web import Keyring, RevocationStore

COOKIE = "session"
FRAMEWORKS = ["flask", "starlette", "django"]
RAISE = False


@dataclass
class Reply:
    status: int
    body: str
    set_cookie: str | None  # the whole Set-Cookie header for the session cookie, if any

    @property
    def token(self) -> str | None:
        """The cookie's new value: None when untouched, "" when deleted."""
        if self.set_cookie is None:
            return None
        value = self.set_cookie.split(";", 1)[0].split("=", 1)[1].strip('"')
        return "" if _deleted(self.set_cookie) else value

    @property
    def max_age(self) -> int | None:
        found = re.search(r"Max-Age=(\d+)", self.set_cookie or "", re.IGNORECASE)
        return int(found.group(1)) if found else None


def _deleted(header: str) -> bool:
    return bool(re.search(r"Max-Age=0\b|expires=Thu, 01 Jan 1970", header, re.IGNORECASE)) or \
        header.startswith(f"{COOKIE}=;") or header.startswith(f'{COOKIE}="";')


class Driver(Protocol):
    def __call__(self, method: str, path: str, cookie: str | None = None, form: dict[str, str] | None = None,
                 headers: dict[str, str] | None = None) -> Reply: ...


@dataclass
class Options:
    max_age: int = 12 * 3600
    absolute_max_age: int | None = None
    store: RevocationStore | None = None
    on_store_error: str = "fail_closed"
    settings: dict[str, Any] = field(default_factory=dict)  # the framework's own: Flask config, Django settings


def driver(framework: str, keyring: Keyring, options: Options | None = None) -> Driver:
    return {"flask": _flask, "starlette": _starlette, "django": _django}[framework](keyring, options or Options())


def _session_header(headers: list[tuple[str, str]]) -> str | None:
    found = [value for name, value in headers if name.lower() == "set-cookie" and value.startswith(f"{COOKIE}=")]
    assert len(found) <= 1, found
    return found[0] if found else None


def _flask(keyring: Keyring, options: Options) -> Driver:
    from datetime import timedelta

    from flask import Flask, request, session

    from tessarils_web.flask import SealedSessionInterface, refuse_cross_site

    app = Flask(__name__)
    app.config.update({"PERMANENT_SESSION_LIFETIME": timedelta(seconds=options.max_age),
                       "SESSION_COOKIE_SECURE": True, "SESSION_COOKIE_NAME": COOKIE, **options.settings})
    app.session_interface = SealedSessionInterface(keyring, absolute_max_age=options.absolute_max_age,
                                                   store=options.store,
                                                   on_store_error=options.on_store_error)  # type: ignore[arg-type]
    refuse_cross_site(app)

    @app.post("/login")
    def login() -> tuple[str, int]:
        session.clear()
        session.permanent = "browser" not in request.form
        session["user"] = request.form["user"]
        return "signed in", 200

    @app.post("/logout")
    def logout() -> tuple[str, int]:
        session.clear()
        return "signed out", 200

    @app.get("/")
    def home() -> tuple[str, int]:
        return (f"hello, {session['user']}", 200) if "user" in session else ("not signed in", 401)

    @app.post("/note")
    def note() -> tuple[str, int]:
        session["note"] = request.form["note"]
        return "noted", 200

    @app.post("/forget")
    def forget() -> tuple[str, int]:
        session.pop("user", None)
        return "forgotten", 200

    client = app.test_client(use_cookies=False)

    def call(method: str, path: str, cookie: str | None = None, form: dict[str, str] | None = None,
             headers: dict[str, str] | None = None) -> Reply:
        sent = dict(headers or {})
        if cookie is not None:
            sent["Cookie"] = f"{COOKIE}={cookie}"
        response = client.open(path, method=method, data=form, headers=sent, base_url="https://localhost")
        return Reply(response.status_code, response.get_data(as_text=True), _session_header(list(response.headers)))

    return call


def _starlette(keyring: Keyring, options: Options) -> Driver:
    from starlette.applications import Starlette
    from starlette.middleware import Middleware
    from starlette.requests import Request
    from starlette.responses import PlainTextResponse
    from starlette.routing import Route
    from starlette.testclient import TestClient

    from tessarils_web.starlette import SameOriginMiddleware, SealedSessionMiddleware

    async def field(request: Request, name: str) -> str:
        # Parsed by hand: request.form() needs one more package.
        return urllib.parse.parse_qs((await request.body()).decode())[name][0]

    async def login(request: Request) -> PlainTextResponse:
        user = await field(request, "user")
        request.session.clear()
        request.session["user"] = user
        return PlainTextResponse("signed in")

    async def logout(request: Request) -> PlainTextResponse:
        request.session.clear()
        return PlainTextResponse("signed out")

    async def home(request: Request) -> PlainTextResponse:
        if "user" not in request.session:
            return PlainTextResponse("not signed in", 401)
        return PlainTextResponse(f"hello, {request.session['user']}")

    async def note(request: Request) -> PlainTextResponse:
        request.session["note"] = await field(request, "note")
        return PlainTextResponse("noted")

    async def forget(request: Request) -> PlainTextResponse:
        request.session.pop("user", None)
        return PlainTextResponse("forgotten")

    app = Starlette(routes=[Route("/login", login, methods=["POST"]), Route("/logout", logout, methods=["POST"]),
                            Route("/", home), Route("/note", note, methods=["POST"]),
                            Route("/forget", forget, methods=["POST"])],
                    middleware=[Middleware(SameOriginMiddleware),
                                Middleware(SealedSessionMiddleware, keyring=keyring, max_age=options.max_age,
                                           absolute_max_age=options.absolute_max_age, store=options.store,
                                           on_store_error=options.on_store_error, **options.settings)])
    client = TestClient(app, base_url="https://testserver", raise_server_exceptions=RAISE)

    def call(method: str, path: str, cookie: str | None = None, form: dict[str, str] | None = None,
             headers: dict[str, str] | None = None) -> Reply:
        client.cookies.clear()
        sent = dict(headers or {})
        if cookie is not None:
            sent["cookie"] = f"{COOKIE}={cookie}"
        response = client.request(method, path, data=form, headers=sent)
        return Reply(response.status_code, response.text, _session_header(list(response.headers.multi_items())))

    return call


def _django(keyring: Keyring, options: Options) -> Driver:
    import django
    from django.conf import settings
    from django.test import Client
    from django.test.utils import override_settings

    if not settings.configured:
        settings.configure(
            SECRET_KEY="not used: nothing here is signed with it", ALLOWED_HOSTS=["testserver"],
            ROOT_URLCONF="web_django_urls", INSTALLED_APPS=["tessarils_web.django"],
            MIDDLEWARE=["django.contrib.sessions.middleware.SessionMiddleware"],
            SESSION_ENGINE="tessarils_web.django", SESSION_COOKIE_NAME=COOKIE, SESSION_COOKIE_SECURE=True,
            DATABASES={}, USE_TZ=True,
            LOGGING_CONFIG=None,
        )
        django.setup()
    overrides: dict[str, Any] = dict(
        TESSARILS_KEYRING=keyring, SESSION_COOKIE_AGE=options.max_age,
        TESSARILS_SESSION_ABSOLUTE_AGE=options.absolute_max_age, TESSARILS_SESSION_STORE=options.store,
        TESSARILS_SESSION_ON_STORE_ERROR=options.on_store_error, **options.settings,
    )
    client = Client(raise_request_exception=False)

    def call(method: str, path: str, cookie: str | None = None, form: dict[str, str] | None = None,
             headers: dict[str, str] | None = None) -> Reply:
        client.cookies.clear()
        extra: dict[str, str] = {f"HTTP_{name.upper().replace('-', '_')}": value
                                 for name, value in (headers or {}).items()}
        if cookie is not None:
            extra["HTTP_COOKIE"] = f"{COOKIE}={cookie}"
        with override_settings(**overrides):
            response = client.generic(method, path, data=_urlencode(form), secure=True,
                                      content_type="application/x-www-form-urlencoded", **extra)  # type: ignore[arg-type]
        morsel = response.cookies.get(COOKIE)
        header = None if morsel is None else f"{COOKIE}=" + morsel.OutputString().partition("=")[2]
        return Reply(response.status_code, response.content.decode(), header)

    return call


def _urlencode(form: dict[str, str] | None) -> str:
    return urllib.parse.urlencode(form or {})


def craft(keyring: Keyring, data: dict[str, Any], *, issued_at: int, expires_at: int | None,
          session_id: str = "crafted-session-id") -> str:
    """A session cookie as a holder of one of the keys could seal it, with any lifetime."""
    body = {"sid": session_id, "iat": issued_at, "data": data}
    return keyring.seal_json(body, purpose="session", expires_at=expires_at)
