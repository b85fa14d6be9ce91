"""A Flask application whose session lives in a sealed cookie, with e-mail confirmation links.

The server keeps no session store. The session is sealed as JSON for the
purpose "session"; a confirmation link carries its own purpose and lasts
24 hours. Keys come from one environment variable listing several keys,
newest first, each of either backend:

    APP_KEYS="XCHACHA20_POLY1305:<decimal key> AES256_GCM:<older decimal key>"

The newest key seals; every listed key opens, and a session opened with an
older key is sealed again with the newest. Refused cookies and links are
logged with their reason and answered generically, so that a forger learns
nothing about why a forgery failed.

    APP_KEYS=... flask --app examples/flask_app run
    python3 examples/flask_app.py    # serve with a random key for this run
"""

from __future__ import annotations

import json
import os
import sys
import time
from collections.abc import Callable, Mapping
from datetime import timedelta
from typing import Any, TypedDict

from flask import Flask, Request, Response, request, session, url_for
from flask.sessions import SecureCookieSession, SessionInterface, session_json_serializer
from werkzeug.http import dump_cookie

from sealed_keyring import KEYS_ENV, Keyring, new_key_entry
from session_budget import MAX_PLAINTEXT_BYTES, SessionTooLarge

SESSION_PURPOSE = "session"
CONFIRM_PURPOSE = "confirm-email"
CONFIRM_LIFETIME = timedelta(hours=24)


class SealedSession(SecureCookieSession):
    """A session with a fixed end, carried from login until it expires or is cleared."""

    def __init__(self, initial: Mapping[str, Any] | None = None, expires_at: int | None = None,
                 sealed_by_older_key: bool = False) -> None:
        super().__init__(initial)
        self.expires_at = expires_at
        self.sealed_by_older_key = sealed_by_older_key

    def clear(self) -> None:
        super().clear()
        self.expires_at = None  # a cleared session is a new one: its lifetime starts when next stored


class CookieAttributes(TypedDict):
    domain: str | None
    path: str
    secure: bool
    httponly: bool
    samesite: str | None
    partitioned: bool


class SealedSessionInterface(SessionInterface):
    """Keeps the whole session in a cookie sealed with the keyring.

    The lifetime is fixed, not sliding: the session ends PERMANENT_SESSION_LIFETIME
    after it was first stored, however busy it is. A sealed cookie cannot be
    revoked before it expires, so a stolen one must not stay alive by being used.
    """

    session_class = SealedSession

    def __init__(self, keyring: Keyring, clock: Callable[[], float] = time.time) -> None:
        self.keyring = keyring
        self.clock = clock

    def open_session(self, app: Flask, request: Request) -> SealedSession:
        token = request.cookies.get(self.get_cookie_name(app))
        if token is None:
            return SealedSession()
        try:
            opened = self.keyring.open(token, SESSION_PURPOSE)
        except ValueError as failure:
            app.logger.warning("session cookie refused: %s", failure)
            return SealedSession()
        # Outside the try: a payload that does not parse is our bug, not a forged cookie.
        payload = session_json_serializer.loads(opened.plaintext.decode())
        return SealedSession(payload["data"], payload["expires_at"], not opened.by_newest_key)

    def save_session(self, app: Flask, session: SealedSession, response: Response) -> None:  # type: ignore[override]
        name = self.get_cookie_name(app)
        attributes = CookieAttributes(
            domain=self.get_cookie_domain(app), path=self.get_cookie_path(app), secure=self.get_cookie_secure(app),
            httponly=self.get_cookie_httponly(app), samesite=self.get_cookie_samesite(app),
            partitioned=self.get_cookie_partitioned(app),
        )
        if session.accessed:
            response.vary.add("Cookie")
        if not session:
            if session.modified:
                response.delete_cookie(name, **attributes)
            return
        if not (session.modified or session.sealed_by_older_key):
            return
        if session.expires_at is None:
            session.expires_at = int(self.clock() + app.permanent_session_lifetime.total_seconds())
        # The refusal counts the session's own JSON; the expiry beside it costs 33 bytes.
        session_json = session_json_serializer.dumps(dict(session))
        plaintext = session_json_serializer.dumps({"expires_at": session.expires_at, "data": dict(session)}).encode()
        cookie = None
        if len(plaintext) <= MAX_PLAINTEXT_BYTES:
            token = self.keyring.seal(plaintext, session.expires_at, SESSION_PURPOSE)
            cookie = dump_cookie(name, token, expires=session.expires_at, max_size=0, **attributes)
        if cookie is None or len(cookie) > response.max_cookie_size:
            # Flask finalises its error response with this same session: left
            # as it is, it would be refused (and logged) a second time.
            session.modified = session.sealed_by_older_key = False
            raise SessionTooLarge(len(session_json.encode()), response.max_cookie_size)
        response.headers.add("Set-Cookie", cookie)
        response.vary.add("Cookie")


