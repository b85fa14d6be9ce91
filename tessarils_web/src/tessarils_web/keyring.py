"""The keyring: the newest key seals, every listed key that is not revoked opens."""

from __future__ import annotations

import base64
import binascii
import json
import time
from collections.abc import Callable, Iterable
from dataclasses import dataclass
from typing import Any

from tessarils import Backend, Tessaril

from .errors import MESSAGE_TYPES, KeyConfigError, MalformedToken, RevokedKey, TamperedToken, translate
from .expiry import Instant, Lifetime, resolve
from .keys import (NONCE_CHARS, KeySpec, KeyState, backend_name, entries_from_environment, key_problem, parse_entries,
                   repeated_key)

# What a key of the token's backend answers when another key sealed it: the one refusal that means "try the next key".
_NOT_THIS_KEY = next(message for message, kind in MESSAGE_TYPES.items() if kind is TamperedToken)


@dataclass(frozen=True)
class Opened:
    """An authenticated token's contents, and which key opened it.

    ``expires_at`` is read from the token's record once it authenticated
    (None when it never expires); ``key_index`` is the opening key's position
    in the keyring, 0 for the newest; ``needs_reseal`` is true when an older
    key opened it, so that it should be sealed again under the newest.
    """

    payload: bytes
    purpose: str
    expires_at: int | None  # read from the token's record after it authenticated; None when it never expires
    key_index: int  # position in the keyring, 0 for the newest key
    backend: Backend
    needs_reseal: bool  # an older key opened it: seal it again under the newest

    def text(self) -> str:
        """The payload as text."""
        return self.payload.decode()

    def json(self) -> Any:
        """The payload parsed as JSON."""
        return json.loads(self.payload)


@dataclass(frozen=True)
class _Key:
    box: Tessaril
    backend: Backend
    nonce_chars: int
    state: KeyState


def dumps(value: Any) -> bytes:
    """Compact UTF-8 JSON, refusing NaN and infinities that other readers reject."""
    return json.dumps(value, separators=(",", ":"), ensure_ascii=False, allow_nan=False).encode()


