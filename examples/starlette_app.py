"""An ASGI session middleware that keeps the whole session in a sealed cookie, and a Starlette application using it.

The server keeps no session store. The middleware works under any Starlette
application, FastAPI's included:

    app.add_middleware(SealedSessionMiddleware, keyring=Keyring.from_environment())

and handlers read and change request.session as with Starlette's own
SessionMiddleware. The rules are the Flask example's: the session is sealed
as JSON for the purpose "session", with a lifetime fixed from the moment it
is first stored; keys come from APP_KEYS, newest first, and a cookie opened
with an older key is sealed again with the newest; a refused cookie is
logged with its reason and the request goes on without a session; a session
too large for a cookie is refused on the server (a 500, logged once) instead
of being dropped by the browser without a word. The application adds e-mail
confirmation links valid for 24 hours.

    APP_KEYS=... uvicorn --factory --app-dir examples starlette_app:create_app
    python3 examples/starlette_app.py    # serve on 127.0.0.1:8000 with a random key for this run
"""

from __future__ import annotations

import json
import logging
import os
import sys
import time
import urllib.parse
from collections.abc import Callable
from datetime import timedelta
from typing import Any, Literal

from starlette.applications import Starlette
from starlette.datastructures import MutableHeaders
from starlette.requests import HTTPConnection, Request
from starlette.responses import HTMLResponse, PlainTextResponse, Response
from starlette.routing import Route
from starlette.types import ASGIApp, Message, Receive, Scope, Send

from sealed_keyring import KEYS_ENV, Keyring, new_key_entry
from session_budget import MAX_COOKIE_BYTES, MAX_PLAINTEXT_BYTES, SessionTooLarge

SESSION_PURPOSE = "session"
CONFIRM_PURPOSE = "confirm-email"
CONFIRM_LIFETIME = timedelta(hours=24)
log = logging.getLogger(__name__)


def session_json(data: dict[str, Any]) -> str:
    """The session as the budget counts it: compact JSON."""
    return json.dumps(data, separators=(",", ":"))


class SealedSession(dict[str, Any]):
    """A session with a fixed end, carried from its first storing until it expires or is cleared."""

    def __init__(self, data: dict[str, Any] | None = None, expires_at: int | None = None,
                 sealed_by_older_key: bool = False) -> None:
        super().__init__(data or {})
        self.expires_at = expires_at
        self.sealed_by_older_key = sealed_by_older_key
        self.stored = session_json(self)  # what the cookie holds, to see whether the request changed it

    def clear(self) -> None:
        super().clear()
        self.expires_at = None  # a cleared session is a new one: its lifetime starts when next stored

    def needs_storing(self) -> bool:
        return self.expires_at is None or self.sealed_by_older_key or session_json(self) != self.stored


class SealedSessionMiddleware:
    """Puts the session opened from the cookie in scope["session"] and seals it into the response."""

    def __init__(self, app: ASGIApp, keyring: Keyring, *, cookie_name: str = "session",
                 max_age: int = 12 * 3600, path: str = "/", domain: str | None = None,
                 same_site: Literal["lax", "strict", "none"] = "lax", https_only: bool = True,
                 clock: Callable[[], float] = time.time) -> None:
        self.app = app
        self.keyring = keyring
        self.cookie_name = cookie_name
        self.max_age = max_age
        self.path = path
        self.domain = domain
        self.same_site = same_site
        self.https_only = https_only
        self.clock = clock

    async def __call__(self, scope: Scope, receive: Receive, send: Send) -> None:
        if scope["type"] not in ("http", "websocket"):
            await self.app(scope, receive, send)
            return
        token = HTTPConnection(scope).cookies.get(self.cookie_name)
        session = scope["session"] = self.open(token)
        refused = False

        async def send_with_cookie(message: Message) -> None:
            nonlocal refused
            if refused:
                return  # the application's body belongs to the response that was refused
            if message["type"] == "http.response.start":
                try:
                    cookie = self.cookie_for(session, had_cookie=token is not None)
                except SessionTooLarge as refusal:
                    log.error("%s", refusal)
                    refused = True
                    await PlainTextResponse("Internal Server Error", 500)(scope, receive, send)
                    return
                if cookie is not None:
                    headers = MutableHeaders(scope=message)
                    headers.append("set-cookie", cookie)
                    headers.add_vary_header("Cookie")
            await send(message)

        await self.app(scope, receive, send_with_cookie)

    def open(self, token: str | None) -> SealedSession:
        if token is None:
            return SealedSession()
        try:
            opened = self.keyring.open(token, SESSION_PURPOSE)
        except ValueError as failure:
            log.warning("session cookie refused: %s", failure)
            return SealedSession()
        # Outside the try: a payload that does not parse is our bug, not a forged cookie.
        payload = json.loads(opened.plaintext)
        return SealedSession(payload["data"], payload["expires_at"], not opened.by_newest_key)

    def cookie_for(self, session: SealedSession, had_cookie: bool) -> str | None:
        """The Set-Cookie value this response carries, if any; raises SessionTooLarge."""
        if not session:
            # A cleared session, or a refused cookie: the browser drops what it holds.
            return self.set_cookie("", max_age=0) if had_cookie else None
        if not session.needs_storing():
            return None
        if session.expires_at is None:
            session.expires_at = int(self.clock()) + self.max_age
        plaintext = json.dumps({"expires_at": session.expires_at, "data": session}, separators=(",", ":")).encode()
        if len(plaintext) <= MAX_PLAINTEXT_BYTES:
            token = self.keyring.seal(plaintext, session.expires_at, SESSION_PURPOSE)
            cookie = self.set_cookie(token, max_age=max(0, session.expires_at - int(self.clock())))
            if len(cookie) <= MAX_COOKIE_BYTES:
                return cookie
        raise SessionTooLarge(len(session_json(session).encode()), MAX_COOKIE_BYTES)

    def set_cookie(self, value: str, max_age: int) -> str:
        # Written out rather than through http.cookies, which would quote a token for its "=".
        attributes = [f"Path={self.path}", f"Max-Age={max_age}", "HttpOnly", f"SameSite={self.same_site}"]
        attributes += ["Secure"] * self.https_only + [f"Domain={self.domain}"] * (self.domain is not None)
        return "; ".join([f"{self.cookie_name}={value}", *attributes])


