"""Typed errors: one ``ValueError`` subclass per kind of refusal.

The module reports every failure as a plain ``ValueError`` with one of a
fixed set of messages. :func:`translate` turns such an error into the
matching subclass here, chained to the original, so ``except ValueError``
keeps working and the module's text stays reachable as ``__cause__``.
"""

from __future__ import annotations


class TessarilsWebError(ValueError):
    """Base of every refusal this package raises."""


class InvalidToken(TessarilsWebError):
    """A token was refused. Tell the client only that it did not work; log the subclass."""


class TamperedToken(InvalidToken):
    """Authentication failed: the token was changed, or no listed key sealed it."""


class MalformedToken(InvalidToken):
    """The token is not one this module writes: bad base64, wrong shape, or a record it cannot read."""


class ExpiredToken(InvalidToken):
    """The token's authenticated expiry has passed."""


class WrongPurpose(InvalidToken):
    """The token was sealed for another purpose than the one asked for."""


class RevokedKey(InvalidToken):
    """The token was sealed under a key marked revoked: it opens nothing."""


class LinkAlreadyUsed(InvalidToken):
    """A one-time link was opened before."""


class LinkInvalidated(InvalidToken):
    """The state a link was bound to (a password hash, say) has changed since it was sealed."""


class PayloadTooLarge(TessarilsWebError):
    """The plaintext exceeds what a token carries."""


class InvalidPurpose(TessarilsWebError):
    """A purpose that is empty or longer than 255 UTF-8 bytes."""


class InvalidExpiry(TessarilsWebError):
    """An expiry or lifetime that cannot be right: past, naive, not finite, or in milliseconds."""


class KeyConfigError(TessarilsWebError):
    """Key configuration is wrong. The message names where and why, never the key text."""

    def __init__(self, source: str, reason: str) -> None:
        super().__init__(f"{source}: {reason}")
        self.source = source
        self.reason = reason


class RandomnessUnavailable(TessarilsWebError):
    """The operating system could not supply a nonce; nothing was sealed."""


# Every fixed message of the module, and the type it becomes. A test walks
# every message the module can raise against this table.
MESSAGE_TYPES: dict[str, type[TessarilsWebError]] = {
    "the data has been modified": TamperedToken,
    "invalid token": MalformedToken,
    "base64 is invalid": MalformedToken,
    "decrypted data was not valid UTF-8": MalformedToken,
    "token has expired": ExpiredToken,
    "token was not minted for the expected purpose": WrongPurpose,
    "plaintext exceeds the 16384-byte limit": PayloadTooLarge,
    "purpose must not be empty \u2014 pass None for the default instead": InvalidPurpose,
    "purpose exceeds the 255-byte limit": InvalidPurpose,
    "expires_at must be greater than zero \u2014 pass None for no expiry": InvalidExpiry,
    "the key or key_env must be passed": KeyConfigError,
    "the value of key_env is invalid": KeyConfigError,
    "key and key_env were both provided \u2014 pass exactly one": KeyConfigError,
    "operating system randomness is unavailable": RandomnessUnavailable,
}


def translate(error: ValueError) -> ValueError:
    """The typed error for one of the module's ``ValueError``s, chained to it.

    A message outside the table (the UTF-8 check of ``encrypt``'s input, or
    an error that is already typed) comes back unchanged.
    """
    if isinstance(error, TessarilsWebError):
        return error
    kind = MESSAGE_TYPES.get(str(error))
    if kind is None:
        return error
    typed = KeyConfigError("Tessaril", str(error)) if kind is KeyConfigError else kind(str(error))
    typed.__cause__ = error
    return typed
