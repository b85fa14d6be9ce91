"""Link tokens: password-reset and confirmation links with their own purpose and lifetime.

A link carries JSON claims. It can be bound to a piece of state (a password
hash, an e-mail address): only its digest is sealed, and the link stops
opening once that state changes. With a revocation store it can be consumed
once: the first :meth:`LinkTokens.consume` succeeds, every later one raises
:class:`~tessarils_web.errors.LinkAlreadyUsed`.
"""

from __future__ import annotations

import hashlib
import hmac
import secrets
from collections.abc import Callable, Mapping
from typing import Any

from .errors import InvalidToken, LinkAlreadyUsed, LinkInvalidated, MalformedToken
from .expiry import Lifetime, seconds
from .keyring import Keyring
from .revocation.store import RevocationStore
from .store_errors import OnStoreError, ask_store, check_policy

_CLAIMS, _BINDING, _LINK_ID = "c", "b", "i"
_BINDING_DOMAIN = b"tessarils-web link binding v1\x00"
# Clock difference allowed between the machine that sealed a link and the one that opens it.
_SKEW_SECONDS = 60
#: The state a link is bound to, or a function of its claims that looks it up (the account it names).
Binding = str | bytes | Callable[[dict[str, Any]], str | bytes | None] | None


def binding_digest(state: str | bytes) -> str:
    data = state.encode() if isinstance(state, str) else state
    return hashlib.sha256(_BINDING_DOMAIN + data).hexdigest()


class LinkTokens:
    """Seals and opens the links of one purpose, each lasting ``ttl``."""

    def __init__(self, keyring: Keyring, purpose: str, ttl: Lifetime, *, store: RevocationStore | None = None,
                 on_store_error: OnStoreError = "fail_closed") -> None:
        if purpose == "session":
            raise ValueError("links need a purpose of their own, not the sessions' 'session'")
        self.keyring = keyring
        self.purpose = purpose
        self.ttl = seconds(ttl)
        self.store = store
        self.on_store_error = check_policy(on_store_error)

    def seal(self, claims: Mapping[str, Any], *, bound_to: str | bytes | None = None) -> str:
        """A link token for ``claims``; with ``bound_to`` it opens only while that state is unchanged."""
        body: dict[str, Any] = {_CLAIMS: dict(claims), _LINK_ID: secrets.token_urlsafe(16)}
        if bound_to is not None:
            body[_BINDING] = binding_digest(bound_to)
        return self.keyring.seal_json(body, purpose=self.purpose, ttl=self.ttl)

    def open(self, token: str, *, bound_to: Binding = None) -> dict[str, Any]:
        """The claims of a link that is authentic, unexpired and, when bound, still bound to ``bound_to``.

        ``bound_to`` may be a function of the link's claims, called once they
        have authenticated, that returns the current state (None if gone).
        """
        body, _ = self._open(token, bound_to)
        claims: dict[str, Any] = body[_CLAIMS]
        return claims

    def consume(self, token: str, *, bound_to: Binding = None) -> dict[str, Any]:
        """Like :meth:`open`, but only once per link: needs a store."""
        if self.store is None:
            raise RuntimeError("consuming a link once needs a revocation store")
        store = self.store
        body, expires_at = self._open(token, bound_to)
        first = ask_store(lambda: store.consume_once(body[_LINK_ID], expires_at), policy=self.on_store_error,
                          open_answer=True, what=f"consuming a {self.purpose} link")
        if not first:
            raise LinkAlreadyUsed(f"this {self.purpose} link was used before")
        claims: dict[str, Any] = body[_CLAIMS]
        return claims

    def _open(self, token: str, binding: Binding) -> tuple[dict[str, Any], int]:
        body, opened = self.keyring.open_json(token, purpose=self.purpose)
        if not (isinstance(body, dict) and isinstance(body.get(_CLAIMS), dict) and _LINK_ID in body
                and opened.expires_at is not None):
            raise MalformedToken(f"not a {self.purpose} link")
        # The server sets the lifetime, not the token: shortening ttl shortens the links already sent.
        if opened.expires_at > self.keyring.now() + self.ttl + _SKEW_SECONDS:
            raise InvalidToken(f"this {self.purpose} link reaches further ahead than its lifetime of {self.ttl} s")
        # Looked up only now, from claims that authenticated.
        bound_to = binding(body[_CLAIMS]) if callable(binding) else binding
        sealed = body.get(_BINDING)
        if sealed is not None or bound_to is not None:
            if sealed is None or bound_to is None or not hmac.compare_digest(sealed, binding_digest(bound_to)):
                raise LinkInvalidated(f"the state this {self.purpose} link was bound to has changed")
        return body, opened.expires_at
