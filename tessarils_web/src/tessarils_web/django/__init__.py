"""A Django session engine keeping the whole session in a sealed cookie::

    SESSION_ENGINE = "tessarils_web.django"
    TESSARILS_KEYS_ENV = "APP_KEYS"          # the variable holding the keys, newest first
    INSTALLED_APPS = [..., "tessarils_web.django"]   # optional: `manage.py check` then checks the keys

Settings read: ``SESSION_COOKIE_AGE`` (the maximum age; fixed from sign-in
unless ``TESSARILS_SESSION_ABSOLUTE_AGE`` turns on sliding renewal up to
that ceiling), ``SESSION_EXPIRE_AT_BROWSER_CLOSE``, the ``SESSION_COOKIE_*``
settings, ``TESSARILS_KEYRING`` (a :class:`~tessarils_web.Keyring`, instead
of the variable), ``TESSARILS_SESSION_STORE`` (a revocation store) and
``TESSARILS_SESSION_ON_STORE_ERROR``. ``request.session.set_expiry()`` works
within the maximum age. ``flush()`` (what ``logout()`` calls) signs out, and
``cycle_key()`` (what ``login()`` calls) starts a session with a new id.
"""

from __future__ import annotations

import functools
import hashlib
import os
from datetime import UTC, datetime
from typing import Any

from django.conf import settings
from django.contrib.sessions.backends.base import SessionBase
from django.core.exceptions import ImproperlyConfigured
from django.http import HttpResponse
from django.utils.http import http_date

from ..errors import KeyConfigError
from ..keyring import Keyring
from ..revocation.store import RevocationStore
from ..sessions.core import SessionCodec, SessionState, SessionTooLarge

DEFAULT_KEYS_ENV = "APP_KEYS"


def codec() -> SessionCodec:
    """The session codec the current settings describe; raises ImproperlyConfigured naming what is wrong."""
    keyring = getattr(settings, "TESSARILS_KEYRING", None)
    if keyring is not None and not isinstance(keyring, Keyring):
        del keyring  # perhaps key entries: error pages print this frame's locals
        raise ImproperlyConfigured("tessarils_web session engine: TESSARILS_KEYRING must be a tessarils_web.Keyring "
                                   "(for key entries in an environment variable, set TESSARILS_KEYS_ENV)")
    variable = getattr(settings, "TESSARILS_KEYS_ENV", DEFAULT_KEYS_ENV)
    store = getattr(settings, "TESSARILS_SESSION_STORE", None)
    return _codec(
        keyring if keyring is not None else _entries_digest(variable), variable, settings.SESSION_COOKIE_AGE,
        getattr(settings, "TESSARILS_SESSION_ABSOLUTE_AGE", None), _Same(store),
        getattr(settings, "TESSARILS_SESSION_ON_STORE_ERROR", "fail_closed"),
    )


class _Same:
    """A store as a cache key, by identity: a store need not be hashable (a dataclass is not)."""

    def __init__(self, store: RevocationStore | None) -> None:
        self.store = store

    def __hash__(self) -> int:
        return id(self.store)

    def __eq__(self, other: object) -> bool:
        return isinstance(other, _Same) and other.store is self.store


def _entries_digest(variable: str) -> str | None:
    """What the cache knows the variable's entries by: a digest, since error pages print its arguments."""
    entries = os.environb.get(os.fsencode(variable))
    return None if entries is None else hashlib.sha256(entries).hexdigest()


def keyring() -> Keyring:
    """The keyring the session engine uses, for the application's own tokens (reset links, say)."""
    return codec().keyring


@functools.lru_cache(maxsize=8)
def _codec(keys: Keyring | str | None, variable: str, max_age: int, absolute_max_age: int | None,
           store: _Same, on_store_error: str) -> SessionCodec:
    # A cached codec holds its store, so no other store can take the id it is keyed by while it is cached.
    try:
        keyring = keys if isinstance(keys, Keyring) else Keyring.from_environment(variable)
        return SessionCodec(keyring, max_age=max_age, absolute_max_age=absolute_max_age, store=store.store,
                            on_store_error=on_store_error)  # type: ignore[arg-type]
    except (KeyConfigError, ValueError) as error:
        raise ImproperlyConfigured(f"tessarils_web session engine: {error}") from error


