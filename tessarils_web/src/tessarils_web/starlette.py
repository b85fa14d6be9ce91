"""An ASGI session middleware for Starlette and FastAPI, keeping the whole session in a sealed cookie::

    app.add_middleware(SealedSessionMiddleware, keyring=Keyring.from_environment("APP_KEYS"))

It takes the parameters of Starlette's own ``SessionMiddleware`` (a keyring
in place of ``secret_key``), and handlers use ``request.session`` as with it.
``request.session.clear()`` signs the session out: with a ``store`` its id is
revoked until it would have expired.
"""

from __future__ import annotations

from typing import Any, Literal

from starlette.datastructures import MutableHeaders
from starlette.requests import HTTPConnection
from starlette.responses import PlainTextResponse
from starlette.types import ASGIApp, Message, Receive, Scope, Send

from .keyring import Keyring
from .origin import is_cross_site
from .revocation.store import RevocationStore
from .sessions.core import SessionCodec, SessionState
from .store_errors import OnStoreError


class SealedSession(dict[str, Any]):
    """``request.session``: a dict that remembers the sessions it signed out."""

    def __init__(self, state: SessionState | None) -> None:
        super().__init__(state.data if state is not None else {})
        self.state = state
        self.signed_out: list[SessionState] = []

    def clear(self) -> None:
        super().clear()
        if self.state is not None:
            self.signed_out.append(self.state)
        self.state = None  # what is stored next is a new session, with a new id and lifetime


class SealedSessionMiddleware:
    """Opens the session cookie into ``scope["session"]`` and seals the session into the response.

    The parameters are those of Starlette's ``SessionMiddleware``, with a
    ``keyring`` in place of ``secret_key`` and ``https_only`` on by default,
    plus ``absolute_max_age`` (sliding renewal up to that many seconds from
    sign-in), ``store`` (revoke on sign-out, check on every request) and
    ``on_store_error`` (what a request does when the store cannot answer).
    """

    def __init__(self, app: ASGIApp, keyring: Keyring, session_cookie: str = "session", max_age: int = 14 * 24 * 3600,
                 path: str = "/", same_site: Literal["lax", "strict", "none"] = "lax", https_only: bool = True,
                 domain: str | None = None, *, absolute_max_age: int | None = None,
                 store: RevocationStore | None = None, on_store_error: OnStoreError = "fail_closed") -> None:
        self.app = app
        self.codec = SessionCodec(keyring, max_age=max_age, absolute_max_age=absolute_max_age, store=store,
                                  on_store_error=on_store_error)
        self.session_cookie = session_cookie
        self.path = path
        self.same_site = same_site
        self.https_only = https_only
        self.domain = domain

    async def __call__(self, scope: Scope, receive: Receive, send: Send) -> None:
        if scope["type"] not in ("http", "websocket"):
            await self.app(scope, receive, send)
            return
        token = HTTPConnection(scope).cookies.get(self.session_cookie)
        session = SealedSession(self.codec.load(token))
        scope["session"] = session

        async def send_with_cookie(message: Message) -> None:
            if message["type"] == "http.response.start":
                if session.state is not None and not session:
                    session.clear()  # emptied by the application (the last key popped): it ends as a sign-out does
                for state in session.signed_out:
                    self.codec.revoke(state)
                action, header = self.codec.respond(session.state, dict(session), had_cookie=token is not None,
                                                    render=self._render)
                headers = MutableHeaders(scope=message)
                if action == "set":
                    headers.append("set-cookie", header)
                elif action == "delete":
                    headers.append("set-cookie", self._cookie("", 0))
                headers.add_vary_header("Cookie")
            await send(message)

        await self.app(scope, receive, send_with_cookie)

    def _render(self, token: str, state: SessionState) -> str:
        return self._cookie(token, max(0, state.expires_at - self.codec.now()))

    def _cookie(self, value: str, max_age: int) -> str:
        # Written out rather than through http.cookies, which would quote a token for its "=".
        attributes = [f"Path={self.path}", f"Max-Age={max_age}", "HttpOnly", f"SameSite={self.same_site}"]
        attributes += ["Secure"] * self.https_only + [f"Domain={self.domain}"] * (self.domain is not None)
        return "; ".join([f"{self.session_cookie}={value}", *attributes])


class SameOriginMiddleware:
    """Answers 403 to a state-changing request sent from another site, and refuses its WebSocket handshakes."""

    def __init__(self, app: ASGIApp) -> None:
        self.app = app

    async def __call__(self, scope: Scope, receive: Receive, send: Send) -> None:
        if scope["type"] in ("http", "websocket"):
            connection = HTTPConnection(scope)
            # A handshake is a GET, but it opens a channel that carries the session both ways.
            method = scope["method"] if scope["type"] == "http" else "WEBSOCKET"
            own = f"{connection.url.scheme}://{connection.url.netloc}"
            if scope["type"] == "websocket":
                own = own.replace("ws", "http", 1)  # browsers send the page's origin: ws -> http, wss -> https
            headers = connection.headers
            if is_cross_site(method, headers.get("sec-fetch-site"), headers.get("origin"), own):
                if scope["type"] == "http":
                    await PlainTextResponse("cross-site request refused\n", 403)(scope, receive, send)
                else:
                    await send({"type": "websocket.close", "code": 1008})  # before accepting: the server answers 403
                return
        await self.app(scope, receive, send)
