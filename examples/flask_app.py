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
import secrets
import sys
import time
from collections.abc import Callable, Mapping
from dataclasses import dataclass
from datetime import timedelta
from typing import Any, TypedDict

from flask import Flask, Request, Response, request, session, url_for
from flask.sessions import SecureCookieSession, SessionInterface, session_json_serializer
from werkzeug.http import dump_cookie

from tessarils import Backend, Tessaril

KEYS_ENV = "APP_KEYS"
BACKENDS = {"AES256_GCM": Backend.AES256_GCM, "XCHACHA20_POLY1305": Backend.XCHACHA20_POLY1305}
SESSION_PURPOSE = "session"
CONFIRM_PURPOSE = "confirm-email"
CONFIRM_LIFETIME = timedelta(hours=24)
MAX_PLAINTEXT_BYTES = 16384

# Base64url characters of a nonce: 12 bytes under AES-256-GCM, 24 under XChaCha20-Poly1305.
NONCE_CHARS = {"AES256_GCM": 16, "XCHACHA20_POLY1305": 32}
# What a key of the token's backend answers when another key of that backend sealed it.
OTHER_KEY_FAILURE = "the data has been modified"


@dataclass(frozen=True)
class Opened:
    plaintext: bytes
    by_newest_key: bool


@dataclass(frozen=True)
class Key:
    box: Tessaril
    nonce_chars: int


class Keyring:
    """Seals with the newest of several keys and opens with any of them."""

    def __init__(self, keys: list[Key]) -> None:
        if not keys:
            raise ValueError("a keyring needs at least one key")
        self.keys = keys

    @classmethod
    def parse(cls, entries: str) -> Keyring:
        """Builds a keyring from "BACKEND:DECIMAL_KEY" entries separated by spaces or commas, newest first.

        The error messages never repeat the key. The integers parsed here are
        ordinary Python objects and cannot be wiped from memory afterwards.
        """
        keys = []
        for position, entry in enumerate(entries.replace(",", " ").split(), start=1):
            name, _, digits = entry.partition(":")
            if name not in BACKENDS or not (digits.isascii() and digits.isdigit()):
                raise ValueError(f"key entry {position} is not BACKEND:DECIMAL_KEY with BACKEND one of {sorted(BACKENDS)}")
            keys.append(Key(Tessaril(BACKENDS[name], key=int(digits)), NONCE_CHARS[name]))
        return cls(keys)

    def seal(self, plaintext: bytes, expires_at: int, purpose: str) -> str:
        return self.keys[0].box.encrypt(plaintext, expires_at=expires_at, purpose=purpose)

    def open(self, token: str, purpose: str) -> Opened:
        """Opens with the keys of the token's backend, newest first; raises the ValueError of the key that decided.

        A key of the other backend would only say "invalid token" (the nonce
        has the other size), which a key of the right backend also says for
        an authentic but malformed context record: that one comes from the
        key that sealed it and must end the search, so only keys whose nonce
        size the token has are asked. A token whose nonce fits neither is
        refused the same way by every key.
        """
        nonce_chars = len(token.partition(".")[0])
        asked = [(age, key) for age, key in enumerate(self.keys) if key.nonce_chars == nonce_chars]
        asked = asked or [(0, self.keys[0])]
        for count, (age, key) in enumerate(asked, start=1):
            try:
                return Opened(key.box.decrypt_for(token, purpose), by_newest_key=age == 0)
            except ValueError as failure:
                if str(failure) != OTHER_KEY_FAILURE or count == len(asked):
                    raise  # the right key refused it (expired, another purpose, malformed), or no key is left
        raise AssertionError("a keyring is never empty")


def new_key_entry(backend_name: str) -> str:
    return f"{backend_name}:{secrets.randbits(128)}"


class SessionTooLarge(RuntimeError):
    """The session does not fit a cookie that browsers keep; they would drop it without a word."""


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
        # The budget is counted on the session's own JSON, the figure a reader
        # can compare with the README; the expiry beside it costs 33 bytes.
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
            raise SessionTooLarge(
                f"session not stored: it holds {len(session_json.encode())} bytes of JSON, more than a cookie of "
                f"at most {response.max_cookie_size} bytes carries; keep large data on the server"
            )
        response.headers.add("Set-Cookie", cookie)
        response.vary.add("Cookie")


def text(body: str, status: int = 200) -> Response:
    # Plain text, so that a user name echoed back is never read as HTML.
    return Response(body + "\n", status, mimetype="text/plain")


def create_app(keys: str | None = None, clock: Callable[[], float] = time.time) -> Flask:
    """Builds the application from key entries, by default those in the APP_KEYS environment variable."""
    if keys is None:
        if KEYS_ENV not in os.environ:
            raise RuntimeError(f"set {KEYS_ENV} to one or more BACKEND:DECIMAL_KEY entries, newest first")
        keys = os.environ[KEYS_ENV]
    keyring = Keyring.parse(keys)
    app = Flask(__name__)
    app.config.update(
        PERMANENT_SESSION_LIFETIME=timedelta(hours=12),
        SESSION_COOKIE_SECURE=True,
        SESSION_COOKIE_HTTPONLY=True,
        SESSION_COOKIE_SAMESITE="Lax",
    )
    app.session_interface = SealedSessionInterface(keyring, clock)

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
