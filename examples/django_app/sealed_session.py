"""A Django session engine that keeps the whole session in a cookie sealed with tessarils.

    SESSION_ENGINE = "django_app.sealed_session"
    SEALED_SESSION_KEYS = os.environ["APP_KEYS"]   # newest first, either backend

The server keeps no session store. The lifetime is fixed, not sliding: a
session ends SESSION_COOKIE_AGE after it was first stored, however busy it
is, because a sealed cookie cannot be revoked and a stolen one must not stay
alive by being used. A cookie opened with an older key is sealed again with
the newest. A refused cookie is logged with its reason and the request goes
on without a session; a session too large for a cookie is refused on the
server (SessionTooLarge, a 500 logged once) instead of being dropped by the
browser without a word.
"""

from __future__ import annotations

import functools
import json
import logging
import time
from datetime import UTC, datetime
from typing import Any

from django.conf import settings
from django.contrib.sessions.backends.base import SessionBase
from django.core.exceptions import ImproperlyConfigured
from django.http import HttpResponse
from django.utils.http import http_date

from sealed_keyring import Keyring
from session_budget import MAX_COOKIE_BYTES, MAX_PLAINTEXT_BYTES, SessionTooLarge

PURPOSE = "session"
log = logging.getLogger(__name__)
clock = time.time  # the tests move it


def keyring() -> Keyring:
    return _parse_keys(getattr(settings, "SEALED_SESSION_KEYS", ""))


@functools.lru_cache(maxsize=4)
def _parse_keys(entries: str) -> Keyring:
    if not entries.strip():
        raise ImproperlyConfigured("set SEALED_SESSION_KEYS to one or more BACKEND:DECIMAL_KEY entries, newest first")
    return Keyring.parse(entries)


def session_json(data: dict[str, Any]) -> str:
    """The session as the budget counts it: compact JSON, as Django's JSONSerializer writes it."""
    return json.dumps(data, separators=(",", ":"))


class SessionStore(SessionBase):
    def __init__(self, session_key: str | None = None) -> None:
        super().__init__(session_key)
        self.expires_at: int | None = None

    def load(self) -> dict[str, Any]:
        try:
            opened = keyring().open(self.session_key, PURPOSE)
        except ValueError as failure:
            log.warning("session cookie refused: %s", failure)
            self._session_key = None  # an empty session: the middleware deletes the cookie
            return {}
        # Outside the try: a payload that does not parse is our bug, not a forged cookie.
        payload = json.loads(opened.plaintext)
        self.expires_at = payload["expires_at"]
        if not opened.by_newest_key:
            self.modified = True  # sealed again with the newest key when the response goes out
        data: dict[str, Any] = payload["data"]
        return data

    def clear(self) -> None:
        super().clear()
        self.expires_at = None  # a cleared session is a new one: its lifetime starts when next stored

    def _expires_at(self) -> int:
        if self.expires_at is None:
            self.expires_at = int(clock()) + self.get_session_cookie_age()
        return self.expires_at

    def get_expiry_age(self, **kwargs: Any) -> int:
        return max(0, self._expires_at() - int(clock()))

    def get_expiry_date(self, **kwargs: Any) -> datetime:
        return datetime.fromtimestamp(self._expires_at(), UTC)

    async def aget_expiry_age(self, **kwargs: Any) -> int:
        return self.get_expiry_age()

    async def aget_expiry_date(self, **kwargs: Any) -> datetime:
        return self.get_expiry_date()

    def save(self, must_create: bool = False) -> None:
        data = self._get_session(no_load=must_create)
        expires_at = self._expires_at()
        plaintext = json.dumps({"expires_at": expires_at, "data": data}, separators=(",", ":")).encode()
        token = self._seal(plaintext, expires_at)
        if token is None:
            raise SessionTooLarge(len(session_json(data).encode()), MAX_COOKIE_BYTES)
        self._session_key = token
        self.modified = True

    def _seal(self, plaintext: bytes, expires_at: int) -> str | None:
        """The token, or None when it would not fit a cookie that browsers keep."""
        if len(plaintext) > MAX_PLAINTEXT_BYTES:
            return None
        token = keyring().seal(plaintext, expires_at, PURPOSE)
        return token if len(self._set_cookie_value(token)) <= MAX_COOKIE_BYTES else None

    def _set_cookie_value(self, token: str) -> str:
        """The Set-Cookie value that SessionMiddleware will send for this token."""
        max_age = None if self.get_expire_at_browser_close() else self.get_expiry_age()
        response = HttpResponse()
        response.set_cookie(
            settings.SESSION_COOKIE_NAME, token, max_age=max_age,
            expires=None if max_age is None else http_date(clock() + max_age),
            domain=settings.SESSION_COOKIE_DOMAIN, path=settings.SESSION_COOKIE_PATH,
            secure=settings.SESSION_COOKIE_SECURE or None, httponly=settings.SESSION_COOKIE_HTTPONLY or None,
            samesite=settings.SESSION_COOKIE_SAMESITE,
        )
        return response.cookies[settings.SESSION_COOKIE_NAME].OutputString()

    # The cookie is the store: there is nothing to look up, create or delete elsewhere.
    def exists(self, session_key: str | None) -> bool:
        return False

    def create(self) -> None:
        self.modified = True

    def delete(self, session_key: str | None = None) -> None:
        self._session_key = ""
        self._session_cache = {}
        self.modified = True

    def cycle_key(self) -> None:
        self.save()

    async def aload(self) -> dict[str, Any]:
        return self.load()

    async def asave(self, must_create: bool = False) -> None:
        self.save(must_create)

    async def aexists(self, session_key: str | None) -> bool:
        return False

    async def acreate(self) -> None:
        self.create()

    async def adelete(self, session_key: str | None = None) -> None:
        self.delete(session_key)

    async def acycle_key(self) -> None:
        self.cycle_key()

    @classmethod
    def clear_expired(cls) -> None:
        pass

    @classmethod
    async def aclear_expired(cls) -> None:
        pass