def text(body: str, status: int = 200) -> PlainTextResponse:
    # Plain text, so that a user name echoed back is never read as HTML.
    return PlainTextResponse(body + "\n", status)


async def form_field(request: Request, name: str) -> str:
    # Parsed here rather than with request.form(), which needs one more package.
    fields = urllib.parse.parse_qs((await request.body()).decode())
    return fields.get(name, [""])[0]


async def login_form(request: Request) -> Response:
    return HTMLResponse('<!doctype html><title>login</title><form method="post" action="/login">'
                        '<label>user <input name="user" id="user"></label> <button id="submit">login</button></form>')


async def login(request: Request) -> Response:
    # A real application checks a password here.
    user = await form_field(request, "user")
    if not user:
        return text("name a user", 400)
    request.session.clear()  # a new session, not one carried over from before
    request.session["user"] = user
    return text(f"signed in as {user}")


async def logout(request: Request) -> Response:
    request.session.clear()
    return text("signed out")


async def home(request: Request) -> Response:
    if "user" not in request.session:
        return text("not signed in", 401)
    return text(f"hello, {request.session['user']}")


async def note(request: Request) -> Response:
    if "user" not in request.session:
        return text("not signed in", 401)
    if request.method == "POST":
        request.session["note"] = await form_field(request, "note")
    return text(f"the session holds {len(session_json(request.session).encode())} bytes of JSON")


def create_app(keys: str | None = None, clock: Callable[[], float] = time.time) -> Starlette:
    """Builds the application from key entries, by default those in the APP_KEYS environment variable."""
    keyring = Keyring.from_environment() if keys is None else Keyring.parse(keys)

    async def request_confirmation(request: Request) -> Response:
        if "user" not in request.session:
            return text("not signed in", 401)
        claim = json.dumps({"user": request.session["user"], "email": await form_field(request, "email")}).encode()
        token = keyring.seal(claim, int(clock() + CONFIRM_LIFETIME.total_seconds()), CONFIRM_PURPOSE)
        # A real application e-mails the link; urlencode quotes the token's "=" padding as %3D.
        return text(f"{request.url_for('confirm')}?{urllib.parse.urlencode({'token': token})}")

    async def confirm(request: Request) -> Response:
        try:
            opened = keyring.open(request.query_params.get("token", ""), CONFIRM_PURPOSE)
        except ValueError as failure:
            log.warning("confirmation link refused: %s", failure)
            return text("this link is invalid or has expired", 400)
        claim = json.loads(opened.plaintext)
        return text(f"confirmed {claim['email']} for {claim['user']}")

    app = Starlette(routes=[
        Route("/", home),
        Route("/login", login_form, methods=["GET"]),
        Route("/login", login, methods=["POST"]),
        Route("/logout", logout, methods=["POST"]),
        Route("/note", note, methods=["GET", "POST"]),
        Route("/email", request_confirmation, methods=["POST"]),
        Route("/confirm", confirm, name="confirm"),
    ])
    app.add_middleware(SealedSessionMiddleware, keyring=keyring, clock=clock)
    return app


if __name__ == "__main__":
    import uvicorn

    if KEYS_ENV not in os.environ:
        os.environ[KEYS_ENV] = new_key_entry("XCHACHA20_POLY1305")
        print(f"{KEYS_ENV} not set: using a random key for this run", file=sys.stderr)
    uvicorn.run(create_app(), host="127.0.0.1", port=8000)
