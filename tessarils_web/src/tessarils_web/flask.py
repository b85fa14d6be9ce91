"""A Flask ``SessionInterface`` keeping the whole session in a sealed cookie::

    app.session_interface = SealedSessionInterface(Keyring.from_environment("APP_KEYS"))

The lifetime is ``PERMANENT_SESSION_LIFETIME``, fixed from sign-in unless
``absolute_max_age`` turns on sliding renewal up to that ceiling. The cookie
honours Flask's ``SESSION_COOKIE_*`` settings; a session that is not
``permanent`` gets a browser-session cookie, though its token still expires.
``session.clear()`` signs the session out.
"""

from __future__ import annotations

from collections.abc import Mapping
from typing import Any

from flask import Flask, Request, Response
from flask.sessions import SecureCookieSession, SessionInterface
from werkzeug.http import dump_cookie

from .keyring import Keyring
from .origin import is_cross_site
from .revocation.store import RevocationStore, StoreUnavailable
from .sessions.core import MAX_COOKIE_BYTES, SessionCodec, SessionState, SessionTooLarge
from .store_errors import OnStoreError, check_policy


class SealedSession(SecureCookieSession):
    """``flask.session``: remembers the sessions it signed out."""

    def __init__(self, initial: Mapping[str, Any] | None = None, state: SessionState | None = None) -> None:
        super().__init__(initial)
        self.state = state
        self.signed_out: list[SessionState] = []
        self.refused = False

    def clear(self) -> None:
        super().clear()
        if self.state is not None:
            self.signed_out.append(self.state)
        self.state = None


class SealedSessionInterface(SessionInterface):
    """Keeps ``flask.session`` whole in a sealed cookie: ``app.session_interface = SealedSessionInterface(keyring)``.

    ``absolute_max_age`` turns on sliding renewal up to that many seconds
    from sign-in; with a ``store``, ``session.clear()`` revokes the session's
    id, and ``on_store_error`` says what a request does when the store
    cannot answer.
    """

    session_class = SealedSession

    def __init__(self, keyring: Keyring, *, absolute_max_age: int | None = None,
                 store: RevocationStore | None = None, on_store_error: OnStoreError = "fail_closed") -> None:
        self.keyring = keyring
        self.absolute_max_age = absolute_max_age
        self.store = store
        self.on_store_error = check_policy(on_store_error)

    def codec(self, app: Flask) -> SessionCodec:
        """The codec for the app's PERMANENT_SESSION_LIFETIME and MAX_COOKIE_SIZE."""
        codecs: dict[tuple[int, int], SessionCodec] = app.extensions.setdefault("tessarils_web.sessions", {})
        max_age = int(app.permanent_session_lifetime.total_seconds())
        max_cookie_bytes = int(app.config.get("MAX_COOKIE_SIZE", MAX_COOKIE_BYTES))
        if (max_age, max_cookie_bytes) not in codecs:
            codecs[max_age, max_cookie_bytes] = SessionCodec(
                self.keyring, max_age=max_age, absolute_max_age=self.absolute_max_age, store=self.store,
                on_store_error=self.on_store_error, max_cookie_bytes=max_cookie_bytes)
        return codecs[max_age, max_cookie_bytes]

    def open_session(self, app: Flask, request: Request) -> SealedSession:
        state = self.codec(app).load(request.cookies.get(self.get_cookie_name(app)))
        return SealedSession(state.data if state else None, state)

    def save_session(self, app: Flask, session: SealedSession, response: Response) -> None:  # type: ignore[override]
        codec = self.codec(app)
        name = self.get_cookie_name(app)
        attributes: dict[str, Any] = dict(
            domain=self.get_cookie_domain(app), path=self.get_cookie_path(app), secure=self.get_cookie_secure(app),
            httponly=self.get_cookie_httponly(app), samesite=self.get_cookie_samesite(app),
            partitioned=self.get_cookie_partitioned(app),
        )
        if session.refused:
            return  # Flask saves the session again for its error page: a refused one stays as it was
        if session.state is not None and not session.keys() - {"_permanent"}:
            # Emptied by the application (session.pop("user"), Flask's own sign-out): it ends as clear() does.
            session.clear()
        try:
            for state in session.signed_out:
                codec.revoke(state)
        except StoreUnavailable:
            session.refused = True  # the sign-out could not be made final: the cookie is not cleared either
            raise
        session.signed_out = []
        if session.accessed:
            response.vary.add("Cookie")
        data = dict(session)

        def render(token: str, state: SessionState) -> str:
            if not session.permanent:
                return dump_cookie(name, token, max_size=0, **attributes)
            return dump_cookie(name, token, expires=state.expires_at, max_age=max(0, state.expires_at - codec.now()),
                               max_size=0, **attributes)

        had_cookie = name in _request_cookies()
        try:
            action, header = codec.respond(session.state, data, had_cookie=had_cookie, render=render)
        except SessionTooLarge:
            session.refused = True
            raise
        if action == "delete":
            response.delete_cookie(name, **attributes)
        elif action == "set":
            response.headers.add("Set-Cookie", header)
            response.vary.add("Cookie")
        session.modified = False


def refuse_cross_site(app: Flask) -> None:
    """Makes ``app`` answer 403 to a state-changing request sent from another site."""

    @app.before_request
    def same_origin_only() -> Response | None:
        from flask import request

        headers = request.headers
        if is_cross_site(request.method, headers.get("Sec-Fetch-Site"), headers.get("Origin"),
                         request.host_url.rstrip("/")):
            return Response("cross-site request refused\n", 403, mimetype="text/plain")
        return None


def _request_cookies() -> Mapping[str, str]:
    from flask import request

    return request.cookies