class Keyring:
    """Seals with the newest key and opens with any listed key that is not revoked.

    Build one from code (``Keyring([KeySpec(Backend.XCHACHA20_POLY1305, key)])``),
    from entries (:meth:`from_entries`) or from an environment variable
    (:meth:`from_environment`). The integers given are ordinary Python objects
    and cannot be wiped from memory; the keyring keeps only cipher state.
    """

    def __init__(self, keys: Iterable[KeySpec], *, clock: Callable[[], float] = time.time) -> None:
        if isinstance(keys, (str, bytes)):
            del keys  # key entries, most likely (Keyring(os.environ["APP_KEYS"])): error reports print locals
            raise TypeError("a Keyring takes KeySpecs; for BACKEND:DECIMAL_KEY entries use Keyring.from_entries "
                            "or Keyring.from_environment")
        specs = list(keys)
        if not all(isinstance(spec, KeySpec) for spec in specs):
            raise TypeError("a Keyring takes KeySpecs")
        if not specs:
            raise ValueError("a keyring needs at least one key")
        if specs[0].state is not KeyState.ACTIVE:
            raise ValueError("the newest key seals, so it cannot be retired or revoked")
        for position, spec in enumerate(specs, 1):
            problem = key_problem(spec.key)
            if problem is not None:
                raise KeyConfigError("keyring", f"key {position} {problem}")
        repeat = repeated_key(specs)
        if repeat is not None:
            raise KeyConfigError("keyring", f"key {repeat[1]} repeats key {repeat[0]}")
        self._keys = [
            _Key(Tessaril(spec.backend, key=spec.key), spec.backend, NONCE_CHARS[backend_name(spec.backend)],
                 spec.state)
            for spec in specs
        ]
        self._clock = clock

    @classmethod
    def from_entries(cls, entries: str, *, source: str = "key entries",
                     clock: Callable[[], float] = time.time) -> Keyring:
        """A keyring of ``BACKEND:DECIMAL_KEY`` entries, newest first, each optionally ending ``:retired`` or
        ``:revoked``; a :class:`~tessarils_web.KeyConfigError` names ``source`` and says what is wrong."""
        try:
            specs = parse_entries(entries, source)
        except KeyConfigError as error:
            refusal = KeyConfigError(error.source, error.reason)
        else:
            return cls(specs, clock=clock)
        del entries  # raised afresh without the key text among this frame's locals, as parse_entries does
        raise refusal

    @classmethod
    def from_environment(cls, variable: str, *, clock: Callable[[], float] = time.time) -> Keyring:
        """A keyring of the entries in the environment variable ``variable`` (see :meth:`from_entries`); a
        :class:`~tessarils_web.KeyConfigError` names the variable and the reason, never the key text."""
        return cls(entries_from_environment(variable), clock=clock)

    def __len__(self) -> int:
        return len(self._keys)

    def now(self) -> float:
        return self._clock()

    def seal(self, payload: bytes | str, *, purpose: str, ttl: Lifetime | None = None,
             expires_at: Instant | None = None) -> str:
        """Seals ``payload`` under the newest key; with neither ``ttl`` nor ``expires_at`` it never expires.

        ``purpose`` has no default: a default would be the module's, "session", the one the
        session integrations trust, and any payload sealed without a thought would open as a session.
        """
        data = payload.encode() if isinstance(payload, str) else payload
        moment = resolve(ttl=ttl, expires_at=expires_at, now=self._clock())
        try:
            return self._keys[0].box.encrypt(data, expires_at=moment, purpose=purpose)
        except ValueError as error:
            raise translate(error) from error

    def seal_json(self, value: Any, *, purpose: str, ttl: Lifetime | None = None,
                  expires_at: Instant | None = None) -> str:
        """Seals ``value`` as compact UTF-8 JSON (NaN and infinities refused), as :meth:`seal` does."""
        return self.seal(dumps(value), purpose=purpose, ttl=ttl, expires_at=expires_at)

    def open(self, token: str, *, purpose: str) -> Opened:
        """Opens ``token`` sealed for exactly ``purpose``; raises an :class:`~tessarils_web.errors.InvalidToken`.

        Only keys of the token's backend (told by its nonce's length) are
        asked, newest first. "The data has been modified" from one of them
        means another key sealed it, and the next is asked; any other refusal
        comes from the key that sealed it (expired, another purpose,
        malformed) and ends the search.
        """
        if not isinstance(token, str):
            raise TypeError("a token is a str")
        if not token.isascii():
            # Never valid, and text such as a lone surrogate from a JSON body is not even UTF-8:
            # the module would raise UnicodeEncodeError, which callers catching InvalidToken miss.
            raise MalformedToken("a token is ASCII text")
        nonce_chars = len(token.partition(".")[0])
        asked = [(index, key) for index, key in enumerate(self._keys) if key.nonce_chars == nonce_chars]
        last: ValueError | None = None
        for index, key in asked or [(0, self._keys[0])]:
            try:
                payload = key.box.decrypt_for(token, purpose)
            except ValueError as error:
                if str(error) != _NOT_THIS_KEY:
                    raise translate(error) from error
                last = error
                continue
            if key.state is KeyState.REVOKED:
                raise RevokedKey(f"sealed under key {index}, which is revoked")
            return Opened(payload, purpose, authenticated_expiry(token), index, key.backend, needs_reseal=index != 0)
        assert last is not None
        raise TamperedToken(str(last)) from last

    def open_json(self, token: str, *, purpose: str) -> tuple[Any, Opened]:
        """The token's JSON value and what :meth:`open` says of it.

        A payload that is not JSON is a bug of its writer, not a forged token:
        its ``json.JSONDecodeError`` propagates as itself.
        """
        opened = self.open(token, purpose=purpose)
        return opened.json(), opened

    def rotate(self, token: str, *, purpose: str) -> str:
        """The token sealed again under the newest key with the same expiry (never a longer one)."""
        opened = self.open(token, purpose=purpose)
        if not opened.needs_reseal:
            return token
        return self.reseal(opened)

    def reseal(self, opened: Opened) -> str:
        """Seals what ``opened`` holds under the newest key, keeping its purpose and its expiry."""
        try:
            return self._keys[0].box.encrypt(opened.payload, expires_at=opened.expires_at, purpose=opened.purpose)
        except ValueError as error:
            raise translate(error) from error


def authenticated_expiry(token: str) -> int | None:
    """The expiry in a token's context record.

    Call it only once the token has opened: before, nothing in the record is believed.
    """
    try:
        record = base64.urlsafe_b64decode(token.split(".")[1])
    except (binascii.Error, IndexError) as error:
        raise MalformedToken("context record unreadable") from error
    moment = int.from_bytes(record[1:9], "big")
    return moment or None