def text(body: str, status: int = 200) -> Response:
    # Plain text, so that a user name echoed back is never read as HTML.
    return Response(body + "\n", status, mimetype="text/plain")


def create_app(keys: str | None = None, clock: Callable[[], float] = time.time) -> Flask:
    """Builds the application from key entries, by default those in the APP_KEYS environment variable."""
    keyring = Keyring.from_environment() if keys is None else Keyring.parse(keys)
    app = Flask(__name__)
    app.config.update(
        PERMANENT_SESSION_LIFETIME=timedelta(hours=12),
        SESSION_COOKIE_SECURE=True,
        SESSION_COOKIE_HTTPONLY=True,
        SESSION_COOKIE_SAMESITE="Lax",
    )
    app.session_interface = SealedSessionInterface(keyring, clock)

    @app.get("/login")
    def login_form() -> Response:
        return Response('<!doctype html><title>login</title><form method="post" action="/login">'
                        '<label>user <input name="user" id="user"></label> <button id="submit">login</button></form>',
                        mimetype="text/html")

    @app.post("/login")
    def login() -> Response:
        # A real application checks a password here.
        user = request.form.get("user", "")
        if not user:
            return text("name a user", 400)
        session.clear()  # a new session, not one carried over from before
        session["user"] = user
        return text(f"signed in as {user}")

    @app.post("/logout")
    def logout() -> Response:
        session.clear()
        return text("signed out")

    @app.get("/")
    def home() -> Response:
        if "user" not in session:
            return text("not signed in", 401)
        return text(f"hello, {session['user']}")

    @app.route("/note", methods=["GET", "POST"])
    def note() -> Response:
        if "user" not in session:
            return text("not signed in", 401)
        if request.method == "POST":
            session["note"] = request.form.get("note", "")
        return text(f"the session holds {len(session_json_serializer.dumps(dict(session)).encode())} bytes of JSON")

    @app.post("/email")
    def request_confirmation() -> Response:
        if "user" not in session:
            return text("not signed in", 401)
        claim = json.dumps({"user": session["user"], "email": request.form["email"]}).encode()
        token = keyring.seal(claim, int(clock() + CONFIRM_LIFETIME.total_seconds()), CONFIRM_PURPOSE)
        # A real application e-mails the link; url_for quotes the token's "=" padding as %3D.
        return text(url_for("confirm", token=token, _external=True))

    @app.get("/confirm")
    def confirm() -> Response:
        try:
            opened = keyring.open(request.args.get("token", ""), CONFIRM_PURPOSE)
        except ValueError as failure:
            app.logger.warning("confirmation link refused: %s", failure)
            return text("this link is invalid or has expired", 400)
        claim = json.loads(opened.plaintext)
        return text(f"confirmed {claim['email']} for {claim['user']}")

    return app


if __name__ == "__main__":
    if KEYS_ENV not in os.environ:
        os.environ[KEYS_ENV] = new_key_entry("XCHACHA20_POLY1305")
        print(f"{KEYS_ENV} not set: using a random key for this run", file=sys.stderr)
    create_app().run()