def _idle_span(data: dict[str, Any]) -> int | None:
    """How far sliding renewal may move the expiry, from what ``set_expiry`` stored in the session.

    Seconds are Django's idle lifetime; a date is a fixed end, never moved (0); none, or 0 for a
    browser-session cookie, leaves the maximum age (None).
    """
    expiry = data.get("_session_expiry")
    if isinstance(expiry, str):
        return 0
    if isinstance(expiry, int) and not isinstance(expiry, bool) and expiry > 0:
        return expiry
    return None


class SessionStore(SessionBase):
    def __init__(self, session_key: str | None = None) -> None:
        super().__init__(session_key)
        self._state: SessionState | None = None
        self._expiry_requested = False

    def load(self) -> dict[str, Any]:
        sessions = codec()
        state = sessions.load(self.session_key)
        if state is None:
            self._session_key = None  # an empty session: the middleware deletes the cookie
            return {}
        self._state = state
        if state.sealed_by_older_key or sessions.renew(state, _idle_span(state.data)):
            self.modified = True  # sealed again when the response goes out
        return dict(state.data)

    def _data(self) -> dict[str, Any]:
        """The session's data, opened from the cookie on first use (SessionBase's loader, which its stubs omit)."""
        data: dict[str, Any] = getattr(self, "_get_session")()
        return data

    def set_expiry(self, value: Any) -> None:
        super().set_expiry(value)
        self._expiry_requested = True

    async def aset_expiry(self, value: Any) -> None:
        self.set_expiry(value)  # SessionBase's own stores the value without telling this engine

    def _current(self) -> SessionState:
        sessions = codec()
        data = self._data()
        if self._state is None:
            self._state = sessions.new(data)
        if self._expiry_requested:
            self._expiry_requested = False
            sessions.limit_expiry(self._state, sessions.now() + super().get_expiry_age())
        return self._state

    def get_expiry_age(self, **kwargs: Any) -> int:
        if kwargs:
            return super().get_expiry_age(**kwargs)
        return max(0, self._current().expires_at - codec().now())

    def get_expiry_date(self, **kwargs: Any) -> datetime:
        if kwargs:
            return super().get_expiry_date(**kwargs)
        return datetime.fromtimestamp(self._current().expires_at, UTC)

    async def aget_expiry_age(self, **kwargs: Any) -> int:
        return self.get_expiry_age(**kwargs)

    async def aget_expiry_date(self, **kwargs: Any) -> datetime:
        return self.get_expiry_date(**kwargs)

    def save(self, must_create: bool = False) -> None:
        sessions = codec()
        state = self._current()
        state.data = dict(self._data())
        changed = state.changed()
        try:
            token = sessions.seal(state)
        except SessionTooLarge:
            token = ""
        if token and sessions.fits(self._set_cookie_value(token)):
            self._session_key = token
            state.loaded_json = b""  # saved again in this request (an error page), it is sealed again
            return
        if changed or not self.session_key:
            raise sessions.too_large(state)
        sessions.keep_old_cookie(state)  # the cookie keeps its token; the middleware sends it back unchanged

    def _set_cookie_value(self, token: str) -> str:
        """The Set-Cookie value that SessionMiddleware will send for this token."""
        max_age = None if self.get_expire_at_browser_close() else self.get_expiry_age()
        response = HttpResponse()
        response.set_cookie(
            settings.SESSION_COOKIE_NAME, token, max_age=max_age,
            expires=None if max_age is None else http_date(codec().now() + max_age),
            domain=settings.SESSION_COOKIE_DOMAIN, path=settings.SESSION_COOKIE_PATH,
            secure=bool(settings.SESSION_COOKIE_SECURE), httponly=bool(settings.SESSION_COOKIE_HTTPONLY),
            samesite=settings.SESSION_COOKIE_SAMESITE,
        )
        return response.cookies[settings.SESSION_COOKIE_NAME].OutputString()

    # The cookie is the store: nothing to look up or create elsewhere.
    def exists(self, session_key: str | None) -> bool:
        return False

    def create(self) -> None:
        self.modified = True

    def delete(self, session_key: str | None = None) -> None:
        """Signs the session out: with a store, its id stays revoked until it would have expired."""
        if self._state is not None:
            codec().revoke(self._state)
        self._state = None
        self._session_key = ""
        self._session_cache: dict[str, Any] = {}
        self.modified = True

    def flush(self) -> None:
        self._data()  # the session to sign out must be opened before clear() forgets it
        super().flush()

    async def aflush(self) -> None:
        self.flush()

    def cycle_key(self) -> None:
        """Keeps the data under a new session id and sign-in time, and revokes the old id."""
        data = self._data()
        old, self._state = self._state, codec().new(data)
        self.modified = True
        if old is not None:
            codec().revoke(old)

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
