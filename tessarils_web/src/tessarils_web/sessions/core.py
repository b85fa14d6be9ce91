"""Sessions kept whole in a sealed cookie: what every framework integration shares.

The server, not the token, sets a session's lifetime. A session opens only
if its authenticated expiry exists and lies no further ahead than
``max_age``, and no later than ``absolute_max_age`` after sign-in (the
sign-in time travels sealed in the payload). Re-sealing under the newest key
keeps the expiry; only sliding renewal, when ``absolute_max_age`` is set,
moves it, and never past that ceiling. Every session carries a random id:
with a revocation store, signing out revokes it until the session would have
expired anyway, and every request checks it.
"""

from __future__ import annotations

import json
import logging
import math
import secrets
from collections.abc import Callable
from dataclasses import dataclass, field
from typing import Any, Literal

from ..errors import ExpiredToken, InvalidToken, MalformedToken, PayloadTooLarge
from ..keyring import Keyring, dumps
from ..revocation.store import RevocationStore
from ..store_errors import OnStoreError, ask_store, check_policy

PURPOSE = "session"
# The longest Set-Cookie value (name, token and attributes) browsers are trusted to keep.
MAX_COOKIE_BYTES = 4093
# Clock skew allowed between the machines that sign in and those that check.
SKEW_SECONDS = 60
# Sliding renewal re-seals at most this often, not on every request.
RENEW_INTERVAL_SECONDS = 60
log = logging.getLogger("tessarils_web.sessions")


class SessionTooLarge(PayloadTooLarge):
    """The session does not fit a cookie that browsers keep; the previous cookie is kept."""

    def __init__(self, session_json_bytes: int, max_cookie_bytes: int) -> None:
        super().__init__(
            f"session not stored: it holds {session_json_bytes} bytes of JSON, more than a cookie of "
            f"at most {max_cookie_bytes} bytes carries; keep large data on the server"
        )


@dataclass
class SessionState:
    """One session: its data, its id, when it began and when it ends (both UNIX seconds)."""

    data: dict[str, Any]
    session_id: str
    issued_at: int
    expires_at: int
    sealed_by_older_key: bool = False
    loaded_json: bytes = field(default=b"", repr=False)  # the data as opened, to tell a changed session

    def changed(self) -> bool:
        return dumps(self.data) != self.loaded_json


class SessionCodec:
    """Opens, checks, seals and revokes sessions under one keyring and one lifetime policy."""

    def __init__(self, keyring: Keyring, *, max_age: int, absolute_max_age: int | None = None,
                 store: RevocationStore | None = None, on_store_error: OnStoreError = "fail_closed",
                 max_cookie_bytes: int = MAX_COOKIE_BYTES) -> None:
        if isinstance(max_age, bool) or not isinstance(max_age, int) or max_age < 1:
            raise ValueError("max_age must be a whole number of seconds, at least 1")
        if absolute_max_age is not None and (not isinstance(absolute_max_age, int) or absolute_max_age < max_age):
            raise ValueError("absolute_max_age must be a whole number of seconds, at least max_age")
        self.keyring = keyring
        self.max_age = max_age
        self.sliding = absolute_max_age is not None
        self.absolute_max_age = max_age if absolute_max_age is None else absolute_max_age
        self.store = store
        self.on_store_error = check_policy(on_store_error)
        self.max_cookie_bytes = max_cookie_bytes
        self._overflow_logged = False

    def now(self) -> int:
        return math.floor(self.keyring.now())

    def new(self, data: dict[str, Any] | None = None) -> SessionState:
        """A session signed in now, with a fresh id."""
        now = self.now()
        return SessionState(dict(data or {}), secrets.token_urlsafe(16), now, now + self.max_age)

    def load(self, token: str | None) -> SessionState | None:
        """The session ``token`` holds, or None when there is none or it is refused (the reason is logged).

        Raises :class:`~tessarils_web.revocation.StoreUnavailable` when the
        store cannot say whether the session was revoked and the policy is
        ``fail_closed``.
        """
        if not token:
            return None
        try:
            state = self._open(token)
        except InvalidToken as refusal:
            log.warning("session cookie refused (%s): %s", type(refusal).__name__, refusal)
            return None
        if self.store is not None:
            store = self.store
            revoked = ask_store(lambda: store.is_revoked(state.session_id), policy=self.on_store_error,
                                open_answer=False, what="checking a session")
            if revoked:
                log.info("session cookie refused: the session was signed out")
                return None
        return state

    def _open(self, token: str) -> SessionState:
        opened = self.keyring.open(token, purpose=PURPOSE)
        now = self.now()
        if opened.expires_at is None:
            raise InvalidToken("the session has no expiry; the server sets its lifetime")
        if opened.expires_at <= now:
            raise ExpiredToken("the session has expired")
        # A session sealed a moment ago by a machine whose clock is ahead reaches a bit further.
        if opened.expires_at > now + self.max_age + SKEW_SECONDS:
            raise InvalidToken("the session's expiry is further ahead than the configured maximum age")
        try:
            body = json.loads(opened.payload)
        except ValueError as error:
            raise MalformedToken("the payload is not a session") from error
        if not isinstance(body, dict):
            raise MalformedToken("the payload is not a session")
        data, session_id, issued_at = body.get("data"), body.get("sid"), body.get("iat")
        if not (isinstance(data, dict) and isinstance(session_id, str) and session_id
                and isinstance(issued_at, int) and not isinstance(issued_at, bool)):
            raise MalformedToken("the payload is not a session")
        if issued_at > now + SKEW_SECONDS or opened.expires_at > issued_at + self.absolute_max_age:
            raise InvalidToken("the session outlives the absolute maximum age counted from sign-in")
        return SessionState(data, session_id, issued_at, opened.expires_at, opened.needs_reseal, dumps(data))

    def renew(self, state: SessionState, span: int | None = None) -> bool:
        """Slides the expiry forward when renewal is configured and due; never past the absolute maximum.

        ``span`` is a shorter idle lifetime the application asked for; renewal then slides by that.
        """
        if not self.sliding:
            return False
        step = self.max_age if span is None else min(span, self.max_age)
        target = min(self.now() + step, state.issued_at + self.absolute_max_age)
        if target - state.expires_at < RENEW_INTERVAL_SECONDS:
            return False
        state.expires_at = target
        return True

    def limit_expiry(self, state: SessionState, requested: int) -> None:
        """Moves the expiry to ``requested`` (an application's own choice), within the server's bounds.

        A time already past ends the session a second from now: a token cannot be sealed expired.
        """
        now = self.now()
        ceiling = min(now + self.max_age, state.issued_at + self.absolute_max_age)
        state.expires_at = max(now + 1, min(requested, ceiling))

    def seal(self, state: SessionState) -> str:
        """The token for ``state``; raises :class:`SessionTooLarge` when it cannot carry it."""
        body = dumps({"sid": state.session_id, "iat": state.issued_at, "data": state.data})
        try:
            return self.keyring.seal(body, purpose=PURPOSE, expires_at=state.expires_at)
        except PayloadTooLarge as error:
            raise SessionTooLarge(len(dumps(state.data)), self.max_cookie_bytes) from error

    def too_large(self, state: SessionState) -> SessionTooLarge:
        return SessionTooLarge(len(dumps(state.data)), self.max_cookie_bytes)

    def fits(self, set_cookie_value: str) -> bool:
        return len(set_cookie_value.encode()) <= self.max_cookie_bytes

    def keep_old_cookie(self, state: SessionState) -> None:
        """Logs (once per codec, then quietly) that a re-sealed session would not fit, so the old cookie stays."""
        level = logging.DEBUG if self._overflow_logged else logging.WARNING
        self._overflow_logged = True
        log.log(level, "session of %d bytes of JSON kept as it was: sealed again (under the newest key, or "
                "renewed) it would not fit a cookie; it expires as before", len(dumps(state.data)))

    def revoke(self, state: SessionState) -> None:
        """Signs ``state`` out for good when a store is configured; without one, clearing the cookie is all."""
        if self.store is None:
            return
        store = self.store
        # Until the last moment any token of this id can open: a racing request may have renewed it past this one.
        until = state.issued_at + self.absolute_max_age
        ask_store(lambda: store.revoke(state.session_id, until), policy=self.on_store_error,
                  open_answer=None, what="signing a session out")

    def respond(self, state: SessionState | None, data: dict[str, Any], *, had_cookie: bool,
                render: Callable[[str, SessionState], str]) -> tuple[Literal["keep", "delete", "set"], str]:
        """What the response does with the cookie: ``("set", header)``, ``("delete", "")`` or ``("keep", "")``.

        ``state`` is the session the request opened (None for none), ``data``
        what the application left in it, and ``render`` builds the Set-Cookie
        value for a token, so that its whole size is checked. A changed session
        too large for a cookie raises :class:`SessionTooLarge` (the browser keeps
        the previous cookie); one that is only re-sealed keeps its old cookie.
        """
        if not data:
            return ("delete", "") if had_cookie else ("keep", "")
        if state is None:
            state = self.new(data)
        state.data = data
        changed = state.changed()
        renewed = self.renew(state)
        if not (changed or renewed or state.sealed_by_older_key):
            return "keep", ""
        try:
            header = render(self.seal(state), state)
        except SessionTooLarge:
            header = ""
        if header and self.fits(header):
            return "set", header
        if changed:
            raise self.too_large(state)
        self.keep_old_cookie(state)
        return "keep", ""
